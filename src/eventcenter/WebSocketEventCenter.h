#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "eventcenter/HttpEventCenter.h"
#include "eventcenter/IWebEventSink.h"
#include "portal/PortalMessages.h"

namespace talvern {

class IWebSocket;

/// The web event center: the HTTP long-poll store plus WebSocket subscribers. A socket subscribes with
/// a WsEventsReq and receives a ready notification (with a replay of stored events when it asks for
/// one), then one notification per new event. Subscribing and broadcasting are serialised, so a new
/// subscriber sees each event exactly once: in its replay or as a push.
class WebSocketEventCenter : public HttpEventCenter, public IWebEventSink {
public:
    using HttpEventCenter::HttpEventCenter;
    ~WebSocketEventCenter() override = default;

    /// Subscribes the socket (a second subscription of the same socket is only logged).
    void addWebSocket(std::shared_ptr<IWebSocket> socket, const portal::ws_events_req::WsEventsReq& request);
    /// Forgets a socket that closed (a weak reference would hold its memory until the next broadcast).
    void removeWebSocket(const std::shared_ptr<IWebSocket>& socket);
    /// Stores the event, answers parked polls, then pushes it to every live subscriber.
    void broadcast(const std::string& topic, const std::string& content) override;

    /// The content of the "websocket|ready" event (seven lines).
    static const std::string& readyContent();
    /// The notification text for a subscription.
    static std::string notification(const portal::ws_events_req::WsEventsReq& request,
                                    const std::vector<std::shared_ptr<details::Event>>& events);
    /// Live subscriptions now.
    std::size_t subscriberCount();

private:
    struct Subscription {
        std::weak_ptr<IWebSocket> socket;
        const IWebSocket* key;  // the socket's address while it lives: its place in the index
        portal::ws_events_req::WsEventsReq request;
    };
    void dropGoneLocked();
    void shrinkLocked();

    std::mutex m_mutex;  // serialises addWebSocket and broadcast
    std::vector<Subscription> m_subscriptions;
    // Where each socket's subscription sits, so that a crowd subscribes and leaves without a scan per socket.
    std::unordered_map<const IWebSocket*, std::size_t> m_index;
};

}  // namespace talvern
