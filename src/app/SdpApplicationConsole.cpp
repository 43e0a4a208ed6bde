#include "app/SdpApplicationConsole.h"

#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/stacktrace.hpp>

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <sstream>

#include "app/SdpParamAdaptor.h"
#include "app/SignalLog.h"
#include "controller/SdpAgentController.h"
#include "log/Check.h"
#include "log/Log.h"
#include "log/Logger.h"
#include "platform/SignalWatcher.h"
#include "platform/Signals.h"
#include "process/ProcessUtils.h"

namespace talvern {

struct SdpApplicationConsole::IoService {
    boost::asio::io_context context;
};

struct SdpApplicationConsole::SignalSet {
    explicit SignalSet(boost::asio::io_context& context) : set(context) {}
    boost::asio::signal_set set;
};

namespace {

std::string currentStack() {
    std::ostringstream out;
    out << boost::stacktrace::stacktrace();
    return out.str();
}

void logSignal(const char* format, const std::string& stack) {
    try {
        IndependentLogObj& log = signalLog();
        std::string line = fmt::format(fmt::runtime(format), stack);
        log.log(spdlog::level::info, log::kDefaultTag, "talvern::SdpApplicationConsole::handleSignal",
                __LINE__, line.c_str());
        log.flush();
    } catch (const std::exception& e) {
        std::cerr << "[" << log::kDefaultTag << ":talvern::SdpApplicationConsole::handleSignal:" << __LINE__
                  << "]: " << e.what() << std::endl;
    }
}

// Ends this process at once with the given status, after the signal log reached its file.
void endProcess(int status) {
    try {
        signalLog().flush();
    } catch (...) {
    }
    std::cout.flush();
    process::windows::killProcess(static_cast<std::uint32_t>(::getpid()), status);
}

}  // namespace

SdpApplicationConsole::SdpApplicationConsole(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                                             std::function<int()> runLoop)
    : ISdpApplication(std::move(parser), argc, argv, std::move(runLoop)) {
    OKV_ENSURE(m_cmdParser != nullptr, "invalid process arg");
    auto adaptor = std::make_shared<sdp::SdpParamAdaptor>(m_cmdParser);
    OKV_LOG_INFO("SdpParamAdaptor parse parameter");
    if (!adaptor->parseParam()) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpParamAdaptor parse parameter fail", "invalid param");
    }
    OKV_LOG_INFO("sdpController ctor begin");
    m_sdpController = std::make_shared<sdp::SdpAgentController>(static_cast<const sdp::SdpOption&>(*adaptor));
    OKV_LOG_INFO("sdpController ctor end");

    OKV_LOG_INFO("set io service signal");
    m_ioService = std::make_shared<IoService>();
    signalLog();
    OKV_LOG_INFO("init signal log finish");

    if (!m_runLoop) {
        m_signalSet = std::make_shared<SignalSet>(m_ioService->context);
        for (int signal : {SIGINT, SIGQUIT, SIGABRT}) {
            boost::system::error_code ec;
            m_signalSet->set.add(signal, ec);
            if (ec) {
                std::cerr << "[" << log::kDefaultTag << ":" << __PRETTY_FUNCTION__ << ":" << __LINE__
                          << "]: " << ec.message() << std::endl;
            }
        }
        m_signalSet->set.async_wait([](const boost::system::error_code& ec, int signal) {
            if (!ec) {
                handleSignal(signal);
            }
        });
    } else {
        m_signalWatcher = std::make_unique<platform::SignalWatcher>(
            std::vector<int>{SIGINT, SIGTERM, SIGQUIT, SIGABRT}, &SdpApplicationConsole::handleSignal);
        std::error_code ec;
        if (!m_signalWatcher->start(ec)) {
            OKV_LOG_ERROR("signals cannot be watched; Reason: {}", ec.message());
        }
    }
}

SdpApplicationConsole::~SdpApplicationConsole() {
    m_signalWatcher.reset();
    OKV_LOG_INFO("sigset dtor begin");
    m_signalSet.reset();
    OKV_LOG_INFO("sigset dtor end");
    OKV_LOG_INFO("io service dtor begin");
    m_ioService.reset();
    OKV_LOG_INFO("io service dtor end");
    OKV_LOG_INFO("sdpController dtor begin");
    m_sdpController.reset();
    OKV_LOG_INFO("sdpController dtor end");
}

int SdpApplicationConsole::exec() {
    if (!start()) {
        return 4;
    }
    int result = run();
    stop();
    try {
        Logger::GetInstance().flush();
    } catch (...) {
    }
    return result;
}

bool SdpApplicationConsole::start() {
    OKV_LOG_INFO("sdp controller start begin");
    if (!m_sdpController->start()) {
        OKV_LOG_ERROR("{}{}", "sdp controller start fail", "");
        return false;
    }
    OKV_LOG_INFO("sdp controller start end");
    return true;
}

int SdpApplicationConsole::run() {
    if (m_runLoop) {
        OKV_LOG_INFO("loop exec func begin");
        int result = m_runLoop();
        OKV_LOG_INFO("loop exec func end");
        return result;
    }
    OKV_LOG_INFO("io service run begin");
    // Signals are blocked in every thread; this one takes them while the loop runs.
    platform::unblockAgentSignals();
    try {
        m_ioService->context.run();
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("io service run failed; Reason: {}", e.what());
    }
    platform::blockAgentSignals();
    OKV_LOG_INFO("io service run end");
    return 0;
}

bool SdpApplicationConsole::stop() {
    if (m_stopped) {
        return true;
    }
    OKV_LOG_INFO("sdp controller stop begin");
    m_sdpController->stop();
    OKV_LOG_INFO("sdp controller stop end");
    m_stopped = true;
    return true;
}

void SdpApplicationConsole::handleSignal(int signal) {
    switch (signal) {
        case SIGINT:
            logSignal("SIGINT,stack:\n {}", currentStack());
            std::cout << "SIGINT" << std::endl;
            return;
        case SIGQUIT:  // the console break
            logSignal("SIGBREAK,stack:\n {}", currentStack());
            std::cout << "SIGBREAK" << std::endl;
            return;
        case SIGTERM:
            logSignal("SIGTERM,stack:\n {}", currentStack());
            std::cout << "SIGTERM" << std::endl;
            endProcess(0);
            return;
        case SIGABRT:
            logSignal("SIGABRT,then we will exit with -1, stack:\n {}", currentStack());
            std::cout << "SIGABRT" << std::endl;
            endProcess(-1);
            return;
        default:
            std::cout << platform::signalName(signal) << std::endl;
            return;
    }
}

}  // namespace talvern
