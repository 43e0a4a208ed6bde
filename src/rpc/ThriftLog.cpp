#include "rpc/ThriftLog.h"

#include <thrift/Thrift.h>

#include <mutex>

#include "log/Log.h"

namespace talvern::rpc {

namespace {
void writeThriftMessage(const char* message) {
    OKV_LOG_TAG_WARN("thriftLogger", "{}", message ? message : "");
}
}  // namespace

void installThriftLog() {
    static std::once_flag once;
    std::call_once(once, [] { apache::thrift::GlobalOutput.setOutputFunction(&writeThriftMessage); });
}

}  // namespace talvern::rpc
