#pragma once

#include <spdlog/common.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace spdlog {
class logger;
}

namespace talvern {

/// The settings of one log object.
struct LoggerOptions {
    std::string filePath = "oKavel.log";
    int mode = 2;                        ///< 1: one plain file; 2: rotating files
    std::size_t maxFileSize = 20971520;  ///< bytes before the file rotates (20 MiB)
    int level = 1;               ///< lowest level written (spdlog numbering) while the debug mark is absent
    bool consoleOutput = false;  ///< also copy warnings and errors to standard error
    bool flushEveryLine = true;  ///< flush after each line instead of only on warnings
    std::string debugMarkPath = "debug";  ///< while this file exists, debug lines are written too
};

/// One log destination: a file configured by LoggerOptions, with a level and a debug mark.
/// Until options are set, warnings and errors go to standard error and the rest is dropped.
class LogObject {
public:
    LogObject();
    virtual ~LogObject();
    LogObject(const LogObject&) = delete;
    LogObject& operator=(const LogObject&) = delete;

    /// The options last applied.
    const LoggerOptions& getOptions() const;
    /// Applies new options: opens the file (creating its directory) and re-reads the debug mark.
    void setOptions(LoggerOptions& options);
    /// Writes one already formatted line. Throws what spdlog throws.
    void log(spdlog::level::level_enum level, const char* tag, const char* function, unsigned line,
             const char* message);
    /// Every pending line reaches the file.
    void flush();
    /// Turns debug lines on while the debug mark exists, off otherwise.
    void openOrCloseDebugLogByMarkFile();
    /// Configures the file "dir/name", creating dir.
    void initLogNameWithDir(const std::string& name, const std::string& dir, bool consoleOutput,
                            bool flushEveryLine);
    /// The spdlog pattern of the lines.
    void setPattern(const std::string& pattern);
    /// True when a line of this level is written now.
    bool shouldLog(spdlog::level::level_enum level) const noexcept;

private:
    std::shared_ptr<spdlog::logger> current() const;
    void applyLevel(bool debugOn);

    mutable std::mutex m_mutex;  // guards the options, the spdlog logger and the pattern
    LoggerOptions m_options;
    std::shared_ptr<spdlog::logger> m_logger;
    std::string m_pattern;
    std::atomic<int> m_effectiveLevel;
};

/// The process-wide main logger.
class Logger : public LogObject {
public:
    static Logger& GetInstance();
    static Logger* GetInstancePtr();

private:
    Logger() = default;
};

/// The second process-wide logger.
class CustomLogger : public LogObject {
public:
    static CustomLogger& GetInstance();

private:
    CustomLogger() = default;
};

/// A separately configured log file, such as the signal log.
class IndependentLogObj : public LogObject {
public:
    IndependentLogObj() = default;
    ~IndependentLogObj() override = default;
};

}  // namespace talvern
