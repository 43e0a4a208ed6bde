#pragma once

// Tests run their agents with the fixed ports moved by OKAVEL_PORT_OFFSET, so that an agent on the
// default ports (an installed one, another engineer's) neither blocks them nor gets joined by them.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>

namespace talvern::test {

/// A TCP socket bound to the loopback port (0: the kernel's choice; address reuse on, as the agent binds),
/// with the address it got; -1 when the port is taken.
inline int boundLoopbackSocket(std::uint16_t port, sockaddr_in& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return fd;
}

/// True when nobody listens on the loopback port.
inline bool loopbackPortFree(std::uint16_t port) {
    sockaddr_in address;
    const int fd = boundLoopbackSocket(port, address);
    ::close(fd);
    return fd >= 0;
}

/// A loopback TCP port that was free a moment ago (the kernel's choice).
inline std::uint16_t freeTcpPort() {
    sockaddr_in address;
    ::close(boundLoopbackSocket(0, address));
    return ntohs(address.sin_port);
}

/// An offset (1000 or more) under which every fixed port of the agent and its 11-step candidates are
/// free; 0 when none is found.
inline std::uint16_t freePortOffset() {
    // Spread by process id, so that test programs running side by side start from different offsets.
    const int start = static_cast<int>(::getpid() % 53);
    for (int i = 0; i < 53; ++i) {
        const int offset = 1000 + 100 * ((start + i) % 53) + 7;
        bool free = true;
        // The web servers try three ports each, the other services eight.
        for (int first : {54630, 54631, 56630, 57630, 58630}) {
            for (int k = 0; free && k < (first < 56000 ? 3 : 8); ++k) {
                free = loopbackPortFree(static_cast<std::uint16_t>(first + offset + 11 * k));
            }
        }
        if (free) {
            return static_cast<std::uint16_t>(offset);
        }
    }
    return 0;
}

}  // namespace talvern::test
