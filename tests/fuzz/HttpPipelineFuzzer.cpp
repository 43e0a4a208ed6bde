// Feeds arbitrary bytes to the agent's web listener as one connection would deliver them: the engine's
// parser, request construction, the security chain, the routes and their handlers, the reply writer and,
// for an upgrade, the WebSocket side. Every connection must end once the client closes its side, with
// nothing but HTTP written back.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "harness/AgentWeb.h"

namespace {

// Polls on the events route and upgrades wait for events: those connections stay open until one came.
bool mayWait(std::string_view bytes) {
    std::string lowered(bytes.substr(0, 4096));
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered.find("events") != std::string::npos || lowered.find("upgrade") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string reply = talvern::fuzz::AgentWeb::instance().exchange(bytes, mayWait(bytes));
    if (!reply.empty() && reply.rfind("HTTP/1.1 ", 0) != 0) {
        std::abort();
    }
    return 0;
}
