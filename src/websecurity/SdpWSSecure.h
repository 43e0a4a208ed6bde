#pragma once

#include <memory>
#include <string>

#include "http/websocket/WebSocketFilter.h"
#include "http/websocket/WebSocketPreprocessor.h"

namespace talvern {

class HttpSecure;
class SdpHttpSecurePreprocessor;

/// Gives a new WebSocket the trust marks of its handshake request, by the rules of the HTTP marking
/// preprocessor. It never refuses a socket by itself.
class SdpWSSecurePreProcessor : public WebSocketPreprocessor {
public:
    /// Checks origins against the shared data directory's authorised origins.
    SdpWSSecurePreProcessor();
    /// Checks origins with the given object (a null one is replaced by the default).
    explicit SdpWSSecurePreProcessor(std::unique_ptr<HttpSecure> secure);
    ~SdpWSSecurePreProcessor() override;

    bool doPreprocess(std::shared_ptr<HttpServerContext> ctx, std::shared_ptr<WebSocket> socket) override;

private:
    std::shared_ptr<SdpHttpSecurePreprocessor> m_marker;
};

/// Logs every message that arrives on a WebSocket without trust marks; the message goes on.
class SdpWSSecureFilter : public WebSocketFilter {
public:
    bool doFilter(std::shared_ptr<WebSocket> socket, const std::string& data) override;
};

}  // namespace talvern
