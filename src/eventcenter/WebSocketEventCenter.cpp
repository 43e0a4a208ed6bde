#include "eventcenter/WebSocketEventCenter.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <map>
#include <string_view>
#include <utility>

#include "eventcenter/EventsJson.h"
#include "http/websocket/IWebSocket.h"
#include "log/Log.h"

namespace talvern {

namespace {

constexpr const char* kReadyTopic = "websocket|ready";

void push(const std::shared_ptr<IWebSocket>& socket, std::shared_ptr<const std::string> text) {
    try {
        socket->sendNotification(std::move(text));
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("broadcast event to websocket client:[{}] failed; Reason: exception occured, msg:{}",
                      socket->peer(), e.what());
    } catch (...) {
        OKV_LOG_ERROR("broadcast event to websocket client:[{}] failed; Reason: exception occured, msg:{}",
                      socket->peer(), "unknown exception");
    }
}

}  // namespace

const std::string& WebSocketEventCenter::readyContent() {
    static const std::string content =
        "\n"
        "{\n"
        "    \"event\": \"ready\",\n"
        "    \"data\": {\n"
        "        \"channel\": \"websocket\"\n"
        "    }\n"
        "}\n";
    return content;
}

std::string WebSocketEventCenter::notification(const portal::ws_events_req::WsEventsReq& request,
                                               const std::vector<std::shared_ptr<details::Event>>& events) {
    rapidjson::StringBuffer buffer;
    eventcenter::JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("mode");
    writer.String("event");
    writer.Key("type");
    writer.String("notify");
    writer.Key("path");
    writer.String(request.path.c_str(), static_cast<rapidjson::SizeType>(request.path.size()));
    writer.Key("sdpTraceId");
    writer.String(request.sdpTraceId.c_str(), static_cast<rapidjson::SizeType>(request.sdpTraceId.size()));
    writer.Key("from");
    writer.String("oKavelAgent");
    eventcenter::writeEventsData(writer, events);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

void WebSocketEventCenter::dropGoneLocked() {
    const auto gone = std::remove_if(m_subscriptions.begin(), m_subscriptions.end(),
                                     [](const Subscription& s) { return s.socket.expired(); });
    if (gone != m_subscriptions.end()) {
        m_subscriptions.erase(gone, m_subscriptions.end());
        m_index.clear();
        for (std::size_t i = 0; i < m_subscriptions.size(); ++i) {
            m_index.emplace(m_subscriptions[i].key, i);
        }
    }
    shrinkLocked();
}

void WebSocketEventCenter::shrinkLocked() {
    if (m_subscriptions.capacity() > 2 * m_subscriptions.size() + 64) {
        m_subscriptions.shrink_to_fit();  // a crowd that left does not keep its room
    }
}

void WebSocketEventCenter::addWebSocket(std::shared_ptr<IWebSocket> socket,
                                        const portal::ws_events_req::WsEventsReq& request) {
    if (!socket) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    dropGoneLocked();
    if (m_index.count(socket.get()) != 0) {
        OKV_LOG_WARN("[traceid: {}]Websocket({}) multiple requests for event connection, no processing{}",
                     request.sdpTraceId, socket->peer(), "");
        return;
    }
    m_index.emplace(socket.get(), m_subscriptions.size());
    m_subscriptions.push_back(Subscription{socket, socket.get(), request});

    std::int64_t fromId = request.data.fromId;
    const std::int64_t currentPid = static_cast<std::int64_t>(::getpid());
    if (request.data.pid != 0 && request.data.pid != currentPid) {
        OKV_LOG_INFO(
            "The okavelcore restart, the websocket is first connected, reset the fromId to replay event, the "
            "request pid is {}, current pid is {}",
            request.data.pid, currentPid);
        fromId = 1;
    }
    auto ready = std::make_shared<details::Event>();
    ready->topic = kReadyTopic;
    ready->content = readyContent();
    std::vector<std::shared_ptr<details::Event>> replay;
    if (fromId != 0) {
        replay = events().since(fromId);
    }
    std::vector<std::shared_ptr<details::Event>> notified;
    if (replay.empty()) {
        const auto newest = events().newest();
        ready->id = newest ? newest->id : 1;
        notified.push_back(ready);
    } else {
        ready->id = 0;
        notified.push_back(ready);
        notified.insert(notified.end(), replay.begin(), replay.end());
    }
    push(socket, std::make_shared<const std::string>(notification(request, notified)));
}

void WebSocketEventCenter::removeWebSocket(const std::shared_ptr<IWebSocket>& socket) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_index.find(socket.get());
    if (found == m_index.end()) {
        return;
    }
    // The last subscription takes the place of the one that goes.
    const std::size_t at = found->second;
    m_index.erase(found);
    if (at + 1 != m_subscriptions.size()) {
        m_subscriptions[at] = std::move(m_subscriptions.back());
        m_index[m_subscriptions[at].key] = at;
    }
    m_subscriptions.pop_back();
    shrinkLocked();
}

void WebSocketEventCenter::broadcast(const std::string& topic, const std::string& content) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto event = HttpEventCenter::broadcast(topic, content);
    const std::vector<std::shared_ptr<details::Event>> single{event};
    dropGoneLocked();
    // The sockets of one page share path and trace id: each text is built once and shared by them.
    std::map<std::pair<std::string_view, std::string_view>, std::shared_ptr<const std::string>> texts;
    for (const auto& subscription : m_subscriptions) {
        if (auto socket = subscription.socket.lock()) {
            auto& text = texts[{subscription.request.path, subscription.request.sdpTraceId}];
            if (!text) {
                text = std::make_shared<const std::string>(notification(subscription.request, single));
            }
            push(socket, text);
        }
    }
}

std::size_t WebSocketEventCenter::subscriberCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    dropGoneLocked();
    return m_subscriptions.size();
}

}  // namespace talvern
