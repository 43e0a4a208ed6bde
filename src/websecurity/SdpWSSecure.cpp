#include "websecurity/SdpWSSecure.h"

#include "http/websocket/WebSocket.h"
#include "log/Log.h"
#include "websecurity/HttpSecure.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"

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
