#pragma once

#include <memory>

#include "app/service/QtServiceBase.h"

namespace cmdline {
class parser;
}

namespace talvern {

namespace sdp {
class SdpAgentController;
}

/// The agent as the system service "oKavelService".
class SdpService : public QtServiceBase {
public:
    SdpService(int argc, char** argv, std::shared_ptr<cmdline::parser> parser);
    ~SdpService() override;

    void start() override;
    void stop() override;

protected:
    /// The controller answers through its worker pool.
    bool alive(std::chrono::milliseconds limit) override;
    /// The launch's own parser decides, so that "-iu" means here what it meant when the mode was chosen.
    bool requested(const char* longName, const char* shortName) const override;

private:
    /// With the installer's marker present, this executable's children go with the service.
    void srvKillChildProc();

    std::shared_ptr<cmdline::parser> m_cmdParser;
    std::shared_ptr<sdp::SdpAgentController> m_sdpAgentController;
};

}  // namespace talvern
