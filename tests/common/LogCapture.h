#pragma once

// Points the main logger at a fresh file for the life of the object, at trace level, and reads back
// what was written. Lines look like "[time] [level] [pid:tid] [tag] [function:line] message".

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/Logger.h"

namespace talvern::testing {

class LogCapture {
public:
    LogCapture() {
        static std::atomic<int> counter{0};
        m_path =
            (std::filesystem::temp_directory_path() /
             ("okavel-logcapture-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log"))
                .string();
        LoggerOptions options;
        options.filePath = m_path;
        options.mode = 1;
        options.level = 0;
        options.flushEveryLine = true;
        options.debugMarkPath.clear();
        Logger::GetInstance().setOptions(options);
    }
    ~LogCapture() {
        // Back to the quiet default before the file goes away.
        LoggerOptions options;
        options.filePath = m_path + ".after";
        options.mode = 1;
        options.debugMarkPath.clear();
        Logger::GetInstance().setOptions(options);
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
        std::filesystem::remove(m_path + ".after", ec);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const {
        Logger::GetInstance().flush();
        std::ifstream in(m_path);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    /// True when some line holds every one of the given pieces.
    template <typename... Pieces>
    bool hasLine(const Pieces&... pieces) const {
        std::istringstream lines(text());
        for (std::string line; std::getline(lines, line);) {
            if ((... && (line.find(pieces) != std::string::npos))) {
                return true;
            }
        }
        return false;
    }

private:
    std::string m_path;
};

}  // namespace talvern::testing
