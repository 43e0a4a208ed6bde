#pragma once

// How the agent's web side is put together: the security chain every request and socket passes, the
// paths served without trust marks, the agent's own routes and the event subscriptions over sockets.
// The controller wires its servers with these; the request-pipeline fuzz harness wires a plain
// listener with the same calls, so both exercise one pipeline.

#include <memory>

#include "http/HttpRouter.h"

namespace talvern {
class HttpService;
class IWebSocketServer;
class PluginsManager;
class SdpHttpServerContext;
class WebSocketEventCenter;
class WebSocketServerGroup;
}  // namespace talvern

namespace talvern::sdp::webfront {

/// Every request is marked, then refused unless marked or whitelisted; sockets carry the marks of their
/// handshake and the messages of unmarked ones are logged.
void installSecurityChain(HttpService& service, WebSocketServerGroup& servers,
                          const std::shared_ptr<SdpHttpServerContext>& context);

/// The paths every web page may call without trust marks.
void addRefererWhitelist(SdpHttpServerContext& context);

/// "/v1/detect", "/v1/getServicePort" (answered by `servicePort`), the events long poll on `center`, and
/// the modules of `plugins` for everything else (404 "Unsupport url" when none takes it).
void addAgentRoutes(HttpRouter& router, const std::shared_ptr<WebSocketEventCenter>& center,
                    HttpRouter::Handler servicePort, std::shared_ptr<PluginsManager> plugins);

/// A socket that sends an events subscription (a WsEventsReq on the events path) joins `center`.
void subscribeSocketsToEvents(IWebSocketServer& servers, std::weak_ptr<WebSocketEventCenter> center);

}  // namespace talvern::sdp::webfront
