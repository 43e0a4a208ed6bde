#include "log/CrashDump.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <boost/stacktrace/safe_dump_to.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "log/Log.h"
#include "platform/Paths.h"
#include "platform/ThreadSignalStack.h"

namespace fs = std::filesystem;

namespace talvern {
namespace {

constexpr std::size_t kKeptDumps = 5;
constexpr std::size_t kPathMax = 4096;
constexpr const char* kDumpPathMark = "Talvern/oKavel/Dump";
constexpr std::size_t kOffsetChanges = 32;
constexpr int kOffsetDays = 5 * 366;

// Everything the handler needs, prepared before any crash so that the handler itself only makes
// async-signal-safe calls.
struct CrashSettings {
    char dumpDir[kPathMax] = {};
    char prefix[256] = {};
    char fullModeMark[kPathMax] = {};
    // The local time's offsets for years ahead, so that a dump named after a daylight-saving change
    // still carries the local time of the crash.
    UtcOffsetChange utcOffsets[kOffsetChanges] = {};
    std::size_t utcOffsetCount = 0;
};

CrashSettings g_settings;
std::atomic<bool> g_crashing{false};

// --- async-signal-safe helpers ----------------------------------------------------------------

class SafeBuffer {
public:
    SafeBuffer(char* data, std::size_t size) : m_data(data), m_size(size) { m_data[0] = '\0'; }
    void append(const char* text) {
        while (*text != '\0' && m_length + 1 < m_size) {
            m_data[m_length++] = *text++;
        }
        m_data[m_length] = '\0';
    }
    void appendNumber(unsigned long value, int base = 10, int minDigits = 1) {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % static_cast<unsigned>(base)];
            value /= static_cast<unsigned>(base);
        } while (value != 0 && n < 32);
        while (n < minDigits && n < 32) {
            digits[n++] = '0';
        }
        while (n > 0 && m_length + 1 < m_size) {
            m_data[m_length++] = digits[--n];
        }
        m_data[m_length] = '\0';
    }
    const char* c_str() const { return m_data; }
    std::size_t size() const { return m_length; }

private:
    char* m_data;
    std::size_t m_size;
    std::size_t m_length = 0;
};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void writeText(int fd, const char* text) { writeAll(fd, text, std::strlen(text)); }

void makeDirectories(const char* path) {
    char partial[kPathMax];
    std::size_t length = std::strlen(path);
    if (length >= kPathMax) {
        return;
    }
    for (std::size_t i = 1; i <= length; ++i) {
        if (path[i] == '/' || path[i] == '\0') {
            std::memcpy(partial, path, i);
            partial[i] = '\0';
            ::mkdir(partial, 0755);
        }
    }
}

bool isDirectoryEntry(const char* dir, const char* name, unsigned char type) {
    if (type != DT_UNKNOWN) {
        return type == DT_DIR;
    }
    char path[kPathMax];
    SafeBuffer full(path, sizeof(path));
    full.append(dir);
    full.append(name);
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Calls visit(name, type) for every entry of dir until it returns false.
template <typename Visit>
void forEachEntry(const char* dir, Visit visit) {
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    alignas(8) char buffer[8192];
    for (;;) {
        long n = ::syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
        if (n <= 0) {
            break;
        }
        for (long offset = 0; offset < n;) {
            auto* entry = reinterpret_cast<LinuxDirent64*>(buffer + offset);
            offset += entry->d_reclen;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            if (!visit(entry->d_name, entry->d_type)) {
                ::close(fd);
                return;
            }
        }
    }
    ::close(fd);
}

// Leaves fewer than five files (not directories) in the dump directory, deleting in listing order.
void pruneForNewDump(const char* dir) {
    std::size_t files = 0;
    forEachEntry(dir, [&](const char* name, unsigned char type) {
        if (!isDirectoryEntry(dir, name, type)) {
            ++files;
        }
        return true;
    });
    if (files < kKeptDumps) {
        return;
    }
    forEachEntry(dir, [&](const char* name, unsigned char type) {
        if (files < kKeptDumps) {
            return false;
        }
        if (isDirectoryEntry(dir, name, type)) {
            return true;
        }
        char path[kPathMax];
        SafeBuffer full(path, sizeof(path));
        full.append(dir);
        full.append(name);
        if (std::strstr(full.c_str(), kDumpPathMark) != nullptr && ::unlink(full.c_str()) == 0) {
            --files;
        }
        return true;
    });
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(long days, int& year, int& month, int& day) {
    days += 719468;
    long era = (days >= 0 ? days : days - 146096) / 146097;
    long doe = days - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

DumpTime localNowSafe() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    long seconds = static_cast<long>(now.tv_sec) +
                   utcOffsetAt(g_settings.utcOffsets, g_settings.utcOffsetCount, now.tv_sec);
    long days = seconds / 86400;
    long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    DumpTime t{};
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return t;
}

void appendDumpName(SafeBuffer& out, const char* prefix, const DumpTime& t) {
    if (prefix[0] != '\0') {
        out.append(prefix);
        out.append("_");
    }
    // "%d" for the year past 2000, two digits for the rest, three for milliseconds.
    out.appendNumber(static_cast<unsigned long>(t.year - 2000));
    const int fields[] = {t.month, t.day, t.hour, t.minute, t.second};
    for (int field : fields) {
        out.append(".");
        out.appendNumber(static_cast<unsigned long>(field), 10, 2);
    }
    out.append(".");
    out.appendNumber(static_cast<unsigned long>(t.millisecond), 10, 3);
    out.append(".dmp");
}

void copyFile(int out, const char* path) {
    int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        writeAll(out, buffer, static_cast<std::size_t>(n));
    }
    ::close(in);
}

void writeDump(int signal, siginfo_t* info) {
    makeDirectories(g_settings.dumpDir);
    pruneForNewDump(g_settings.dumpDir);

    char path[kPathMax];
    SafeBuffer file(path, sizeof(path));
    file.append(g_settings.dumpDir);
    appendDumpName(file, g_settings.prefix, localNowSafe());
    bool fullMode = g_settings.fullModeMark[0] != '\0' && ::access(g_settings.fullModeMark, F_OK) == 0;

    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    char line[512];
    SafeBuffer header(line, sizeof(line));
    header.append("oKavelAgent crash dump\nmode: ");
    header.append(fullMode ? "full\n" : "normal\n");
    header.append("pid: ");
    header.appendNumber(static_cast<unsigned long>(::getpid()));
    header.append("\nthread: ");
    header.appendNumber(static_cast<unsigned long>(::syscall(SYS_gettid)));
    header.append("\nsignal: ");
    header.appendNumber(static_cast<unsigned long>(signal));
    header.append("\ncode: ");
    header.appendNumber(static_cast<unsigned long>(info ? info->si_code : 0));
    header.append("\naddress: 0x");
    header.appendNumber(reinterpret_cast<unsigned long>(info ? info->si_addr : nullptr), 16);
    header.append("\nstack:\n");
    writeAll(fd, header.c_str(), header.size());

    void* frames[128];
    std::size_t count = boost::stacktrace::safe_dump_to(frames, sizeof(frames));
    for (std::size_t i = 0; i < count && i < 128; ++i) {
        char frameText[64];
        SafeBuffer frame(frameText, sizeof(frameText));
        frame.append("0x");
        frame.appendNumber(reinterpret_cast<unsigned long>(frames[i]), 16);
        frame.append("\n");
        writeAll(fd, frame.c_str(), frame.size());
    }
    // The memory map lets the raw frames be symbolised later; full mode keeps it.
    if (fullMode) {
        writeText(fd, "maps:\n");
        copyFile(fd, "/proc/self/maps");
    }
    ::fsync(fd);
    ::close(fd);
}

void crashHandler(int signal, siginfo_t* info, void*) {
    if (g_crashing.exchange(true)) {
        // Another thread is already writing the dump; it ends the process.
        for (;;) {
            ::pause();
        }
    }
    writeDump(signal, info);
    ::_exit(0);
}

void copyInto(char* target, std::size_t size, const std::string& text) {
    std::size_t n = std::min(size - 1, text.size());
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

}  // namespace

std::string dumpFileName(const std::string& prefix, const DumpTime& time) {
    char buffer[512];
    SafeBuffer out(buffer, sizeof(buffer));
    appendDumpName(out, prefix.c_str(), time);
    return out.c_str();
}

std::vector<UtcOffsetChange> utcOffsetChanges(std::int64_t from, int days,
                                              const std::function<long(std::int64_t)>& offsetAt) {
    constexpr std::int64_t kStep = 6 * 3600;
    std::vector<UtcOffsetChange> changes{{from, offsetAt(from)}};
    const std::int64_t end = from + static_cast<std::int64_t>(days) * 86400;
    for (std::int64_t before = from; before < end; before += kStep) {
        const std::int64_t after = before + kStep;
        if (offsetAt(after) == changes.back().offsetSeconds) {
            continue;
        }
        // The first second of the new offset lies in (low, high].
        std::int64_t low = before;
        std::int64_t high = after;
        while (high - low > 1) {
            const std::int64_t middle = low + (high - low) / 2;
            (offsetAt(middle) == changes.back().offsetSeconds ? low : high) = middle;
        }
        changes.push_back({high, offsetAt(high)});
    }
    return changes;
}

long utcOffsetAt(const UtcOffsetChange* changes, std::size_t count, std::int64_t at) {
    long offset = count > 0 ? changes[0].offsetSeconds : 0;
    for (std::size_t i = 1; i < count && changes[i].since <= at; ++i) {
        offset = changes[i].offsetSeconds;
    }
    return offset;
}

std::string dumpDirectoryFor(const char* argv0) {
    std::string stem = fs::path(argv0 ? argv0 : "").stem().string();
    return platform::dumpBaseDir() + stem + "/";
}

std::string dumpPrefixFor(int argc, char** argv) {
    if (argc <= 2 || argv == nullptr || argv[2] == nullptr) {
        return {};
    }
    std::string value = argv[2];
    std::size_t slash = value.rfind('/');
    return slash == std::string::npos ? std::string() : value.substr(slash + 1);
}

void adjustDumpFiles(const std::string& dumpDir) {
    std::error_code ec;
    if (!fs::is_directory(dumpDir, ec)) {
        return;
    }
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    for (const auto& entry : fs::directory_iterator(dumpDir, ec)) {
        std::error_code entryEc;
        if (!entry.is_regular_file(entryEc)) {
            continue;
        }
        fs::permissions(entry.path(),
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::group_write | fs::perms::others_read | fs::perms::others_write,
                        entryEc);
        if (entryEc) {
            OKV_LOG_WARN(
                "Change file permissions '{}' failed, the subsequent deletion operation may fail ; Reason: "
                "code: {}, "
                "message:{}",
                entry.path().string(), entryEc.value(), entryEc.message());
        }
        files.emplace_back(entry.last_write_time(entryEc), entry.path());
    }
    if (files.size() <= kKeptDumps) {
        return;
    }
    std::sort(files.begin(), files.end());
    std::size_t remaining = files.size();
    for (const auto& [time, path] : files) {
        if (remaining <= kKeptDumps) {
            break;
        }
        std::error_code removeEc;
        if (!fs::remove(path, removeEc) || removeEc) {
            OKV_LOG_ERROR("remove file '{}' failed.; Reason: code: {}, message:{}", path.string(),
                          removeEc.value(), removeEc.message());
        }
        --remaining;  // a file that could not be deleted counts as dealt with all the same
    }
}

bool installCrashHandler(int argc, char** argv) {
    copyInto(g_settings.dumpDir, sizeof(g_settings.dumpDir),
             dumpDirectoryFor(argc > 0 && argv != nullptr ? argv[0] : ""));
    copyInto(g_settings.prefix, sizeof(g_settings.prefix), dumpPrefixFor(argc, argv));
    copyInto(g_settings.fullModeMark, sizeof(g_settings.fullModeMark),
             platform::dumpBaseDir() + "debug/debug");
    auto offsets = utcOffsetChanges(std::time(nullptr), kOffsetDays, [](std::int64_t at) {
        std::time_t moment = static_cast<std::time_t>(at);
        struct tm local {};
        return ::localtime_r(&moment, &local) != nullptr ? local.tm_gmtoff : 0L;
    });
    g_settings.utcOffsetCount = std::min(offsets.size(), kOffsetChanges);
    std::copy_n(offsets.begin(), g_settings.utcOffsetCount, g_settings.utcOffsets);

    // This thread's stack; every other thread of the agent installs its own when it starts.
    platform::installThreadSignalStack();

    struct sigaction action {};
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        ok = ::sigaction(signal, &action, nullptr) == 0 && ok;
    }
    return ok;
}

}  // namespace talvern
