#include "http/engine/EngineImpl.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include <malloc.h>

#include <algorithm>
#include <charconv>
#include <chrono>

#include "http/engine/TlsContext.h"
#include "log/Log.h"

namespace talvern::engine {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* kTag = "HttpServer";
constexpr std::size_t kTrimFloor = 256;  // smaller crowds leave too little behind to be worth a trim

/// Splits "address:port" (IPv6 addresses in brackets); false when the text is not of that form.
bool splitAddress(const std::string& text, std::string& host, std::uint16_t& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        return false;
    }
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    unsigned value = 0;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string endpointText(const tcp::endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// mg_connection

mg_connection::~mg_connection() = default;

void mg_connection::send(const void* data, std::size_t length) {
    if (auto session = m_session.lock(); session && !m_closed) {
        session->write(std::string_view(static_cast<const char*>(data), length));
    }
}

void mg_connection::sendHttpChunk(const void* data, std::size_t length) {
    auto session = m_session.lock();
    if (!session || m_closed) {
        return;
    }
    char size[24];
    auto [end, ec] = std::to_chars(size, size + sizeof(size) - 2, length, 16);
    *end++ = '\r';
    *end++ = '\n';
    session->write(std::string_view(size, static_cast<std::size_t>(end - size)));
    session->write(std::string_view(static_cast<const char*>(data), length));
    session->write("\r\n");
    if (length == 0) {
        session->endOfReply();
    }
}

void mg_connection::endHttpReply() {
    if (auto session = m_session.lock(); session && !m_closed) {
        session->endOfReply();
    }
}

void mg_connection::sendWebSocketFrame(int opcode, const void* data, std::size_t length) {
    if (auto session = m_session.lock(); session && !m_closed) {
        session->writeFrame(opcode, std::string(static_cast<const char*>(data), length));
    }
}

void mg_connection::sendWebSocketFrameParts(int opcode, const std::vector<std::string_view>& parts) {
    std::string payload;
    for (auto part : parts) {
        payload.append(part);
    }
    sendWebSocketFrame(opcode, payload.data(), payload.size());
}

void mg_connection::sendWebSocketFrameShared(int opcode, std::shared_ptr<const std::string> head,
                                             std::size_t headLength, std::string tail) {
    if (!head) {
        sendWebSocketFrame(opcode, tail.data(), tail.size());
    } else if (auto session = m_session.lock(); session && !m_closed) {
        const std::size_t length = std::min(headLength, head->size());
        session->writeSharedFrame(opcode, std::move(head), length, std::move(tail));
    }
}

void mg_connection::closeImmediately() {
    if (m_closed || (flags & MG_F_CLOSE_IMMEDIATELY) != 0) {
        return;
    }
    flags |= MG_F_CLOSE_IMMEDIATELY;
    // The close event must not arrive inside the handler that asked for it.
    std::weak_ptr<Session> weak = m_session;
    asio::post(m_mgr->m_impl->io, [weak] {
        if (auto session = weak.lock()) {
            session->close();
        }
    });
}

// ---------------------------------------------------------------------------------------------------
// Session

void Session::close() {
    if (closed()) {
        return;
    }
    m_record->m_closed = true;
    shutdownTransport();
    int zero = 0;
    m_mgr.dispatch(m_record.get(), MG_EV_CLOSE, &zero);
    m_mgr.remove(m_record.get());
    m_mgr.afterClose();
}

void Session::dispatch(int event, void* data) {
    if (closed()) {
        return;
    }
    m_mgr.dispatch(m_record.get(), event, data);
}

// ---------------------------------------------------------------------------------------------------
// ManagerImpl

ManagerImpl::ManagerImpl(mg_mgr* owner_, void* userData_, EngineLimits limits_)
    : owner(owner_), userData(userData_), limits(limits_), work(asio::make_work_guard(io)) {}

ManagerImpl::~ManagerImpl() {
    // No events any more: the handlers' objects may already be gone.
    std::vector<std::shared_ptr<ListenerState>> ownListeners;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ownListeners.swap(listeners);
        for (auto& [key, c] : connections) {
            c->m_closed = true;
            c->m_handler = nullptr;
        }
        connections.clear();
    }
    for (auto& listener : ownListeners) {
        boost::system::error_code ignored;
        listener->acceptor.close(ignored);
        listener->retryTimer.cancel();
    }
    work.reset();
    io.stop();
}

void ManagerImpl::dispatch(mg_connection* c, int event, void* data) {
    if (!c->m_handler) {
        return;
    }
    try {
        c->m_handler(c, event, data);
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: event {} of {}: {}", "event handler failed", event,
                          c->m_peerAddress, e.what());
    } catch (...) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: event {} of {}: unknown exception", "event handler failed",
                          event, c->m_peerAddress);
    }
    if ((c->flags & MG_F_CLOSE_IMMEDIATELY) != 0 && !c->m_closed) {
        c->flags &= ~MG_F_CLOSE_IMMEDIATELY;  // let closeImmediately schedule the close once
        c->closeImmediately();
    }
}

void ManagerImpl::add(const std::shared_ptr<mg_connection>& c) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.emplace(c.get(), c);
}

std::size_t ManagerImpl::acceptedCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return connections.size() - listeners.size();
}

void ManagerImpl::remove(const mg_connection* c) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.erase(c);
}

void ManagerImpl::afterClose() {
    const std::size_t open = acceptedCount();
    if (peakOpen < kTrimFloor || open > peakOpen / 2) {
        return;
    }
    peakOpen = open;
    if (trimPosted) {
        return;
    }
    trimPosted = true;
    asio::post(io, [this] {
        trimPosted = false;
#if defined(__GLIBC__)
        // Freed chunks of a crowd of connections stay with the allocator otherwise: the peak would stay
        // the process's size for good.
        ::malloc_trim(0);
#endif
        OKV_LOG_TAG_DEBUG(kTag, "free memory handed back, {} connections open", peakOpen);
    });
}

std::vector<std::shared_ptr<mg_connection>> ManagerImpl::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::shared_ptr<mg_connection>> all;
    all.reserve(connections.size());
    for (const auto& [key, c] : connections) {
        all.push_back(c);
    }
    return all;
}

std::shared_ptr<ListenerState> ManagerImpl::listenerOf(const mg_connection* c) const {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& listener : listeners) {
        if (listener->record.get() == c) {
            return listener;
        }
    }
    return nullptr;
}

void ManagerImpl::startAccept(const std::shared_ptr<ListenerState>& listener) {
    listener->acceptor.async_accept(
        [this, listener](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !listener->acceptor.is_open()) {
                return;
            }
            if (ec) {
                // Usually a shortage of descriptors: pause instead of spinning.
                OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "accept failed", ec.message());
                listener->retryTimer.expires_after(std::chrono::milliseconds(100));
                listener->retryTimer.async_wait([this, listener](const boost::system::error_code& wait) {
                    if (!wait) {
                        startAccept(listener);
                    }
                });
                return;
            }
            onAccepted(listener, std::move(socket));
            startAccept(listener);
        });
}

// ---------------------------------------------------------------------------------------------------
// mg_mgr

mg_mgr::mg_mgr(void* userData, EngineLimits limits)
    : m_impl(std::make_unique<ManagerImpl>(this, userData, limits)) {}

mg_mgr::~mg_mgr() = default;

void* mg_mgr::userData() const { return m_impl->userData; }

const EngineLimits& mg_mgr::limits() const { return m_impl->limits; }

void mg_mgr::poll(int milliseconds) {
    if (m_impl->io.stopped()) {
        m_impl->io.restart();
    }
    m_impl->io.run_for(std::chrono::milliseconds(std::max(milliseconds, 0)));
    double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (const auto& c : m_impl->snapshot()) {
        if (!c->m_closed) {
            m_impl->dispatch(c.get(), MG_EV_POLL, &now);
        }
    }
}

void mg_mgr::wakeUp() {
    asio::post(m_impl->io, [impl = m_impl.get()] { impl->io.stop(); });
}

mg_connection* mg_mgr::bind(const std::string& address, mg_event_handler_t handler,
                            const mg_bind_opts& opts) {
    auto fail = [&opts](const std::string& reason) -> mg_connection* {
        if (opts.error_string != nullptr) {
            *opts.error_string = reason;
        }
        return nullptr;
    };
    std::string host;
    std::uint16_t port = 0;
    if (!splitAddress(address, host, port)) {
        return fail("cannot parse address");
    }
    boost::system::error_code ec;
    const auto ip = asio::ip::make_address(host, ec);
    if (ec) {
        return fail("cannot parse address");
    }
    auto listener = std::make_shared<ListenerState>(m_impl->io);
    const tcp::endpoint endpoint(ip, port);
    listener->acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        listener->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        listener->acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        listener->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        return fail(ec.message());
    }
    // An empty certificate path means no TLS.
    if (opts.ssl_cert != nullptr && *opts.ssl_cert != '\0') {
        auto ctx = newServerContext();
        std::string reason;
        if (!loadTlsFromFiles(*ctx, opts.ssl_cert, opts.ssl_key != nullptr ? opts.ssl_key : "", reason)) {
            return fail(reason);
        }
        listener->tls = std::move(ctx);
    }
    auto record = std::shared_ptr<mg_connection>(new mg_connection());
    record->m_mgr = this;
    record->user_data = opts.user_data;
    record->flags = MG_F_LISTENING;
    record->m_handler = std::move(handler);
    const auto local = listener->acceptor.local_endpoint(ec);
    record->m_localPort = local.port();
    record->m_remotePort = local.port();
    record->m_localAddress = local.address().to_string();
    record->m_peerAddress = endpointText(local);
    listener->record = record;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->listeners.push_back(listener);
        m_impl->connections.emplace(record.get(), record);
    }
    return record.get();
}

void mg_mgr::setProtocolHttpWebsocket(mg_connection* listenerRecord) {
    auto listener = m_impl->listenerOf(listenerRecord);
    if (!listener) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(listener->mutex);
        if (listener->accepting) {
            return;
        }
        listener->accepting = true;
    }
    // The acceptor is only ever touched on the loop thread once accepting.
    asio::post(m_impl->io, [impl = m_impl.get(), listener] { impl->startAccept(listener); });
}

bool mg_mgr::setSslFromMemory(mg_connection* listenerRecord, const std::vector<unsigned char>& pem,
                              bool chainForm, std::string& error) {
    auto listener = m_impl->listenerOf(listenerRecord);
    auto ctx = newServerContext();
    if (!listener || pem.empty() || !loadTlsFromMemory(*ctx, pem, chainForm)) {
        error = "invalid ssl cert";
        return false;
    }
    std::lock_guard<std::mutex> lock(listener->mutex);
    listener->tls = std::move(ctx);
    return true;
}

void mg_mgr::broadcast(std::function<void(mg_connection*, int, void*)> fn) {
    asio::post(m_impl->io, [impl = m_impl.get(), fn = std::move(fn)] {
        for (const auto& c : impl->snapshot()) {
            if (c->m_closed) {
                continue;
            }
            try {
                fn(c.get(), MG_EV_POLL, nullptr);
            } catch (const std::exception& e) {
                OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "broadcast callable failed", e.what());
            }
        }
    });
}

void mg_mgr::post(std::function<void()> fn) {
    asio::post(m_impl->io, [fn = std::move(fn)] {
        try {
            fn();
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "posted task failed", e.what());
        }
    });
}

void mg_mgr::forEachConnection(const std::function<void(mg_connection*)>& fn) {
    for (const auto& c : m_impl->snapshot()) {
        if (!c->m_closed) {
            fn(c.get());
        }
    }
}

bool mg_mgr::isOpen(const mg_connection* c) const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    const auto it = m_impl->connections.find(c);
    return it != m_impl->connections.end() && !it->second->m_closed;
}

}  // namespace talvern::engine
