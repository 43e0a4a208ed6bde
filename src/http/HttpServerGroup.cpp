#include "http/HttpServerGroup.h"

#include "log/Log.h"

namespace talvern {

namespace {
constexpr const char* kTag = "HttpServer";
}

void HttpServerGroup::addServer(const std::string& name, std::shared_ptr<HttpServer> server, bool isDefault) {
    if (!server) {
        return;
    }
    m_servers[name] = server;
    OKV_LOG_TAG_INFO(kTag, "httpServer:{} has been added", name);
    if (isDefault) {
        m_defaultServer = server;
    }
}

std::shared_ptr<HttpServer> HttpServerGroup::server(const std::string& name) const {
    const auto it = m_servers.find(name);
    return it != m_servers.end() ? it->second : nullptr;
}

bool HttpServerGroup::registerMessageHandler(const HttpServer::MessageHandler& handler) {
    return forAll([&handler](HttpServer& server) { return server.registerMessageHandler(handler); },
                  [](const std::string& name, HttpServer&) {
                      OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to registerMessageHandler!{}", name, "");
                  });
}

bool HttpServerGroup::registerServerManager(const std::shared_ptr<HttpServerManager>& manager) {
    bool all = true;
    bool defaultRemoved = false;
    for (auto it = m_servers.begin(); it != m_servers.end();) {
        const auto& [name, server] = *it;
        std::string error;
        if (server->registerServerManager(manager, error)) {
            OKV_LOG_TAG_INFO(kTag, "httpServer:{} succ to registerServerManager, details:{}", name,
                             server->toString());
            ++it;
            continue;
        }
        OKV_LOG_TAG_ERROR(
            kTag, "httpServer:{} fail to registerServerManager!; Reason: msg:{} httpServer details:{}", name,
            error, server->toString());
        all = false;
        if (server == m_defaultServer) {
            m_defaultServer.reset();
            defaultRemoved = true;
        }
        it = m_servers.erase(it);
    }
    if (defaultRemoved && !m_servers.empty()) {
        m_defaultServer = m_servers.begin()->second;
    }
    return all;
}

bool HttpServerGroup::forAll(const std::function<bool(HttpServer&)>& operation,
                             const std::function<void(const std::string&, HttpServer&)>& onFailure) {
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!operation(*server)) {
            onFailure(name, *server);
            all = false;
        }
    }
    return all;
}

bool HttpServerGroup::start() {
    return forAll([](HttpServer& server) { return server.start(); },
                  [](const std::string& name, HttpServer& server) {
                      OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to start!; Reason: httpServer details:{}",
                                        name, server.toString());
                  });
}

bool HttpServerGroup::stop() {
    return forAll([](HttpServer& server) { return server.stop(); },
                  [](const std::string& name, HttpServer& server) {
                      OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to stop!; Reason: httpServer details:{}",
                                        name, server.toString());
                  });
}

bool HttpServerGroup::setReferer(const std::string& referer) {
    return forAll([&referer](HttpServer& server) { return server.setReferer(referer); },
                  [](const std::string& name, HttpServer&) {
                      OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to setReferer!{}", name, "");
                  });
}

bool HttpServerGroup::clearReferer() {
    return forAll([](HttpServer& server) { return server.clearReferer(); },
                  [](const std::string& name, HttpServer&) {
                      OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to clearReferer!{}", name, "");
                  });
}

std::string HttpServerGroup::getReferer() {
    if (m_defaultServer) {
        return m_defaultServer->getReferer();
    }
    if (!m_servers.empty()) {
        return m_servers.begin()->second->getReferer();
    }
    OKV_LOG_TAG_ERROR(kTag, "No httpServer has been added to group but get referer called!");
    return {};
}

bool HttpServerGroup::closeConnections() {
    return forAll([](HttpServer& server) { return server.closeConnections(); },
                  [](const std::string&, HttpServer&) {});
}

}  // namespace talvern
