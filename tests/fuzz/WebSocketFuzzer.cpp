// Feeds WebSocket frames to the agent after an upgrade. The first byte picks the handshake (bits 0-1:
// trusted program, authorised page, foreign page, no credentials) and whether the socket stays open
// for a pushed event (bit 2); the rest is a list of frames, each
//     [FIN RSV1-3 opcode] [bit 7: leave unmasked, bits 0-1: length form] [length: 2 bytes] [payload]
// so that the payload (JSON with "seq", "version", "mode" ...) stays readable in the corpus while
// the harness masks it. Length forms: 0 shortest, 1 16-bit, 2 64-bit, 3 claims 1000 bytes more than follow.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "harness/AgentWeb.h"

namespace {

using talvern::fuzz::AgentWeb;

std::string handshake(std::uint8_t choice) {
    static const std::array<std::string, 4> credentials = {
        "User-Agent: oKavelTray/1.0\r\n",
        std::string("Origin: ") + AgentWeb::kAuthorisedOrigin + "\r\n",
        "Origin: https://foreign.example\r\n",
        "",
    };
    return "GET /v1/service/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: "
           "Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           credentials[choice % credentials.size()] + "\r\n";
}

void appendLength(std::string& out, std::uint8_t maskBit, int form, std::uint64_t length) {
    if (form == 0 && length < 126) {
        out += static_cast<char>(maskBit | length);
    } else if (form <= 1 && length <= 0xFFFF) {
        out += static_cast<char>(maskBit | 126);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(length & 0xFF);
    } else {
        out += static_cast<char>(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            out += static_cast<char>((length >> shift) & 0xFF);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::uint8_t kMask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string bytes;
    for (std::size_t at = 1; at + 4 <= size;) {
        const std::uint8_t head = data[at];
        const std::uint8_t form = data[at + 1];
        std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        at += 4;
        length = std::min(length, size - at);
        const bool masked = (form & 0x80) == 0;
        bytes += static_cast<char>(head);
        appendLength(bytes, masked ? 0x80 : 0, form & 3, (form & 3) == 3 ? length + 1000 : length);
        if (masked) {
            bytes.append(reinterpret_cast<const char*>(kMask), sizeof(kMask));
        }
        for (std::size_t i = 0; i < length; ++i) {
            bytes += static_cast<char>(data[at + i] ^ (masked ? kMask[i % 4] : 0));
        }
        at += length;
    }
    const std::string reply = AgentWeb::instance().exchange(handshake(data[0]), (data[0] & 4) != 0, bytes);
    if (!reply.empty() && reply.rfind("HTTP/1.1 ", 0) != 0) {
        std::abort();
    }
    return 0;
}
