#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

namespace apache::thrift {
class TProcessor;
namespace protocol {
class TProtocol;
}
namespace transport {
class TSocket;
}
}  // namespace apache::thrift

namespace talvern::rpc {

/// Finds the process at the other end of the connection a call arrived on: its pid, or 0 with `ec` set.
using PeerPidResolver = std::function<uint32_t(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                                               std::error_code& ec)>;

/// Decides whether the process `pid` may be served; false refuses the call (`ec` may say why).
using PeerAuthorizer = std::function<bool(uint32_t pid, std::error_code& ec)>;

/// The check every call passes before it reaches a service. Both parts set: the peer's pid is found and
/// authorised for each call. Both empty: every call is let through.
struct PeerCheck {
    PeerPidResolver resolvePid;
    PeerAuthorizer authorize;

    bool enabled() const { return resolvePid && authorize; }
};

/// Wraps a service processor so that every call first passes `check`. A refused call gets no reply: the
/// wrapper answers false, which makes the Thrift server close that connection. `transport` ("TCP", "Pipe")
/// names the carrier in the log.
std::shared_ptr<apache::thrift::TProcessor> guardWithPeerCheck(
    std::shared_ptr<apache::thrift::TProcessor> processor, PeerCheck check, std::string transport);

/// The socket a call arrived on (under the buffered transport), for finding its peer: `getSocketFD()` on the
/// local socket, `getPeerPort()` on TCP. Null when the call did not come over a socket.
std::shared_ptr<apache::thrift::transport::TSocket> callSocket(
    const std::shared_ptr<apache::thrift::protocol::TProtocol>& in);

}  // namespace talvern::rpc
