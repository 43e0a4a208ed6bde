#pragma once

// Request, response and socket stand-ins for the event centers: they record what was sent, from any
// thread.

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/websocket/IWebSocket.h"
#include "unit/eventcenter/EventReplies.h"
#include "unit/http/FakeHttp.h"

namespace talvern::test {

/// A socket that keeps what it was sent (or throws, when asked to).
class RecordingSocket : public IWebSocket {
public:
    explicit RecordingSocket(std::string peer = "127.0.0.1:5000", bool throws = false)
        : m_peer(std::move(peer)), m_throws(throws) {}
    std::string peer() const override { return m_peer; }
    void sendText(const std::string& data) override { record(data); }
    void sendTextNow(const std::string& data) override { record(data); }
    void sendBinaryNow(const std::string& data) override { record(data); }
    void sendBinary(const std::string& data) override { record(data); }
    void close(const CloseFrame& frame) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        closes.push_back(frame);
    }
    std::uint32_t addListener(Event, Listener) override { return 1; }
    void removeListener(std::uint32_t) override {}

    std::vector<std::string> sent() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }
    std::vector<CloseFrame> closes;

private:
    void record(const std::string& data) {
        if (m_throws) {
            throw std::runtime_error("socket broken");
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(data);
    }
    mutable std::mutex m_mutex;
    std::string m_peer;
    bool m_throws;
    std::vector<std::string> m_sent;
};

/// Broadcasts the events "e<from>" to "e<to>" on the topic "mirnEvent|n".
template <class Center>
void broadcastNumbered(Center& center, int from, int to) {
    for (int i = from; i <= to; ++i) {
        center.broadcast("mirnEvent|n", eventContent("e" + std::to_string(i)));
    }
}

}  // namespace talvern::test
