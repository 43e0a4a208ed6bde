#pragma once

// Private to the engine: the manager's state and the session base class. Includes Asio; only the
// engine's own sources include this file.

#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/engine/Engine.h"

namespace talvern::engine {

/// A bound listening socket and what its accepted connections need.
struct ListenerState {
    explicit ListenerState(boost::asio::io_context& io) : acceptor(io), retryTimer(io) {}

    std::shared_ptr<mg_connection> record;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer retryTimer;  // loop thread: pause after a failed accept (descriptor shortage)
    std::mutex mutex;                      // guards tls and accepting (set from binding threads)
    std::shared_ptr<boost::asio::ssl::context> tls;
    bool accepting = false;
};

/// One accepted connection's transport and protocol state; lives while its operations are pending.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(ManagerImpl& mgr, std::shared_ptr<mg_connection> record)
        : m_mgr(mgr), m_record(std::move(record)) {}
    virtual ~Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    virtual void start() = 0;
    /// Raw bytes for the peer; what one handler turn writes leaves in one write.
    virtual void write(std::string_view bytes) = 0;
    /// The reply in progress ends once what is queued now is written.
    virtual void endOfReply() {}
    /// One WebSocket frame.
    virtual void writeFrame(int opcode, std::string payload) = 0;
    /// One WebSocket frame made of the first `headLength` bytes of a shared head and a tail of its own.
    virtual void writeSharedFrame(int opcode, std::shared_ptr<const std::string> head, std::size_t headLength,
                                  std::string tail) {
        writeFrame(opcode, head->substr(0, headLength) + tail);
    }
    /// Closes the transport at once and raises the close event.
    void close();

protected:
    /// Cancels timers and closes the socket (no events).
    virtual void shutdownTransport() = 0;
    void dispatch(int event, void* data);
    bool closed() const { return m_record->m_closed; }
    /// True when an operation's completion has nothing left to do: the session closed meanwhile, or the
    /// operation failed (the session is then closed).
    bool ended(const boost::system::error_code& ec) {
        if (closed()) {
            return true;
        }
        if (ec) {
            close();
            return true;
        }
        return false;
    }

    ManagerImpl& m_mgr;
    std::shared_ptr<mg_connection> m_record;
};

struct ManagerImpl {
    ManagerImpl(mg_mgr* owner, void* userData, EngineLimits limits);
    ~ManagerImpl();

    /// Calls the connection's handler, turning an exception into a log line.
    void dispatch(mg_connection* c, int event, void* data);
    void add(const std::shared_ptr<mg_connection>& c);
    /// Accepted connections now open (listeners not counted).
    std::size_t acceptedCount() const;
    void remove(const mg_connection* c);
    /// Loop thread, after a connection closed: once half of a crowd has gone, the allocator hands the
    /// memory it kept for it back to the system.
    void afterClose();
    std::vector<std::shared_ptr<mg_connection>> snapshot() const;
    std::shared_ptr<ListenerState> listenerOf(const mg_connection* c) const;

    void startAccept(const std::shared_ptr<ListenerState>& listener);
    void onAccepted(const std::shared_ptr<ListenerState>& listener, boost::asio::ip::tcp::socket socket);

    mg_mgr* owner;
    void* userData;
    EngineLimits limits;
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;

    mutable std::mutex mutex;  // guards connections and listeners (bind may run on any thread)
    std::unordered_map<const mg_connection*, std::shared_ptr<mg_connection>> connections;
    bool reportedAtCap = false;  // loop thread: the cap was logged since the count last fell below it
    std::size_t peakOpen =
        0;                    // loop thread: most accepted connections open since memory was last handed back
    bool trimPosted = false;  // loop thread
    std::vector<std::shared_ptr<ListenerState>> listeners;
};

}  // namespace talvern::engine
