#pragma once

#include <memory>

namespace talvern {

class HttpServerContext;
class IRequest;

/// Decides, before a connection is upgraded, whether it may become a WebSocket at all. The server answers
/// a refused handshake with 403 and the refusal body and closes the connection; no socket is made of it.
class WebSocketHandshakeGuard {
public:
    virtual ~WebSocketHandshakeGuard() = default;

    /// Looks at the upgrade request (headers, trace id); false refuses it. The guard logs why.
    virtual bool admit(const std::shared_ptr<HttpServerContext>& context,
                       const std::shared_ptr<IRequest>& handshake) = 0;
};

}  // namespace talvern
