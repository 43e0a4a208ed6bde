#include "app/SdpApplicationService.h"

#include <systemd/sd-daemon.h>

#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>

#include "app/SdpAppCmdHelper.h"
#include "app/SdpParamAdaptor.h"
#include "app/cmdline/CmdlineParser.h"
#include "controller/SdpAgentController.h"
#include "log/Check.h"
#include "log/Log.h"
#include "platform/Signals.h"

namespace talvern {

SdpApplicationService::SdpApplicationService(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                                             std::function<int()> runLoop)
    : ISdpApplication(std::move(parser), argc, argv, std::move(runLoop)) {}

int SdpApplicationService::exec() {
    OKV_ENSURE(m_cmdParser != nullptr, "m_cmdLine can not be null");
    std::string joined;
    for (int i = 0; i < m_argc; ++i) {
        joined += std::string(i > 0 ? " " : "") + (m_argv[i] ? m_argv[i] : "");
    }
    OKV_LOG_INFO("service process:{}", joined);
    for (const auto& option : kServiceOptions) {
        if (m_cmdParser->exist(option.longName)) {
            std::cerr << "--" << option.longName << ": service control is not available in this build yet"
                      << std::endl;
            OKV_LOG_ERROR("--{} is not available in this build yet", option.longName);
            return -1;
        }
    }

    auto adaptor = std::make_shared<sdp::SdpParamAdaptor>(m_cmdParser);
    if (!adaptor->parseParam()) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpParamAdaptor parse parameter fail", "invalid param");
    }
    OKV_LOG_INFO("sdpController ctor begin");
    auto controller = std::make_shared<sdp::SdpAgentController>(static_cast<const sdp::SdpOption&>(*adaptor));
    OKV_LOG_INFO("sdpController ctor end");
    OKV_LOG_INFO("sdp controller start begin");
    if (!controller->start()) {
        OKV_LOG_ERROR("{}{}", "sdp controller start fail", "");
    } else {
        OKV_LOG_INFO("sdp controller start end");
    }
    sd_notify(0, "READY=1");

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopRequested = false;
    platform::SignalWaiter waiter;
    waiter.start([&](int signal) {
        if (signal == SIGTERM || signal == SIGINT) {
            std::lock_guard lock(mutex);
            stopRequested = true;
            stopped.notify_all();
        }
    });
    {
        std::unique_lock lock(mutex);
        stopped.wait(lock, [&] { return stopRequested; });
    }
    waiter.stop();
    sd_notify(0, "STOPPING=1");
    OKV_LOG_INFO("sdp controller stop begin");
    controller->stop();
    OKV_LOG_INFO("sdp controller stop end");
    return 0;
}

}  // namespace talvern
