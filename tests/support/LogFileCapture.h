#pragma once

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "log/Logger.h"
#include "support/TempDir.h"

namespace okavel::test {

/// Points the main logger at a file of its own for the life of the object, so that a test can read what
/// was logged. `level` is the lowest level written (spdlog numbering: 1 debug, 2 info, 3 warning).
class LogFileCapture {
public:
    explicit LogFileCapture(int level = 2) {
        talvern::LoggerOptions options;
        options.filePath = (m_dir / "captured.log").string();
        options.mode = 1;
        options.level = level;
        options.flushEveryLine = true;
        options.debugMarkPath = (m_dir / "no-debug-mark").string();
        talvern::Logger::GetInstance().setOptions(options);
    }

    /// Everything logged so far.
    std::string text() const {
        talvern::Logger::GetInstance().flush();
        std::ifstream in(m_dir / "captured.log");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    /// How many times `needle` was logged.
    std::size_t count(const std::string& needle) const {
        const std::string all = text();
        std::size_t found = 0;
        for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) {
            ++found;
        }
        return found;
    }

    bool contains(const std::string& needle) const { return count(needle) > 0; }

private:
    TempDir m_dir;
};

}  // namespace okavel::test
