#include "http/websocket/WebSocket.h"

#include <spdlog/common.h>

#include <chrono>
#include <ctime>
#include <exception>

#include "http/HttpServerManager.h"
#include "http/engine/Engine.h"
#include "log/Log.h"
#include "log/Logger.h"

namespace talvern {

namespace {
constexpr const char* kTag = "HttpServer";
constexpr const char* kAuditFunction = "talvern::WebSocket::audit";
}  // namespace

WebSocket::WebSocket(engine::http_message* message, engine::mg_connection* connection,
                     const std::shared_ptr<HttpServerManager>& manager, std::shared_ptr<LogObject> auditLog)
    : HttpRequest(message, connection),
      m_manager(manager),
      m_auditLog(std::move(auditLog)),
      m_id(connection != nullptr ? connection->request_number : 0) {
    m_httpMessage = nullptr;  // the upgrade message is borrowed for the construction only
    audit(fmt::format("{{\"time\": \"{}\", \"id\": {}, \"from\": \"{}\", \"type\": \"create\"}}", auditTime(),
                      m_id, peer()));
}

WebSocket::~WebSocket() {
    audit(fmt::format("{{\"time\": \"{}\", \"id\": {}, \"type\": \"destroy\"}}", auditTime(), m_id));
}

std::string WebSocket::auditTime() {
    const auto now = std::chrono::system_clock::now();
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // One event to many sockets writes many lines within the same millisecond: the text is made once.
    thread_local long long cachedMillis = -1;
    thread_local std::string cachedText;
    if (sinceEpoch == cachedMillis) {
        return cachedText;
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    cachedText = fmt::format("{}.{:03}", text, sinceEpoch % 1000);
    cachedMillis = sinceEpoch;
    return cachedText;
}

void WebSocket::audit(const std::string& line) const {
    if (!m_auditLog) {
        return;
    }
    try {
        m_auditLog->log(spdlog::level::info, kTag, kAuditFunction, __LINE__, line.c_str());
    } catch (const std::exception& e) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "websocket audit line lost", e.what());
    } catch (...) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "websocket audit line lost", "unknown exception");
    }
}

void WebSocket::send(int opcode, const std::string& data, bool firstPath) {
    if (firstPath) {
        audit(fmt::format(
            "{{\"time\": \"{}\", \"id\": {}, \"to\": \"{}\", \"type\": \"send\", \"content\": {}}}",
            auditTime(), m_id, peer(), data));
    } else {
        audit(fmt::format(
            "{{\"time\": \"{}\", \"id\": {} \"to\": \"{}\", \"type\": \"send\", content: \"{}\"}}",
            auditTime(), m_id, peer(), data));
    }
    write(opcode, data);
}

void WebSocket::sendText(const std::string& data) { send(engine::WEBSOCKET_OP_TEXT, data, true); }

void WebSocket::sendTextNow(const std::string& data) { send(engine::WEBSOCKET_OP_TEXT, data, false); }

void WebSocket::sendBinaryNow(const std::string& data) { send(engine::WEBSOCKET_OP_BINARY, data, false); }

void WebSocket::sendBinary(const std::string& data) { send(engine::WEBSOCKET_OP_BINARY, data, true); }

void WebSocket::close(const CloseFrame& frame) {
    m_closing = true;
    audit(
        fmt::format("{{\"time\": \"{}\", \"id\": {}, \"from\": \"{}\", \"type\": \"close\", \"close-frame\": "
                    "{{\"code\": {}, "
                    "\"reason\": \"{}\"}}}}",
                    auditTime(), m_id, peer(), frame.code, frame.reason));
    std::string payload;
    payload += static_cast<char>((frame.code >> 8) & 0xff);
    payload += static_cast<char>(frame.code & 0xff);
    payload += frame.reason;
    write(engine::WEBSOCKET_OP_CLOSE, payload);
}

void WebSocket::sendNotification(std::shared_ptr<const std::string> object) {
    if (!object) {
        return;
    }
    audit(fmt::format("{{\"time\": \"{}\", \"id\": {}, \"to\": \"{}\", \"type\": \"send\", \"content\": {}}}",
                      auditTime(), m_id, peer(), *object));
    auto manager = m_manager.lock();
    if (!manager) {
        return;
    }
    if (manager->isLoopThread()) {
        if (auto* c = liveConnection(*manager)) {
            sendNotificationImmediately(c, object);
        }
        return;
    }
    handOver(PendingFrame{engine::WEBSOCKET_OP_TEXT, std::move(object), {}});
}

engine::mg_connection* WebSocket::liveConnection(HttpServerManager& manager) {
    // A connection that closed meanwhile (or whose record was reused) no longer carries the number.
    engine::mg_connection* c = connection();
    return c != nullptr && manager.engine()->isOpen(c) && c->request_number == m_id ? c : nullptr;
}

void WebSocket::write(int opcode, const std::string& data) {
    auto manager = m_manager.lock();
    if (!manager) {
        return;
    }
    if (manager->isLoopThread()) {
        if (auto* c = liveConnection(*manager)) {
            sendFrameImmediately(c, opcode, data);
        }
        return;
    }
    handOver(PendingFrame{opcode, nullptr, data});
}

void WebSocket::handOver(PendingFrame frame) {
    auto manager = m_manager.lock();
    if (!manager) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.push_back(std::move(frame));
        if (m_scheduled) {
            return;  // the loop writes it with the others of this batch
        }
        m_scheduled = true;
    }
    if (!manager->schedule(shared_from_this())) {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.clear();  // no loop will write them: the server has stopped
        m_scheduled = false;
    }
}

void WebSocket::runOnLoop() {
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_writing.swap(m_pending);
        m_scheduled = false;
    }
    auto manager = m_manager.lock();
    engine::mg_connection* c = manager ? liveConnection(*manager) : nullptr;
    for (auto& frame : m_writing) {
        if (c == nullptr) {
            break;
        }
        if (frame.notification) {
            sendNotificationImmediately(c, frame.notification);
        } else {
            sendFrameImmediately(c, frame.opcode, frame.data);
        }
    }
    m_writing.clear();
}

void WebSocket::sendNotificationImmediately(engine::mg_connection* connection,
                                            const std::shared_ptr<const std::string>& object) {
    sendFrameImmediately(connection, engine::WEBSOCKET_OP_TEXT, *object);
}

void WebSocket::sendFrameImmediately(engine::mg_connection* connection, int opcode, const std::string& data) {
    if (connection != nullptr) {
        connection->sendWebSocketFrame(opcode, data.data(), data.size());
    }
}

void WebSocket::sendFrameParts(engine::mg_connection* connection, int opcode,
                               const std::vector<std::string>& parts) {
    if (connection == nullptr) {
        return;
    }
    std::vector<std::string_view> views(parts.begin(), parts.end());
    connection->sendWebSocketFrameParts(opcode, views);
}

std::uint32_t WebSocket::addListener(Event event, Listener callback) {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    const std::uint32_t id = m_nextListenerId++;
    OKV_LOG_TAG_INFO(kTag, "Add the websocket event listener for event {}, and the listener id is {}",
                     eventName(event), id);
    m_listeners.push_back({id, event, std::move(callback)});
    return id;
}

void WebSocket::removeListener(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_listeners.remove_if([id](const ListenerEntry& entry) { return entry.id == id; });
}

void WebSocket::receive(const std::string& data) {
    if (m_closing) {
        return;
    }
    audit(
        fmt::format("{{\"time\": \"{}\", \"id\": {}, \"from\": \"{}\", \"type\": \"receive\", content: {}}}",
                    auditTime(), m_id, peer(), data));
    onMessage(data);
}

void WebSocket::onMessage(const std::string& data) { deliver(Event::Message, data, {}); }

void WebSocket::deliver(Event event, const std::string& data, const std::string& path) {
    std::list<ListenerEntry> listeners;
    {
        std::lock_guard<std::mutex> lock(m_listenerMutex);
        for (const auto& entry : m_listeners) {
            if (entry.event == event) {
                listeners.push_back(entry);
            }
        }
    }
    const std::shared_ptr<IWebSocket> self = shared_from_this();
    for (const auto& entry : listeners) {
        OKV_LOG_TAG_DEBUG(kTag, "Invoke the websocket event(name: {}) processing function(id: {})",
                          eventName(entry.event), entry.id);
        try {
            entry.callback(self, data, path);
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}; Reason: {}", traceId(), "websocket listener failed",
                              e.what());
        } catch (...) {
            OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}; Reason: {}", traceId(), "websocket listener failed",
                              "unknown exception");
        }
    }
}

}  // namespace talvern
