#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talvern {

namespace engine {
class mg_connection;
}  // namespace engine

class HttpServerManager;
class IndependentLogObj;
class IRequest;
class IResponse;

/// One loopback listener over a port range, with its ordered message handlers. Owned through a
/// shared handle so that its listener's events stop when it goes.
class HttpServer : public std::enable_shared_from_this<HttpServer> {
public:
    using MessageHandler = std::function<bool(IRequest*, IResponse*)>;
    /// Sets a cross-origin grant's headers on a preflight's answer; true when it granted.
    using PreflightGrant = std::function<bool(IRequest&, IResponse&)>;

    /// Ports from `firstPort` while below `endPort`, `step` apart (0: `firstPort` only). A non-empty
    /// certificate (PEM with key; mode 2: followed by its chain) makes the listener TLS.
    HttpServer(std::string address, std::uint16_t firstPort, std::uint16_t endPort, std::uint16_t step,
               std::vector<unsigned char> certificate = {}, int certificateMode = 0);
    virtual ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Stores the normalised, lower-cased Referer.
    virtual bool setReferer(const std::string& referer);
    virtual std::string getReferer();
    virtual bool clearReferer();
    /// Closes every client connection of the manager (listeners stay), on the loop thread.
    virtual bool closeConnections();
    virtual bool start();
    virtual bool stop();
    /// The engine event handler (loop thread).
    virtual void onEvent(engine::mg_connection* nc, int event, void* p);

    /// Binds (see the class comment); false with `error` set (empty) when no listener serves.
    bool registerServerManager(const std::shared_ptr<HttpServerManager>& pManager, std::string& error);
    /// Appends a handler; handlers are tried in order until one returns true.
    bool registerMessageHandler(MessageHandler handler);
    /// Who grants cross-origin preflights (none: only the private-network answer).
    void setPreflightGrant(PreflightGrant grant);
    /// Cross-origin header, preflights (private network, granted origins) and request logging; false
    /// when answered.
    bool preHandleMessage(IRequest* request, IResponse* response);
    /// The 403 refusal.
    bool commonHandleMessage(IRequest* req, IResponse* resp);
    std::string toString();

    /// The server's own rolling log "oKavelHttpServer.log" (null when it could not be opened).
    const std::shared_ptr<IndependentLogObj>& serverLog() const { return m_serverLog; }
    /// The bound port (0 until bound).
    std::uint16_t port() const { return m_port.load(); }
    /// The listen address.
    const std::string& address() const { return m_address; }
    void setVerbose(bool verbose) { m_verbose = verbose; }
    /// TLS from files instead of memory (both must be set).
    void setCertificateFiles(std::string certificatePath, std::string keyPath);
    /// The pause between binding passes (300 ms).
    void setBindPassPause(std::chrono::milliseconds pause) { m_bindPassPause = pause; }
    /// Sees every port a binding attempt tries (diagnostics).
    void setBindAttemptObserver(std::function<void(std::uint16_t)> observer) {
        m_bindObserver = std::move(observer);
    }
    /// The text of the refusal body (the message catalogue's "Invalid request." in the display language).

protected:
    std::shared_ptr<HttpServerManager> manager();
    /// Creates the request/response pair of an HTTP request and runs pre-handling and the handlers.
    void dispatchRequest(engine::mg_connection* nc, void* p);
    /// The next request number of the process (never 0).
    static std::uint32_t nextRequestNumber();

private:
    bool bindOnce(HttpServerManager& manager, std::uint16_t port);

    std::weak_ptr<HttpServerManager> m_manager;
    std::string m_address;
    std::atomic<std::uint16_t> m_port{0};
    std::uint16_t m_firstPort;
    std::uint16_t m_endPort;
    std::uint16_t m_step;
    int m_certificateMode;
    // Replaced as a whole when a handler is added, so a request takes the list without copying it.
    std::shared_ptr<const std::vector<MessageHandler>> m_handlers =
        std::make_shared<std::vector<MessageHandler>>();
    PreflightGrant m_preflightGrant;
    std::vector<unsigned char> m_certificate;
    std::string m_certificatePath;
    std::string m_keyPath;
    engine::mg_connection* m_listener = nullptr;
    std::string m_referer;
    std::mutex m_mutex;  // guards the Referer, the handler list, the preflight grant and the manager handle
    bool m_verbose = true;
    std::chrono::milliseconds m_bindPassPause{300};
    std::function<void(std::uint16_t)> m_bindObserver;
    std::shared_ptr<IndependentLogObj> m_serverLog;
};

}  // namespace talvern
