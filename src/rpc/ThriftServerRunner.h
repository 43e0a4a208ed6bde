#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace apache::thrift {
class TProcessor;
namespace concurrency {
class ThreadFactory;
}
namespace server {
class TThreadedServer;
}
namespace transport {
class TServerTransport;
}
}  // namespace apache::thrift

namespace talvern::rpc {

/// What one message may make a server allocate: a client declaring a larger string or list is dropped
/// before anything is allocated for it.
inline constexpr int32_t kMaxStringBytes = 16 * 1024 * 1024;
inline constexpr int32_t kMaxContainerElements = 65536;

/// The factory of a server's per-connection threads: each runs with its own alternate signal stack.
std::shared_ptr<apache::thrift::concurrency::ThreadFactory> connectionThreadFactory();

/// Runs one Thrift threaded server (buffered transport, binary protocol, one thread per client) on a
/// thread of its own. `start` returns only once the server listens, or has failed to.
class ThriftServerRunner {
public:
    ThriftServerRunner() = default;
    ~ThriftServerRunner();
    ThriftServerRunner(const ThriftServerRunner&) = delete;
    ThriftServerRunner& operator=(const ThriftServerRunner&) = delete;

    /// Builds the server over `transport` and `processor`, serving at most `clientLimit` clients at once
    /// (further clients wait in the listen backlog). `beforeServe` runs first on the server thread;
    /// `onListening` runs there once the transport listens, before `start` reports success. False when
    /// the server could not listen; true at once when this runner already serves.
    bool start(std::shared_ptr<apache::thrift::transport::TServerTransport> transport,
               std::shared_ptr<apache::thrift::TProcessor> processor, int64_t clientLimit,
               std::function<void()> beforeServe, std::function<void()> onListening);

    bool running() const;

    /// Stops accepting, closes the connections, waits for calls in progress and joins the server thread.
    /// Nothing happens for a runner that does not serve.
    void stop();

private:
    void joinLocked();

    mutable std::mutex m_mutex;  // guards the server and its thread
    std::shared_ptr<apache::thrift::server::TThreadedServer> m_server;
    std::thread m_thread;
};

}  // namespace talvern::rpc
