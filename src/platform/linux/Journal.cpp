#include "platform/Journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Paths.h"

namespace talvern::platform {

bool standardErrorIsJournal() {
    // "<device>:<inode>" of the journal's stream; a child that inherited the variable but not the stream
    // does not match.
    const std::string stream = environment("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (stream.empty() || std::sscanf(stream.c_str(), "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat info {};
    return ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace talvern::platform
