#include "HttpClient.h"

#include <random>

namespace talvern::test {

int WsFrame::closeCode() const {
    if (opcode != 8 || payload.size() < 2) {
        return 0;
    }
    return (static_cast<unsigned char>(payload[0]) << 8) | static_cast<unsigned char>(payload[1]);
}

bool HttpClient::fill(std::size_t size) {
    while (m_buffer.size() < size) {
        if (!m_stream.readSome(m_buffer)) {
            return false;
        }
    }
    return true;
}

std::size_t HttpClient::fillUntil(const std::string& text) {
    std::size_t at;
    while ((at = m_buffer.find(text)) == std::string::npos) {
        if (!m_stream.readSome(m_buffer)) {
            break;
        }
    }
    return at;
}

std::optional<HttpReply> HttpClient::request(const std::string& method, const std::string& path,
                                             const std::string& body,
                                             const std::map<std::string, std::string>& headers) {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) {
        text += name + ": " + value + "\r\n";
    }
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    const std::size_t headEnd = m_stream.write(text) ? fillUntil("\r\n\r\n") : std::string::npos;
    if (headEnd == std::string::npos) {
        return std::nullopt;
    }
    HttpReply reply;
    const std::string head = m_buffer.substr(0, headEnd + 2);
    m_buffer.erase(0, headEnd + 4);
    for (std::size_t at = 0, end; (end = head.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = head.substr(at, end - at);
        const std::size_t colon = line.find(':');
        if (at == 0) {
            reply.statusLine = line;
        } else if (colon != std::string::npos) {
            const std::size_t value = line.find_first_not_of(' ', colon + 1);
            reply.headers[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
        }
    }
    reply.status = std::stoi(reply.statusLine.substr(9, 3));
    const auto header = [&reply](const std::string& name) {
        auto found = reply.headers.find(name);
        return found == reply.headers.end() ? std::string() : found->second;
    };
    // Replies to HEAD, 1xx, 204 and 304 are their head alone, whatever the head announces.
    if (method == "HEAD" || reply.status < 200 || reply.status == 204 || reply.status == 304) {
        return reply;
    }
    if (header("Transfer-Encoding") != "chunked") {
        const std::string length = header("Content-Length");
        const std::size_t size = length.empty() ? 0 : std::stoul(length);
        if (!fill(size)) {
            return std::nullopt;
        }
        reply.body = m_buffer.substr(0, size);
        m_buffer.erase(0, size);
        return reply;
    }
    for (std::size_t size = 1; size != 0;) {
        const std::size_t lineEnd = fillUntil("\r\n");
        if (lineEnd == std::string::npos) {
            return std::nullopt;
        }
        size = std::stoul(m_buffer.substr(0, lineEnd), nullptr, 16);
        if (!fill(lineEnd + 2 + size + 2)) {
            return std::nullopt;
        }
        reply.body += m_buffer.substr(lineEnd + 2, size);
        m_buffer.erase(0, lineEnd + 2 + size + 2);
    }
    return reply;
}

std::optional<HttpReply> HttpClient::upgradeReply(const std::string& path,
                                                  std::map<std::string, std::string> headers) {
    headers.insert({{"Upgrade", "websocket"},
                    {"Connection", "Upgrade"},
                    {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="},
                    {"Sec-WebSocket-Version", "13"}});
    return request("GET", path, "", headers);
}

bool HttpClient::sendFrame(int opcode, const std::string& payload) {
    const std::size_t size = payload.size();
    const int lengthBytes = size < 126 ? 0 : size < 65536 ? 2 : 8;
    const std::size_t lengthCode = lengthBytes == 0 ? size : lengthBytes == 2 ? 126 : 127;
    std::string frame{static_cast<char>(0x80 | opcode), static_cast<char>(0x80 | lengthCode)};
    for (int i = lengthBytes - 1; i >= 0; --i) {
        frame += static_cast<char>((static_cast<std::uint64_t>(size) >> (8 * i)) & 0xff);
    }
    static thread_local std::mt19937 random{std::random_device{}()};
    char mask[4];
    for (char& byte : mask) {
        byte = static_cast<char>(random() & 0xff);
    }
    frame.append(mask, 4);
    for (std::size_t i = 0; i < size; ++i) {
        frame += static_cast<char>(payload[i] ^ mask[i % 4]);
    }
    return m_stream.write(frame);
}

std::optional<WsFrame> HttpClient::readFrame() {
    for (;;) {
        if (!fill(2)) {
            return std::nullopt;
        }
        WsFrame frame;
        frame.opcode = static_cast<unsigned char>(m_buffer[0]) & 0x0f;
        std::uint64_t size = static_cast<unsigned char>(m_buffer[1]) & 0x7f;
        const std::size_t lengthBytes = size == 126 ? 2 : size == 127 ? 8 : 0;
        if (!fill(2 + lengthBytes)) {
            return std::nullopt;
        }
        if (lengthBytes > 0) {
            size = 0;
        }
        for (std::size_t i = 0; i < lengthBytes; ++i) {
            size = (size << 8) | static_cast<unsigned char>(m_buffer[2 + i]);
        }
        const std::size_t head = 2 + lengthBytes;
        if (!fill(head + size)) {
            return std::nullopt;
        }
        frame.payload = m_buffer.substr(head, size);
        m_buffer.erase(0, head + size);
        if (frame.opcode != 9) {
            return frame;
        }
        sendFrame(10, frame.payload);
    }
}

}  // namespace talvern::test
