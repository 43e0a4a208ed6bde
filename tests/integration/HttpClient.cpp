#include "HttpClient.h"

#include <sstream>

namespace talvern::test {

HttpClient::HttpClient(std::uint16_t port) : m_stream(std::make_unique<LoopbackStream>(port)) {}

HttpClient::HttpClient(std::uint16_t port, const LoopbackStream::Options& options)
    : m_stream(std::make_unique<LoopbackStream>(port, options)) {}

HttpClient::~HttpClient() = default;

bool HttpClient::readMore() { return m_stream->readSome(m_buffer); }

std::optional<HttpReply> HttpClient::request(const std::string& method, const std::string& path,
                                             const std::string& body,
                                             const std::map<std::string, std::string>& headers) {
    if (!connected()) {
        return std::nullopt;
    }
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) {
        text += name + ": " + value + "\r\n";
    }
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    if (!m_stream->write(text)) {
        return std::nullopt;
    }
    std::size_t headEnd;
    while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore()) {
            return std::nullopt;
        }
    }
    HttpReply reply;
    std::istringstream head(m_buffer.substr(0, headEnd));
    std::getline(head, reply.statusLine);
    if (!reply.statusLine.empty() && reply.statusLine.back() == '\r') {
        reply.statusLine.pop_back();
    }
    reply.status = std::stoi(reply.statusLine.substr(9, 3));
    for (std::string line; std::getline(head, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            std::size_t start = value.find_first_not_of(' ');
            reply.headers[line.substr(0, colon)] =
                start == std::string::npos ? std::string() : value.substr(start);
        }
    }
    m_buffer.erase(0, headEnd + 4);
    auto chunked = reply.headers.find("Transfer-Encoding");
    if (chunked != reply.headers.end() && chunked->second == "chunked") {
        for (;;) {
            std::size_t lineEnd;
            while ((lineEnd = m_buffer.find("\r\n")) == std::string::npos) {
                if (!readMore()) {
                    return std::nullopt;
                }
            }
            std::size_t size = std::stoul(m_buffer.substr(0, lineEnd), nullptr, 16);
            while (m_buffer.size() < lineEnd + 2 + size + 2) {
                if (!readMore()) {
                    return std::nullopt;
                }
            }
            reply.body += m_buffer.substr(lineEnd + 2, size);
            m_buffer.erase(0, lineEnd + 2 + size + 2);
            if (size == 0) {
                break;
            }
        }
    } else {
        auto length = reply.headers.find("Content-Length");
        std::size_t size = length == reply.headers.end() ? 0 : std::stoul(length->second);
        while (m_buffer.size() < size) {
            if (!readMore()) {
                return std::nullopt;
            }
        }
        reply.body = m_buffer.substr(0, size);
        m_buffer.erase(0, size);
    }
    return reply;
}

std::optional<HttpReply> HttpClient::once(std::uint16_t port, const std::string& method,
                                          const std::string& path, const std::string& body,
                                          const std::map<std::string, std::string>& headers) {
    HttpClient client(port);
    return client.request(method, path, body, headers);
}

}  // namespace talvern::test
