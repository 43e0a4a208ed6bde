#include "controller/SdpAgentController.h"

#include "log/Log.h"

namespace talvern::sdp {

SdpAgentController::SdpAgentController(const SdpOption& option) : m_option(option) {
    OKV_LOG_INFO("controller for {} built", m_option.pluginDir);
}

SdpAgentController::~SdpAgentController() { stop(); }

bool SdpAgentController::start() {
    OKV_LOG_INFO("controller start");
    return true;
}

bool SdpAgentController::stop() {
    if (m_stopped) {
        return true;
    }
    m_stopped = true;
    OKV_LOG_INFO("controller stop");
    return true;
}

}  // namespace talvern::sdp
