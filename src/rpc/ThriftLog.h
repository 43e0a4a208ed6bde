#pragma once

namespace talvern::rpc {

/// Routes the Thrift library's own messages (dropped clients, bad messages) to the agent's log under the
/// tag "thriftLogger" instead of standard error. Idempotent.
void installThriftLog();

}  // namespace talvern::rpc
