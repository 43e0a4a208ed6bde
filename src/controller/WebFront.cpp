#include "controller/WebFront.h"

#include <string>
#include <utility>
#include <vector>

#include "eventcenter/WebSocketEventCenter.h"
#include "http/HttpServer.h"
#include "http/HttpService.h"
#include "http/Refusal.h"
#include "http/websocket/IWebSocket.h"
#include "http/websocket/WebSocketFilter.h"
#include "http/websocket/WebSocketPreprocessor.h"
#include "http/websocket/WebSocketServerGroup.h"
#include "log/Log.h"
#include "plugins/PluginsManager.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "web/v1/MessageHandlers.h"
#include "websecurity/SdpCorsPreflight.h"
#include "websecurity/SdpHttpAntiPhishing.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"
#include "websecurity/SdpWSSecure.h"

namespace talvern::sdp::webfront {

namespace {
constexpr const char* kEventsPath = "/v1/service/events";
}

void installSecurityChain(HttpService& service, WebSocketServerGroup& servers,
                          const std::shared_ptr<SdpHttpServerContext>& context) {
    // For every URL: mark the request, then refuse it unless it is marked or its path is whitelisted.
    auto marker = std::make_shared<SdpHttpSecurePreprocessor>();
    service.addPreprocessor(marker);
    service.addFilter(std::make_shared<SdpHttpAntiPhishing>());
    // Pages on authorised origins may send JSON from fetch: their preflights are granted.
    auto preflight = std::make_shared<SdpCorsPreflight>(marker, context);
    for (const auto& [name, server] : servers.servers()) {
        server->setPreflightGrant([preflight](IRequest& request, IResponse& response) {
            return preflight->grant(request, response);
        });
    }
    // A foreign page gets no socket at all: its upgrade is refused before it happens.
    servers.setHandshakeGuard(std::make_shared<SdpWSHandshakeGuard>(marker), context);
    // WebSockets carry the marks of their handshake; messages of unmarked sockets are logged.
    servers.setPreprocessorChain(WebSocketPreprocessor::chain({std::make_shared<SdpWSSecurePreProcessor>()}),
                                 context);
    servers.setFilterChain(WebSocketFilter::chain({std::make_shared<SdpWSSecureFilter>()}));
    // A plug-in's broadcast reaches trusted sockets only, as the event center's events do.
    servers.setAudience([](const IWebSocket& socket) { return isTrustedSocket(socket); });
}

void addRefererWhitelist(SdpHttpServerContext& context) {
    context.addRefererWhitelist(std::vector<std::string>{"/v1/detect", "/v1/getServicePort"}, "trustAgent");
    context.addRefererWhitelist(std::vector<std::string>{"/v1/base/printLog"}, "trustBase");
    context.addRefererWhitelist(std::vector<std::string>{"/v1/update/version", "/v1/update/skip",
                                                         "/v1/update/status", "/v1/update/start"},
                                "trustUpdate");
}

void addAgentRoutes(HttpRouter& router, const std::shared_ptr<WebSocketEventCenter>& center,
                    HttpRouter::Handler servicePort, std::shared_ptr<PluginsManager> plugins) {
    router.addRoute(
        "/v1/detect", HttpRouter::Post,
        [](IRequest* req, IResponse* resp) { v1::Detect::handleMessage(req, resp); }, v1::kDetectSchema);
    router.addRoute("/v1/getServicePort", HttpRouter::Post, std::move(servicePort),
                    v1::kGetServicePortSchema);
    std::weak_ptr<WebSocketEventCenter> weakCenter = center;
    router.addRoute(
        kEventsPath, HttpRouter::Post,
        [weakCenter](IRequest* req, IResponse* resp) {
            if (auto center = weakCenter.lock()) {
                center->handleLongPoll(req, resp);
            }
        },
        v1::kServiceEventsSchema);
    router.addRoute(".*", HttpRouter::LastResort,
                    [plugins = std::move(plugins)](IRequest* req, IResponse* resp) {
                        if (!plugins->moduleDidRecivedHttpMessage(req, resp)) {
                            v1::unsupportedUrl(req, resp);
                        }
                    });
}

// Other messages on the socket are left to the socket's other listeners.
void subscribeSocketsToEvents(IWebSocketServer& servers, std::weak_ptr<WebSocketEventCenter> center) {
    servers.addListener(IWebSocketServer::NewConnection, [center](std::shared_ptr<IWebSocket> socket) {
        socket->addListener(
            IWebSocket::Event::Message, [center](const std::shared_ptr<IWebSocket>& from,
                                                 const std::string& data, const std::string& path) {
                if (path != kEventsPath) {
                    return;
                }
                auto events = center.lock();
                if (!events) {
                    return;
                }
                portal::ws_events_req::WsEventsReq request;
                if (!portal::from_json(data, request)) {
                    OKV_LOG_WARN("{}; Reason: {}", "websocket event subscription ignored",
                                 "the message is not JSON");
                    return;
                }
                if (!isTrustedSocket(*from)) {
                    OKV_LOG_WARN("[traceid: {}]Websocket({}) {}; Reason: {}", request.sdpTraceId,
                                 from->peer(), "event subscription refused", "the connection is untrust");
                    from->sendText(http::refusalReply());
                    return;
                }
                events->addWebSocket(from, request);
            });
    });
    servers.addListener(IWebSocketServer::CloseConnection, [center](std::shared_ptr<IWebSocket> socket) {
        if (auto events = center.lock()) {
            events->removeWebSocket(socket);
        }
    });
}

}  // namespace talvern::sdp::webfront
