#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpRequest.h"
#include "http/HttpServerManager.h"
#include "http/websocket/IWebSocket.h"

namespace talvern {

class LogObject;

/// One upgraded connection. It is also the upgrade request (headers, trace id, trust marks), and it
/// is identified by the request number the server gave its connection. Writes happen on the engine's
/// loop thread: called there they go out at once, called elsewhere they are posted to the loop and
/// reach the connection only while it still carries this socket's number.
class WebSocket : public IWebSocket,
                  public HttpRequest,
                  public ILoopWork,
                  public std::enable_shared_from_this<WebSocket> {
public:
    /// Built on the loop thread from the upgrade request. `auditLog` receives the create/close/send/
    /// receive/destroy lines (may be null).
    WebSocket(engine::http_message* message, engine::mg_connection* connection,
              const std::shared_ptr<HttpServerManager>& manager, std::shared_ptr<LogObject> auditLog);
    ~WebSocket() override;

    std::string peer() const override { return peerAddress(); }
    void sendText(const std::string& data) override;
    void sendTextNow(const std::string& data) override;
    void sendBinaryNow(const std::string& data) override;
    void sendBinary(const std::string& data) override;
    void sendNotification(std::shared_ptr<const std::string> object) override;
    void close(const CloseFrame& frame) override;
    std::uint32_t addListener(Event event, Listener callback) override;
    void removeListener(std::uint32_t id) override;

    /// A message from the peer (loop thread): audited, then handed to onMessage. Once the socket was
    /// closed from this side, what the peer still sends is dropped.
    void receive(const std::string& data);
    /// Hands the message to the listeners with an empty path.
    virtual void onMessage(const std::string& data);
    /// Writes one frame on `connection` (loop thread).
    virtual void sendFrameImmediately(engine::mg_connection* connection, int opcode, const std::string& data);
    /// Writes one notification (see IWebSocket::sendNotification) on `connection` (loop thread).
    virtual void sendNotificationImmediately(engine::mg_connection* connection,
                                             const std::shared_ptr<const std::string>& object);
    /// Writes one frame whose payload is the concatenation of `parts` (loop thread).
    virtual void sendFrameParts(engine::mg_connection* connection, int opcode,
                                const std::vector<std::string>& parts);

    /// Current local time as the audit lines write it.
    static std::string auditTime();
    /// The connection's request number.
    std::uint32_t id() const { return m_id; }

protected:
    /// Calls the listeners of `event` (outside the listener mutex).
    void deliver(Event event, const std::string& data, const std::string& path);
    /// Writes one audit line to the server's log.
    void audit(const std::string& line) const;

private:
    struct ListenerEntry {
        std::uint32_t id;
        Event event;
        Listener callback;
    };
    /// A write made off the loop thread, waiting for the loop's next turn.
    struct PendingFrame {
        int opcode;
        std::shared_ptr<const std::string> notification;  // set for notifications
        std::string data;                                 // the payload of other frames
    };
    /// Writes `data` through sendFrameImmediately on the loop thread (directly or handed over).
    void write(int opcode, const std::string& data);
    void send(int opcode, const std::string& data, bool firstPath);
    /// Loop thread: the connection while it still carries this socket's number, else null.
    engine::mg_connection* liveConnection(HttpServerManager& manager);
    /// Queues a frame for the loop thread and schedules this socket once per batch.
    void handOver(PendingFrame frame);
    /// Loop thread: writes what other threads handed over, in order.
    void runOnLoop() override;

    std::weak_ptr<HttpServerManager> m_manager;
    std::shared_ptr<LogObject> m_auditLog;
    std::uint32_t m_id = 0;
    std::atomic<bool> m_closing{false};
    std::mutex m_listenerMutex;  // guards the listeners and the next listener id
    std::list<ListenerEntry> m_listeners;
    std::uint32_t m_nextListenerId = 1;
    std::mutex m_pendingMutex;  // guards the handed-over frames and the scheduled flag
    std::vector<PendingFrame> m_pending;
    bool m_scheduled = false;
    std::vector<PendingFrame> m_writing;  // loop thread: the batch being written
};

}  // namespace talvern
