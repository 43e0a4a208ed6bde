#pragma once

// The agent's web pipeline on a plain loopback listener of its own (127.0.0.1, a free port): the engine,
// the WebSocket server, the security chain, the whitelist, the agent's routes and the event center, wired
// with the controller's own calls. An exchange is one connection: the bytes go in, the write side is
// closed, and everything the agent writes is read until it closes the connection. Polls parked by an
// exchange are answered by events the harness broadcasts while the connection is quiet; a connection
// the agent never closes is reported as a hang (abort).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace talvern::fuzz {

class AgentWeb {
public:
    /// The one pipeline of this process, started on first use and never stopped.
    static AgentWeb& instance();

    std::string exchange(std::string_view bytes);
    std::uint16_t port() const;

    /// The origin the harness authorises; others are foreign.
    static constexpr const char* kAuthorisedOrigin = "https://portal.example.com";

private:
    AgentWeb();
    /// Returns once the loop has finished what it was doing.
    void awaitLoop();
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace talvern::fuzz
