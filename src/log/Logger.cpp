#include "log/Logger.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/sinks/systemd_sink.h>

#include <filesystem>

#include "platform/Journal.h"

namespace fs = std::filesystem;

namespace talvern {
namespace {

const char* const kDefaultPattern = "[%Y-%m-%d %H:%M:%S.%e] [%l] [%P:%t] %v";
constexpr std::size_t kRotatedFiles = 3;

std::shared_ptr<spdlog::logger> makeStderrLogger(const std::string& pattern) {
    auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    auto logger = std::make_shared<spdlog::logger>("okavel-default", sink);
    logger->set_pattern(pattern);
    logger->set_level(spdlog::level::warn);
    return logger;
}

}  // namespace

LogObject::LogObject()
    : m_logger(makeStderrLogger(kDefaultPattern)),
      m_pattern(kDefaultPattern),
      m_effectiveLevel(spdlog::level::warn) {}

LogObject::~LogObject() {
    try {
        if (auto logger = current()) {
            logger->flush();
        }
    } catch (...) {
        // nothing sensible is left to report to
    }
}

const LoggerOptions& LogObject::getOptions() const {
    std::lock_guard lock(m_mutex);
    return m_options;
}

std::shared_ptr<spdlog::logger> LogObject::current() const {
    std::lock_guard lock(m_mutex);
    return m_logger;
}

void LogObject::setOptions(LoggerOptions& options) {
    fs::path file(options.filePath);
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path());
    }
    std::vector<spdlog::sink_ptr> sinks;
    if (options.mode == 2) {
        sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            options.filePath, options.maxFileSize, kRotatedFiles));
    } else {
        sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(options.filePath));
    }
    if (options.consoleOutput) {
        // Under systemd the journal takes them with their priorities, instead of as plain output lines.
        spdlog::sink_ptr console;
        if (platform::standardErrorIsJournal()) {
            console = std::make_shared<spdlog::sinks::systemd_sink_mt>("oKavelAgent");
        } else {
            console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
        }
        console->set_level(spdlog::level::warn);
        sinks.push_back(console);
    }
    auto logger = std::make_shared<spdlog::logger>("okavel", sinks.begin(), sinks.end());
    {
        std::lock_guard lock(m_mutex);
        logger->set_pattern(m_pattern);
        logger->flush_on(options.flushEveryLine ? spdlog::level::trace : spdlog::level::warn);
        m_options = options;
        if (m_logger) {
            m_logger->flush();
        }
        m_logger = std::move(logger);
    }
    openOrCloseDebugLogByMarkFile();
}

void LogObject::applyLevel(bool debugOn) {
    std::lock_guard lock(m_mutex);
    int level = m_options.level;
    if (debugOn && level > spdlog::level::debug) {
        level = spdlog::level::debug;
    }
    m_effectiveLevel.store(level, std::memory_order_relaxed);
    m_logger->set_level(static_cast<spdlog::level::level_enum>(level));
}

void LogObject::openOrCloseDebugLogByMarkFile() {
    std::string mark;
    {
        std::lock_guard lock(m_mutex);
        mark = m_options.debugMarkPath;
    }
    std::error_code ec;
    bool debugOn = !mark.empty() && fs::exists(mark, ec);
    applyLevel(debugOn);
}

void LogObject::initLogNameWithDir(const std::string& name, const std::string& dir, bool consoleOutput,
                                   bool flushEveryLine) {
    fs::create_directories(dir);
    LoggerOptions options = getOptions();
    options.filePath = (fs::path(dir) / name).string();
    options.consoleOutput = consoleOutput;
    options.flushEveryLine = flushEveryLine;
    setOptions(options);
}

void LogObject::setPattern(const std::string& pattern) {
    std::lock_guard lock(m_mutex);
    m_pattern = pattern;
    m_logger->set_pattern(pattern);
}

bool LogObject::shouldLog(spdlog::level::level_enum level) const noexcept {
    return static_cast<int>(level) >= m_effectiveLevel.load(std::memory_order_relaxed);
}

void LogObject::log(spdlog::level::level_enum level, const char* tag, const char* function, unsigned line,
                    const char* message) {
    auto logger = current();
    logger->log(level, "[{}] [{}:{}] {}", tag ? tag : "Tag null", function ? function : "", line,
                message ? message : "");
}

void LogObject::flush() { current()->flush(); }

Logger& Logger::GetInstance() {
    static Logger instance;
    return instance;
}

Logger* Logger::GetInstancePtr() { return &GetInstance(); }

CustomLogger& CustomLogger::GetInstance() {
    static CustomLogger instance;
    return instance;
}

}  // namespace talvern
