#include "log/Check.h"

#include <boost/stacktrace.hpp>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "log/Log.h"

namespace talvern::check {
namespace {

struct Settings {
    std::mutex mutex;  // guards the streams and actions below
    std::ostream* reportStream = nullptr;
    std::istream* consoleInput = nullptr;
    std::function<void()> abortAction;
    std::function<void()> debugAction;
};

Settings& settings() {
    static Settings s;
    return s;
}

std::atomic<bool> g_ignoreAll{false};

std::string currentStack() {
    std::ostringstream out;
    out << boost::stacktrace::stacktrace(3, 64);
    return out.str();
}

void runAbort() {
    std::function<void()> action;
    {
        std::lock_guard lock(settings().mutex);
        action = settings().abortAction;
    }
    if (action) {
        action();
        return;
    }
    std::abort();
}

void runDebug() {
    std::function<void()> action;
    {
        std::lock_guard lock(settings().mutex);
        action = settings().debugAction;
    }
    if (action) {
        action();
        return;
    }
    std::raise(SIGTRAP);
}

void toStream(const std::string& report) {
    std::ostream* stream = nullptr;
    {
        std::lock_guard lock(settings().mutex);
        stream = settings().reportStream;
    }
    (stream ? *stream : std::cout) << report << std::endl;
}

void toStdout(const std::string& report) { std::cout << report << std::endl; }

void promptConsole(const std::string& report, CheckSite& site) {
    std::istream* input = nullptr;
    {
        std::lock_guard lock(settings().mutex);
        input = settings().consoleInput;
    }
    std::istream& in = input ? *input : std::cin;
    std::cerr << report
              << "\nPress (I)gnore/ Igore (F)orever/ Ignore (A)ll/ (D)ebug/ A(b)ort: " << std::flush;
    std::string answer;
    if (!std::getline(in, answer) || answer.empty()) {
        return;  // an unreadable console ignores
    }
    switch (answer.front()) {
        case 'F':
        case 'f':
            site.ignoredForever = true;
            break;
        case 'A':
        case 'a':
            g_ignoreAll = true;
            break;
        case 'D':
        case 'd':
            runDebug();
            break;
        case 'B':
        case 'b':
            std::cerr << "ENSURE failed\n" << report << std::endl;
            runAbort();
            break;
        default:
            break;  // (I)gnore and anything else: go on once
    }
}

}  // namespace

std::string buildReport(const char* expression, const char* file, unsigned line, const char* function,
                        const std::string& message, const std::string& stack) {
    std::string report = "basic information:\n";
    report += "Expression: '" + std::string(expression ? expression : "") + "' failed\n";
    report += "File: " + std::string(file ? file : "") + "\n";
    report += "Line: " + std::to_string(line) + "\n";
    report += "Function: " + std::string(function ? function : "") + "\n";
    report += "Message: " + message;
    if (!stack.empty()) {
        report += "\nstack:\n" + stack;
    }
    return report;
}

void fail(int level, CheckSite& site, const char* expression, const char* file, unsigned line,
          const char* function, const std::string& message) {
    if (site.ignoredForever || g_ignoreAll) {
        return;
    }
    std::string report = buildReport(expression, file, line, function, message, currentStack());
    std::string qualified = log::qualifiedFunctionName(function ? function : "");
    log::write(log::Level::critical, log::kDefaultTag, qualified.c_str(), line, report);
    switch (level) {
        case kLevelStream:
            toStream(report);
            break;
        case kLevelStdout:
            toStdout(report);
            break;
        case kLevelThrow:
            throw std::runtime_error(report);
        case kLevelEnsure:
            std::cerr << "ENSURE failed\n" << report << std::endl;
            runAbort();
            break;
        default:
            promptConsole(report, site);
            break;
    }
}

void setReportStream(std::ostream* stream) {
    std::lock_guard lock(settings().mutex);
    settings().reportStream = stream;
}

void setConsoleInput(std::istream* stream) {
    std::lock_guard lock(settings().mutex);
    settings().consoleInput = stream;
}

void setFatalActions(std::function<void()> abortAction, std::function<void()> debugAction) {
    std::lock_guard lock(settings().mutex);
    settings().abortAction = std::move(abortAction);
    settings().debugAction = std::move(debugAction);
}

void resetIgnoreAll() { g_ignoreAll = false; }

}  // namespace talvern::check
