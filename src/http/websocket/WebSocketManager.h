#pragma once

#include "http/HttpServerManager.h"

namespace talvern {

/// The event loop of the WebSocket servers: an HTTP server manager that WebSocket servers require, so
/// that a plain manager is never mistaken for one that carries upgraded connections.
class WebSocketManager : public HttpServerManager {
public:
    using HttpServerManager::HttpServerManager;
    ~WebSocketManager() override = default;
};

}  // namespace talvern
