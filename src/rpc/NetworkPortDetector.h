#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace talvern::utilities {

/// Tests that a TCP address and port can be bound, and keeps them bound until closed, so that nobody
/// takes the port between the test and the real listener.
class NetworkPortDetector {
public:
    NetworkPortDetector() = default;
    ~NetworkPortDetector();
    NetworkPortDetector(const NetworkPortDetector&) = delete;
    NetworkPortDetector& operator=(const NetworkPortDetector&) = delete;

    /// Resolves the host, opens a socket of its family, binds it to the port and listens with the system's
    /// maximum backlog. False with the error when any step fails (the socket is then closed).
    bool open(const std::string& host, uint16_t port, std::error_code& ec);

    bool isOpen() const { return m_fd >= 0; }

    /// Releases the port.
    void close();

private:
    int m_fd = -1;
};

}  // namespace talvern::utilities
