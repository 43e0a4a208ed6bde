#pragma once

// A client of the agent's loopback listeners for tests: HTTP/1.1 requests over TLS on one kept-alive
// connection (the peer verified only when the options name trusted certificates), which may then be
// upgraded to a WebSocket. Every step gives up after a time-out instead of hanging a test.

#include <utility>

#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talvern::test {

/// A reply; its status is 0 when none came.
using HttpReply = boost::beast::http::response<boost::beast::http::string_body>;
using Headers = std::map<std::string, std::string>;

class HttpClient {
public:
    struct Options {
        /// PEM file of trust anchors; when set the peer's chain must verify against it and name expectedHost
        /// (a DNS name or an IP address).
        std::string trustedCertificates;
        std::string expectedHost;
        std::chrono::milliseconds timeout{10000};
    };

    explicit HttpClient(std::uint16_t port) : HttpClient(port, Options{}) {}
    HttpClient(std::uint16_t port, const Options& options);

    /// True once connected and the TLS handshake (and any verification) succeeded.
    bool connected() const { return m_error.empty(); }
    /// Why the connection failed (empty when connected).
    const std::string& error() const { return m_error; }
    /// The certificates the peer sent, leaf first, each as its subject ("/CN=.../O=...").
    std::vector<std::string> peerChain();

    /// Sends a request and reads its reply.
    HttpReply request(const std::string& method, const std::string& path, const std::string& body = {},
                      const Headers& headers = {});
    /// One request on its own connection.
    static HttpReply once(std::uint16_t port, const std::string& method, const std::string& path,
                          const std::string& body = {}, const Headers& headers = {}) {
        return HttpClient(port).request(method, path, body, headers);
    }

    /// Asks for a WebSocket on the connection: the server's answer (101 when granted).
    HttpReply upgrade(const std::string& path, const Headers& headers = {});
    bool sendText(const std::string& text);
    /// The next message (pings are answered); empty once the socket closed.
    std::string readText();

private:
    /// Runs the asynchronous operation start begins to its end or the time-out; its result.
    template <class Start>
    boost::system::error_code await(Start start);

    std::chrono::milliseconds m_timeout;
    boost::asio::io_context m_io;
    boost::asio::ssl::context m_tls{boost::asio::ssl::context::tls_client};
    boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>> m_socket{m_io, m_tls};
    boost::beast::flat_buffer m_buffer;
    std::string m_error;
};

}  // namespace talvern::test
