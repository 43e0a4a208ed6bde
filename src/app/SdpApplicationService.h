#pragma once

#include <functional>
#include <memory>

#include "app/ISdpApplication.h"

namespace talvern {

/// Service mode: runs the agent in the foreground under systemd until SIGTERM or SIGINT.
/// Installing, removing and stopping the unit come with the service host; until then those
/// commands report that they are not available.
class SdpApplicationService : public ISdpApplication {
public:
    SdpApplicationService(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                          std::function<int()> runLoop);
    int exec() override;
    bool start() override { return false; }
    bool stop() override { return false; }
};

}  // namespace talvern
