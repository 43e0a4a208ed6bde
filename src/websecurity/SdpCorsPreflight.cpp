#include "websecurity/SdpCorsPreflight.h"

#include <string>

#include "log/Log.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern {

SdpCorsPreflight::SdpCorsPreflight(std::shared_ptr<SdpHttpSecurePreprocessor> marker,
                                   std::shared_ptr<SdpHttpServerContext> context)
    : m_marker(std::move(marker)), m_context(std::move(context)) {}

bool SdpCorsPreflight::grant(IRequest& request, IResponse& response) {
    const char* origin = request.header("Origin");
    if (origin == nullptr || m_marker == nullptr || m_context == nullptr ||
        !m_marker->isUrlAuthorised(m_context, origin)) {
        return false;
    }
    // The origin exactly as the page sent it: browsers compare it byte for byte.
    response.setHeader("Access-Control-Allow-Origin", origin);
    response.setHeader("Access-Control-Allow-Methods", "POST");
    response.setHeader("Access-Control-Allow-Headers", "content-type, x-sdp-traceid");
    response.setHeader("Access-Control-Max-Age", std::to_string(kMaxAgeSeconds).c_str());
    OKV_LOG_DEBUG("[traceid:{}] preflight of {} granted", request.traceId(), origin);
    return true;
}

}  // namespace talvern
