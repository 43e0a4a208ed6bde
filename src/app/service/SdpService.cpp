#include "app/service/SdpService.h"

#include <filesystem>

#include "app/SdpParamAdaptor.h"
#include "app/cmdline/CmdlineParser.h"
#include "catalogue/MessageCatalogue.h"
#include "controller/SdpAgentController.h"
#include "log/Check.h"
#include "log/Log.h"
#include "platform/NamedLock.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "process/ProcessUtils.h"

namespace talvern {
namespace {

const char* const kServiceName = "oKavelService";
const char* const kInstallerMarker = "Global\\oKavelInst_{ADF9C3F5-EAD6-412B-84A5-EC05688C9914}";
constexpr std::int32_t kDescriptionMessage = 37;

}  // namespace

SdpService::SdpService(int argc, char** argv, std::shared_ptr<cmdline::parser> parser)
    : QtServiceBase(argc, argv, kServiceName), m_cmdParser(std::move(parser)) {
    setServiceDescription(utilities::getMessage(kDescriptionMessage));
    setStartupType(AutoStartup);
}

SdpService::~SdpService() = default;

void SdpService::start() {
    OKV_ENSURE(m_sdpAgentController == nullptr, "m_sdpAgentController should be null before start");
    auto adaptor = std::make_shared<sdp::SdpParamAdaptor>(m_cmdParser);
    OKV_LOG_INFO("SdpParamAdaptor parse parameter");
    if (!adaptor->parseParam()) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpParamAdaptor parse parameter fail", "invalid param");
    }
    OKV_LOG_INFO("sdpController ctor begin");
    m_sdpAgentController =
        std::make_shared<sdp::SdpAgentController>(static_cast<const sdp::SdpOption&>(*adaptor));
    OKV_LOG_INFO("sdpController ctor end");
    OKV_LOG_INFO("sdp controller start begin");
    if (!m_sdpAgentController->start()) {
        OKV_LOG_ERROR("{}{}", "sdp controller start fail", "");
        return;
    }
    OKV_LOG_INFO("sdp controller start end");
}

void SdpService::stop() {
    OKV_ENSURE(m_sdpAgentController != nullptr, "m_sdpAgentController can not be null");
    try {
        srvKillChildProc();
        OKV_LOG_INFO("sdp controller stop begin");
        m_sdpAgentController->stop();
        OKV_LOG_INFO("sdp controller stop end");
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("An exception occurred on SdpService::stop; Reason: {}", e.what());
    } catch (...) {
        OKV_LOG_ERROR("An error occurred on the SdpService::stop");
    }
}

bool SdpService::alive(std::chrono::milliseconds limit) {
    return m_sdpAgentController != nullptr && m_sdpAgentController->isAlive(limit);
}

bool SdpService::requested(const char* longName, const char*) const { return m_cmdParser->exist(longName); }

void SdpService::srvKillChildProc() {
    if (!platform::NamedLock::existsHeldByOther(kInstallerMarker)) {
        return;
    }
    OKV_LOG_INFO("oKavelService begin terminate children process.");
    std::string name = std::filesystem::path(platform::executablePath()).filename().string();
    if (name.empty()) {
        name = "oKavelAgent";
    }
    process::windows::killSameNameChildProc(name, static_cast<std::uint32_t>(platform::currentProcessId()));
}

}  // namespace talvern
