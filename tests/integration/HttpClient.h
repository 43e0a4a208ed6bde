#pragma once

// An HTTP/1.1 client for tests, over TLS like the agent's listeners (the peer is not verified unless the
// options ask for it): one request on a fresh loopback connection (or several on one kept-alive
// connection), the whole reply read back, chunked bodies decoded.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "LoopbackStream.h"

namespace talvern::test {

struct HttpReply {
    std::string statusLine;
    int status = 0;
    std::map<std::string, std::string> headers;  ///< names as sent
    std::string body;                            ///< decoded
};

class HttpClient {
public:
    explicit HttpClient(std::uint16_t port);
    HttpClient(std::uint16_t port, const LoopbackStream::Options& options);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return m_stream->connected(); }
    /// Sends a request and reads its reply; empty when the connection failed or closed first.
    std::optional<HttpReply> request(const std::string& method, const std::string& path,
                                     const std::string& body = {},
                                     const std::map<std::string, std::string>& headers = {});

    /// One request on its own connection.
    static std::optional<HttpReply> once(std::uint16_t port, const std::string& method,
                                         const std::string& path, const std::string& body = {},
                                         const std::map<std::string, std::string>& headers = {});

    /// The connection under the client (its TLS peer, or raw bytes for other protocols).
    LoopbackStream& stream() { return *m_stream; }

private:
    bool readMore();
    std::unique_ptr<LoopbackStream> m_stream;
    std::string m_buffer;
};

}  // namespace talvern::test
