#pragma once

#include <cstdint>
#include <string>

#include "talvern/IOrigin.h"

namespace talvern {

namespace engine {
class mg_connection;
struct http_message;
}  // namespace engine

/// The listener that received a request and the request's normalised path.
class HttpOrigin : public IHttpOrigin {
public:
    /// Both must be non-null.
    HttpOrigin(engine::http_message* message, engine::mg_connection* connection);
    virtual ~HttpOrigin() = default;

    int type() const override { return 0; }
    const char* address() const override { return m_address.c_str(); }
    std::uint16_t port() const override { return m_port; }
    const char* hostPort() const override { return m_hostPort.c_str(); }
    const char* path() const override { return m_path.c_str(); }

    /// The peer's port (network byte order).
    std::uint16_t remotePort() const { return m_remotePort; }

    /// "/a//b///c" -> "/a/b/c".
    static std::string normalisePath(const std::string& uri);

private:
    std::string m_address;
    std::uint16_t m_port = 0;        // network byte order
    std::uint16_t m_remotePort = 0;  // network byte order
    std::string m_path;
    std::string m_hostPort;
};

}  // namespace talvern
