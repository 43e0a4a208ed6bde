#pragma once

#include <functional>
#include <memory>

#include "app/ISdpApplication.h"

namespace talvern {

namespace sdp {
class SdpAgentController;
}
namespace platform {
class SignalWatcher;
}

/// Console mode: builds the agent from the command line, starts it, runs the loop until told to stop,
/// stops it once, and reports process signals in the signal log.
class SdpApplicationConsole : public ISdpApplication {
public:
    SdpApplicationConsole(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                          std::function<int()> runLoop);
    ~SdpApplicationConsole() override;

    int exec() override;
    bool start() override;
    int run();
    bool stop() override;

    /// Reports one process signal: SIGINT and SIGBREAK are logged with the stack; SIGTERM ends the
    /// process with status 0 and SIGABRT with -1.
    static void handleSignal(int signal);

private:
    struct IoService;
    struct SignalSet;

    std::shared_ptr<sdp::SdpAgentController> m_sdpController;
    std::shared_ptr<IoService> m_ioService;
    std::shared_ptr<SignalSet> m_signalSet;
    std::unique_ptr<platform::SignalWatcher> m_signalWatcher;
    bool m_stopped = false;
};

}  // namespace talvern
