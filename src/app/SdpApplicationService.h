#pragma once

#include <functional>
#include <memory>

#include "app/ISdpApplication.h"

namespace talvern {

class SdpService;

/// Service mode: hands the command line to the service host (run, install, uninstall or terminate).
class SdpApplicationService : public ISdpApplication {
public:
    SdpApplicationService(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                          std::function<int()> runLoop);
    ~SdpApplicationService() override;
    int exec() override;
    // The service host drives start and stop itself.
    bool start() override { return false; }
    bool stop() override { return false; }

private:
    std::shared_ptr<SdpService> m_sdpService;
};

}  // namespace talvern
