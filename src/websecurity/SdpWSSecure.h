#pragma once

#include <memory>
#include <string>

#include "http/websocket/WebSocketFilter.h"
#include "http/websocket/WebSocketHandshakeGuard.h"
#include "http/websocket/WebSocketPreprocessor.h"

namespace talvern {

class HttpSecure;
class IWebSocket;
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

/// Refuses, before the upgrade, a handshake that carries an Origin which is not an authorised origin and no
/// trusted User-Agent: a page the user did not open through the client gets no socket. Native clients (a
/// trusted User-Agent, or no Origin at all) pass. The context must be an `SdpHttpServerContext`.
class SdpWSHandshakeGuard : public WebSocketHandshakeGuard {
public:
    /// Asks `marker` whether an origin is authorised (shared with the HTTP chain).
    explicit SdpWSHandshakeGuard(std::shared_ptr<SdpHttpSecurePreprocessor> marker);

    bool admit(const std::shared_ptr<HttpServerContext>& context,
               const std::shared_ptr<IRequest>& handshake) override;

private:
    std::shared_ptr<SdpHttpSecurePreprocessor> m_marker;
};

/// True when the socket's handshake earned a trust mark. Untrusted sockets get no events and no replay.
bool isTrustedSocket(const IWebSocket& socket);

/// Logs every message that arrives on a WebSocket without trust marks; the message goes on.
class SdpWSSecureFilter : public WebSocketFilter {
public:
    bool doFilter(std::shared_ptr<WebSocket> socket, const std::string& data) override;
};

}  // namespace talvern
