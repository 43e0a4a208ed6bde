#include "websecurity/SdpWSSecure.h"

#include "http/websocket/WebSocket.h"
#include "log/Check.h"
#include "log/Log.h"
#include "talvern/IRequest.h"
#include "websecurity/HttpSecure.h"
#include "websecurity/RequestDebugString.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern {

SdpWSSecurePreProcessor::SdpWSSecurePreProcessor() : SdpWSSecurePreProcessor(nullptr) {}

SdpWSSecurePreProcessor::SdpWSSecurePreProcessor(std::unique_ptr<HttpSecure> secure)
    : m_marker(std::make_shared<SdpHttpSecurePreprocessor>(std::string(), std::move(secure))) {}

SdpWSSecurePreProcessor::~SdpWSSecurePreProcessor() = default;

bool SdpWSSecurePreProcessor::doPreprocess(std::shared_ptr<HttpServerContext> ctx,
                                           std::shared_ptr<WebSocket> socket) {
    // The socket is the handshake request: its marks come from the handshake's headers.
    m_marker->doPreprocess(std::move(ctx), std::move(socket), nullptr);
    return true;
}

SdpWSHandshakeGuard::SdpWSHandshakeGuard(std::shared_ptr<SdpHttpSecurePreprocessor> marker)
    : m_marker(std::move(marker)) {}

bool SdpWSHandshakeGuard::admit(const std::shared_ptr<HttpServerContext>& ctx,
                                const std::shared_ptr<IRequest>& handshake) {
    auto context = std::dynamic_pointer_cast<SdpHttpServerContext>(ctx);
    OKV_ENSURE_OR_RETURN(context != nullptr, "can't get the correct SdpHttpServerContext object", false);
    if (handshake == nullptr || m_marker == nullptr) {
        return false;
    }
    if (SdpHttpSecurePreprocessor::isTrustedUserAgent(handshake->header("User-Agent"))) {
        return true;
    }
    // Browsers always name the page's origin; a client without one is a local program, not a page.
    const char* origin = handshake->header("Origin");
    if (origin == nullptr || m_marker->isUrlAuthorised(context, origin)) {
        return true;
    }
    OKV_LOG_WARN("the websocket handshake({}) has been forbidden; Reason: {}", toDebugString(handshake),
                 "the origin is not authorised and the user agent is not trusted");
    return false;
}

bool isTrustedSocket(const IWebSocket& socket) {
    const auto* handshake = dynamic_cast<const IRequest*>(&socket);
    return handshake != nullptr && (handshake->tag() & kTrustMarks) != 0;
}

bool SdpWSSecureFilter::doFilter(std::shared_ptr<WebSocket> socket, const std::string& /*data*/) {
    if (socket && socket->tag() == 0) {
        std::string dump;
        socket->toString(dump);
        OKV_LOG_WARN("The websocket(from {}) is untrust, the data is {}; Reason: the connection is untrust",
                     socket->peer(), dump);
    }
    return true;
}

}  // namespace talvern
