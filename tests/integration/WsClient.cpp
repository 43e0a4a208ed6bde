#include "WsClient.h"

#include <random>

namespace talvern::test {

int WsFrame::closeCode() const {
    if (opcode != 8 || payload.size() < 2) {
        return 0;
    }
    return (static_cast<unsigned char>(payload[0]) << 8) | static_cast<unsigned char>(payload[1]);
}

WsClient::WsClient(ReadFn read, WriteFn write, std::function<void()> close)
    : m_read(std::move(read)), m_write(std::move(write)), m_close(std::move(close)) {}

WsClient::~WsClient() {
    if (m_close) {
        m_close();
    }
}

std::unique_ptr<WsClient> WsClient::connect(std::uint16_t port, const LoopbackStream::Options& options) {
    auto stream = std::make_shared<LoopbackStream>(port, options);
    if (!stream->connected()) {
        return nullptr;
    }
    return std::make_unique<WsClient>(
        [stream](char* buffer, std::size_t size) { return static_cast<long>(stream->read(buffer, size)); },
        [stream](const char* data, std::size_t size) { return stream->write(std::string_view(data, size)); },
        [stream] { stream->close(); });
}

bool WsClient::handshake(const std::string& path, const std::map<std::string, std::string>& headers) {
    std::string request = "GET " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    for (const auto& [name, value] : headers) {
        request += name + ": " + value + "\r\n";
    }
    request += "\r\n";
    if (!m_write(request.data(), request.size())) {
        return false;
    }
    std::size_t end;
    while ((end = m_pending.find("\r\n\r\n")) == std::string::npos) {
        if (!fill(m_pending.size() + 1)) {
            return false;
        }
    }
    const bool switched = m_pending.compare(0, 12, "HTTP/1.1 101") == 0;
    m_pending.erase(0, end + 4);
    return switched;
}

bool WsClient::sendText(const std::string& text) { return sendFrame(1, text); }

bool WsClient::sendFrame(int opcode, const std::string& payload) {
    std::string frame;
    frame += static_cast<char>(0x80 | opcode);
    const std::size_t size = payload.size();
    if (size < 126) {
        frame += static_cast<char>(0x80 | size);
    } else if (size < 65536) {
        frame += static_cast<char>(0x80 | 126);
        frame += static_cast<char>((size >> 8) & 0xff);
        frame += static_cast<char>(size & 0xff);
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            frame += static_cast<char>((static_cast<std::uint64_t>(size) >> shift) & 0xff);
        }
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
    return m_write(frame.data(), frame.size());
}

bool WsClient::fill(std::size_t size) {
    char buffer[4096];
    while (m_pending.size() < size) {
        const long n = m_read(buffer, sizeof(buffer));
        if (n <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<WsFrame> WsClient::readFrame() {
    while (true) {
        if (!fill(2)) {
            return std::nullopt;
        }
        WsFrame frame;
        frame.opcode = static_cast<unsigned char>(m_pending[0]) & 0x0f;
        std::uint64_t size = static_cast<unsigned char>(m_pending[1]) & 0x7f;
        std::size_t head = 2;
        if (size == 126 || size == 127) {
            const std::size_t lengthBytes = size == 126 ? 2 : 8;
            if (!fill(2 + lengthBytes)) {
                return std::nullopt;
            }
            size = 0;
            for (std::size_t i = 0; i < lengthBytes; ++i) {
                size = (size << 8) | static_cast<unsigned char>(m_pending[2 + i]);
            }
            head += lengthBytes;
        }
        if (!fill(head + size)) {
            return std::nullopt;
        }
        frame.payload = m_pending.substr(head, size);
        m_pending.erase(0, head + size);
        if (frame.opcode == 9) {
            sendFrame(10, frame.payload);
            continue;
        }
        return frame;
    }
}

}  // namespace talvern::test
