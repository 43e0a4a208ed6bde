#pragma once

#include <memory>

#include "controller/SdpOption.h"

namespace talvern::sdp {

/// The agent (interim shell: builds and starts nothing yet).
class SdpAgentController : public std::enable_shared_from_this<SdpAgentController> {
public:
    explicit SdpAgentController(const SdpOption& option);
    ~SdpAgentController();
    bool start();
    bool stop();

private:
    SdpOption m_option;
    bool m_stopped = false;
};

}  // namespace talvern::sdp
