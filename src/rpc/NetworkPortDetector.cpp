#include "rpc/NetworkPortDetector.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace talvern::utilities {

NetworkPortDetector::~NetworkPortDetector() { close(); }

bool NetworkPortDetector::open(const std::string& host, uint16_t port, std::error_code& ec) {
    close();
    ec.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
        rc != 0) {
        ec = std::make_error_code(std::errc::address_not_available);
        return false;
    }
    m_fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    // Like the real listener: connections of an earlier run in TIME_WAIT do not make the port look taken.
    const int reuse = 1;
    if (m_fd >= 0) {
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    }
    if (m_fd < 0 || ::bind(m_fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(m_fd, SOMAXCONN) != 0) {
        ec = std::error_code(errno, std::system_category());
        ::freeaddrinfo(found);
        close();
        return false;
    }
    ::freeaddrinfo(found);
    return true;
}

void NetworkPortDetector::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace talvern::utilities
