#pragma once

// The agent's web pipeline on a plain loopback listener of its own (127.0.0.1, a free port): the engine,
// the WebSocket server, the security chain, the whitelist, the agent's routes and the event center, wired
// with the controller's own calls. An exchange is one connection: the bytes go in, the write side is
// closed, and everything the agent writes is read until it closes the connection. While the connection
// is quiet the harness broadcasts an event (answering parked polls, pushing to sockets); a connection
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

    /// `linger`: keep the connection open until the agent is quiet, so that replies and pushes to parked
    /// polls and sockets are written before the peer goes. `afterHead` is sent once the head of the
    /// agent's first reply came (WebSocket frames after the upgrade).
    std::string exchange(std::string_view bytes, bool linger = false, std::string_view afterHead = {});
    std::uint16_t port() const;

    /// The origin the harness authorises; others are foreign.
    static constexpr const char* kAuthorisedOrigin = "https://portal.example.com";

private:
    AgentWeb();
    /// Returns once no poll is parked and no accepted connection is open: an exchange leaves nothing in
    /// flight to the next one, or to the process's exit.
    void awaitQuiet();
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace talvern::fuzz
