#include "app/SdpApplicationService.h"

#include "app/service/SdpService.h"
#include "log/Check.h"
#include "log/Log.h"

namespace talvern {

SdpApplicationService::SdpApplicationService(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                                             std::function<int()> runLoop)
    : ISdpApplication(std::move(parser), argc, argv, std::move(runLoop)) {}

SdpApplicationService::~SdpApplicationService() = default;

int SdpApplicationService::exec() {
    OKV_ENSURE(m_cmdParser != nullptr, "m_cmdLine can not be null");
    OKV_ENSURE(m_sdpService == nullptr, "m_sdpService should be null");
    std::string joined;
    for (int i = 0; i < m_argc; ++i) {
        joined += std::string(i > 0 ? " " : "") + (m_argv[i] ? m_argv[i] : "");
    }
    OKV_LOG_INFO("service process:{}", joined);
    m_sdpService = std::make_shared<SdpService>(m_argc, m_argv, m_cmdParser);
    return m_sdpService->exec();
}

}  // namespace talvern
