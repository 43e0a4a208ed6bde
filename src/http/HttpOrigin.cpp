#include "http/HttpOrigin.h"

#include <arpa/inet.h>

#include <regex>

#include "http/engine/Engine.h"
#include "log/Check.h"

namespace talvern {

HttpOrigin::HttpOrigin(engine::http_message* message, engine::mg_connection* connection) {
    OKV_ENSURE(message && connection, "message or nc cann't be null pointer");
    if (message == nullptr || connection == nullptr) {
        return;
    }
    m_address = connection->localAddress();
    m_port = htons(connection->localPort());
    m_remotePort = htons(connection->remotePort());
    m_path = normalisePath(std::string(message->uri.view()));
    m_hostPort = m_address + ":" + std::to_string(connection->localPort());
}

std::string HttpOrigin::normalisePath(const std::string& uri) {
    static const std::regex slashes("/+");
    return std::regex_replace(uri, slashes, "/");
}

}  // namespace talvern
