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
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!server->registerMessageHandler(handler)) {
            OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to registerMessageHandler!{}", name, "");
            all = false;
        }
    }
    return all;
}

bool HttpServerGroup::registerServerManager(const std::shared_ptr<HttpServerManager>& manager) {
    bool all = true;
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
        }
        it = m_servers.erase(it);
    }
    if (!m_defaultServer && !all && !m_servers.empty()) {
        m_defaultServer = m_servers.begin()->second;
    }
    return all;
}

bool HttpServerGroup::start() {
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!server->start()) {
            OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to start!; Reason: httpServer details:{}", name,
                              server->toString());
            all = false;
        }
    }
    return all;
}

bool HttpServerGroup::stop() {
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!server->stop()) {
            OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to stop!; Reason: httpServer details:{}", name,
                              server->toString());
            all = false;
        }
    }
    return all;
}

bool HttpServerGroup::setReferer(const std::string& referer) {
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!server->setReferer(referer)) {
            OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to setReferer!{}", name, "");
            all = false;
        }
    }
    return all;
}

bool HttpServerGroup::clearReferer() {
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        if (!server->clearReferer()) {
            OKV_LOG_TAG_ERROR(kTag, "httpServer:{} fail to clearReferer!{}", name, "");
            all = false;
        }
    }
    return all;
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
    bool all = true;
    for (const auto& [name, server] : m_servers) {
        all = server->closeConnections() && all;
    }
    return all;
}

}  // namespace talvern
