#include "http/HttpOrigin.h"

#include <arpa/inet.h>

#include <regex>

#include "http/engine/Engine.h"
#include "log/Check.h"

namespace talvern {

HttpOrigin::HttpOrigin(engine::http_message* message, engine::mg_connection* nc) {
    OKV_ENSURE_OR_RETURN(message && nc, "message or nc cann't be null pointer");
    m_address = nc->localAddress();
    m_port = htons(nc->localPort());
    m_remotePort = htons(nc->remotePort());
    m_path = normalisePath(std::string(message->uri.view()));
    m_hostPort = m_address + ":" + std::to_string(nc->localPort());
}

std::string HttpOrigin::normalisePath(const std::string& uri) {
    if (uri.find("//") == std::string::npos) {
        return uri;  // nothing to collapse: the usual case costs no expression run
    }
    static const std::regex slashes("/+");
    return std::regex_replace(uri, slashes, "/");
}

}  // namespace talvern
