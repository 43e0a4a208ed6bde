// Feeds arbitrary bytes to the agent's web listener as one connection would deliver them: the engine's
// parser, request construction, the security chain, the routes and their handlers, the reply writer and,
// for an upgrade, the WebSocket side. Every connection must end once the client closes its side, with
// nothing but HTTP written back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "harness/AgentWeb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply =
        talvern::fuzz::AgentWeb::instance().exchange({reinterpret_cast<const char*>(data), size});
    if (!reply.empty() && reply.rfind("HTTP/1.1 ", 0) != 0) {
        std::abort();
    }
    return 0;
}
