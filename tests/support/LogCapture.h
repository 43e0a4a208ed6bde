#pragma once

// Test helper: sends the main logger to a fresh file in a temporary directory, at every level, and reads
// back what was written. Lines look like "[time] [level] [pid:tid] [tag] [function:line] message".
// The logger is process-wide, so one capture is active at a time.

#include <initializer_list>
#include <sstream>
#include <string>

#include "log/Logger.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace talvern::test {

class LogCapture {
public:
    LogCapture() { logTo(m_file, 0); }
    // Back to a quiet file before the directory goes away.
    ~LogCapture() { logTo(m_dir.path() / "after.log", LoggerOptions{}.level); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// Everything written since the capture began.
    std::string text() const {
        Logger::GetInstance().flush();
        return readFile(m_file);
    }

    /// How many lines contain the fragment.
    int count(const std::string& fragment) const { return count({fragment}); }

    /// How many lines contain every one of the fragments.
    int count(std::initializer_list<std::string> fragments) const {
        std::istringstream lines(text());
        int found = 0;
        for (std::string line; std::getline(lines, line);) {
            bool all = true;
            for (const std::string& fragment : fragments) {
                all = all && line.find(fragment) != std::string::npos;
            }
            found += all ? 1 : 0;
        }
        return found;
    }

    bool contains(const std::string& fragment) const { return count(fragment) > 0; }

    /// True when some line holds every one of the given pieces.
    template <typename... Pieces>
    bool hasLine(const Pieces&... pieces) const {
        return count({std::string(pieces)...}) > 0;
    }

private:
    static void logTo(const std::filesystem::path& file, int level) {
        LoggerOptions options;
        options.filePath = file.string();
        options.mode = 1;
        options.level = level;
        options.debugMarkPath.clear();
        Logger::GetInstance().setOptions(options);
    }

    TempDir m_dir;
    std::filesystem::path m_file = m_dir.path() / "test.log";
};

}  // namespace talvern::test
