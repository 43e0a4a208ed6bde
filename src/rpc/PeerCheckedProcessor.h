#pragma once

#include <memory>
#include <string>

#include <thrift/TProcessor.h>

#include "rpc/PeerCheck.h"

namespace talvern::rpc {

/// The two refusal lines of a peer check: "<rejection>; Reason: <reason>, value@category --->>> message".
struct PeerRefusalTexts {
    std::string rejection = "RPC will reject the service";
    std::string unknownPeer;  ///< the caller's pid could not be found
    std::string refusedPeer;  ///< the caller was found and refused
};

/// The one authorise path of every RPC call: find the caller's pid, authorise it, and only then hand the
/// call to the service. A refused call gets no reply: `process` answers false, which makes the Thrift
/// server close that connection.
class PeerCheckedProcessor : public apache::thrift::TProcessor {
public:
    PeerCheckedProcessor(std::shared_ptr<apache::thrift::TProcessor> inner, PeerCheck check,
                         PeerRefusalTexts texts);
    bool process(std::shared_ptr<apache::thrift::protocol::TProtocol> in,
                 std::shared_ptr<apache::thrift::protocol::TProtocol> out, void* connectionContext) override;

private:
    std::shared_ptr<apache::thrift::TProcessor> m_inner;
    PeerCheck m_check;
    PeerRefusalTexts m_texts;
};

}  // namespace talvern::rpc
