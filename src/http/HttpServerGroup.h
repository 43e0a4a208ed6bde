#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "http/HttpServer.h"

namespace talvern {

class HttpServerManager;

/// Several servers treated as one; every operation visits the servers in name order.
class HttpServerGroup {
public:
    HttpServerGroup() = default;
    virtual ~HttpServerGroup() = default;
    HttpServerGroup(const HttpServerGroup&) = delete;
    HttpServerGroup& operator=(const HttpServerGroup&) = delete;

    virtual bool setReferer(const std::string& referer);
    virtual std::string getReferer();
    virtual bool clearReferer();
    virtual bool closeConnections();

    /// Stores the server under `name` (a null server is ignored); `isDefault` makes it the default.
    void addServer(const std::string& name, std::shared_ptr<HttpServer> server, bool isDefault);
    /// Registers the handler on every server; true when all accepted it.
    bool registerMessageHandler(const HttpServer::MessageHandler& handler);
    /// Binds every server; those that fail leave the group. True when all bound.
    bool registerServerManager(const std::shared_ptr<HttpServerManager>& manager);
    bool start();
    bool stop();

    std::shared_ptr<HttpServer> server(const std::string& name) const;
    std::shared_ptr<HttpServer> defaultServer() const { return m_defaultServer; }
    const std::map<std::string, std::shared_ptr<HttpServer>>& servers() const { return m_servers; }

protected:
    /// Applies `operation` to every server; `onFailure` logs each one that fails. True when none failed.
    bool forAll(const std::function<bool(HttpServer&)>& operation,
                const std::function<void(const std::string&, HttpServer&)>& onFailure);

    std::map<std::string, std::shared_ptr<HttpServer>> m_servers;
    std::shared_ptr<HttpServer> m_defaultServer;
};

}  // namespace talvern
