#pragma once

#include <cstdint>
#include <memory>
#include <system_error>

#include "rpc/PeerCheckedProcessor.h"

namespace talvern::rpc {

/// The process at the other end of the TCP connection a call arrived on (the owner of the client's end of
/// the loopback connection); 0 with ec set when it cannot be found. The owner is looked up once per
/// connection: later calls on it reuse the answer.
std::uint32_t getPidForTcpTransport(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                                    std::error_code& ec);

/// The process at the other end of the local-socket connection a call arrived on; 0 with ec set.
std::uint32_t getPidForPipeTransport(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                                     std::error_code& ec);

/// True when the process is the agent itself or runs an executable with the maker's signature; positive
/// verdicts are kept in the process-wide sign cache.
bool isTalvernProcess(std::uint32_t pid, std::error_code& ec);

/// Lets a TCP call through to the guarded service only when its caller is a maker-signed process. A refused
/// call gets no reply and its connection is closed.
class AuthTcpProcessor : public PeerCheckedProcessor {
public:
    explicit AuthTcpProcessor(std::shared_ptr<apache::thrift::TProcessor> processor);
};

/// The same for calls over the local socket.
class AuthPipeProcessor : public PeerCheckedProcessor {
public:
    explicit AuthPipeProcessor(std::shared_ptr<apache::thrift::TProcessor> processor);
};

}  // namespace talvern::rpc
