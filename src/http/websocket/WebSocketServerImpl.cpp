#include "http/websocket/WebSocketServerImpl.h"

#include <exception>

#include "http/websocket/IWebSocket.h"
#include "log/Check.h"
#include "log/Log.h"

namespace talvern {

namespace {

constexpr const char* kTag = "HttpServer";

/// Runs one step for one socket; a failure is logged and the caller goes on with the next socket.
template <typename Step>
void guarded(const std::shared_ptr<IWebSocket>& socket, Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(
            kTag, "broadcast event to websocket client:[{}] failed; Reason: exception occured, msg:{}",
            socket->peer(), e.what());
    } catch (...) {
        OKV_LOG_TAG_ERROR(
            kTag, "broadcast event to websocket client:[{}] failed; Reason: exception occured, msg:{}",
            socket->peer(), "unknown exception");
    }
}

}  // namespace

void WebSocketServerImpl::broadcast(const std::string& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Lambdas capture no structured bindings under clang 14 (the fuzz build).
    for (const auto& entry : m_sockets) {
        const auto& socket = entry.second;
        guarded(socket, [&] {
            if (!m_audience || m_audience(*socket)) {
                socket->sendText(data);
            }
        });
    }
}

void WebSocketServerImpl::setAudience(Audience audience) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_audience = std::move(audience);
}

void WebSocketServerImpl::resetWebsocketConn() {
    std::map<std::uint32_t, std::shared_ptr<IWebSocket>> sockets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sockets.swap(m_sockets);
    }
    for (const auto& entry : sockets) {
        const auto& socket = entry.second;
        guarded(socket, [&] {
            callWebSocketListener(CloseConnection, socket);
            socket->close(CloseFrame{1001, "Server reset"});
        });
    }
}

std::uint32_t WebSocketServerImpl::addListener(ListenerType type, Listener callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint32_t id = m_nextListenerId++;
    OKV_LOG_TAG_INFO(kTag, "Add the WebSocketServer event listener for type {}, and the listener id is {}",
                     listenerTypeName(type), id);
    auto wrapped = [type, id, callback = std::move(callback)](std::shared_ptr<IWebSocket> socket) {
        OKV_LOG_TAG_DEBUG(kTag, "Invoke the WebSocketServer event(name: {}) processing function(id: {})",
                          listenerTypeName(type), id);
        callback(std::move(socket));
    };
    m_listeners.push_back({id, type, std::move(wrapped)});
    return id;
}

void WebSocketServerImpl::callWebSocketListener(int type, const std::shared_ptr<IWebSocket>& websocket) {
    OKV_ENSURE_OR_RETURN(websocket != nullptr, "Websocket cannot be empty when notifying event");
    if (type == CloseConnection) {
        OKV_LOG_TAG_INFO(kTag, "Websocket connection shutdown from {}", websocket->peer());
    } else if (type != NewConnection) {
        OKV_LOG_TAG_INFO(kTag, "Unknown websocket event(id: {}) from {}", type, websocket->peer());
    }
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& entry : m_listeners) {
            if (entry.type == type) {
                listeners.push_back(entry.callback);
            }
        }
    }
    for (const auto& listener : listeners) {
        try {
            listener(websocket);
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "websocket server listener failed", e.what());
        } catch (...) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "websocket server listener failed",
                              "unknown exception");
        }
    }
}

void WebSocketServerImpl::add(std::uint32_t number, std::shared_ptr<IWebSocket> socket) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets[number] = std::move(socket);
}

std::shared_ptr<IWebSocket> WebSocketServerImpl::find(std::uint32_t number) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sockets.find(number);
    return it != m_sockets.end() ? it->second : nullptr;
}

void WebSocketServerImpl::passiveShutdown(std::uint32_t number) {
    std::shared_ptr<IWebSocket> socket;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sockets.find(number);
        if (it == m_sockets.end()) {
            return;
        }
        socket = std::move(it->second);
        m_sockets.erase(it);
    }
    guarded(socket, [&] {
        callWebSocketListener(CloseConnection, socket);
        socket->close(CloseFrame{1000, "Passive shutdown"});
    });
}

std::size_t WebSocketServerImpl::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sockets.size();
}

}  // namespace talvern
