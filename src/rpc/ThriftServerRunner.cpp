#include "rpc/ThriftServerRunner.h"

#include <thrift/concurrency/ThreadFactory.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/server/TThreadedServer.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TServerTransport.h>

#include <atomic>
#include <future>

#include "log/Log.h"
#include "platform/ThreadSignalStack.h"
#include "rpc/PreServeEventHandler.h"

namespace talvern::rpc {

using apache::thrift::concurrency::Runnable;
using apache::thrift::concurrency::ThreadFactory;
using apache::thrift::protocol::TBinaryProtocolFactory;
using apache::thrift::server::TThreadedServer;
using apache::thrift::transport::TBufferedTransportFactory;

namespace {

// The answer of a start, given once: by the listening server or by a serve() that failed first.
struct StartSignal {
    std::promise<bool> promise;
    std::atomic<bool> given{false};

    void give(bool result) {
        if (!given.exchange(true)) {
            promise.set_value(result);
        }
    }
};

// The server's per-connection threads are the agent's threads too: each gets its own signal stack, so that
// a crash while serving a call still writes the dump.
class SignalStackRunnable : public Runnable {
public:
    explicit SignalStackRunnable(std::shared_ptr<Runnable> inner) : m_inner(std::move(inner)) {}
    void run() override {
        platform::installThreadSignalStack();
        m_inner->run();
    }

private:
    std::shared_ptr<Runnable> m_inner;
};

class SignalStackThreadFactory : public ThreadFactory {
public:
    SignalStackThreadFactory() : ThreadFactory(false) {}
    std::shared_ptr<apache::thrift::concurrency::Thread> newThread(
        std::shared_ptr<Runnable> runnable) const override {
        return ThreadFactory::newThread(std::make_shared<SignalStackRunnable>(std::move(runnable)));
    }
};

}  // namespace

std::shared_ptr<ThreadFactory> connectionThreadFactory() {
    return std::make_shared<SignalStackThreadFactory>();
}

ThriftServerRunner::~ThriftServerRunner() { stop(); }

bool ThriftServerRunner::start(std::shared_ptr<apache::thrift::transport::TServerTransport> transport,
                               std::shared_ptr<apache::thrift::TProcessor> processor, int64_t clientLimit,
                               std::function<void()> beforeServe, std::function<void()> onListening) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_server) {
        return true;
    }
    joinLocked();

    // The binary protocol keeps the library's defaults except for the size limits.
    auto protocolFactory = std::make_shared<TBinaryProtocolFactory>();
    protocolFactory->setStringSizeLimit(kMaxStringBytes);
    protocolFactory->setContainerSizeLimit(kMaxContainerElements);
    auto server =
        std::make_shared<TThreadedServer>(processor, transport, std::make_shared<TBufferedTransportFactory>(),
                                          protocolFactory, connectionThreadFactory());
    server->setConcurrentClientLimit(clientLimit);

    auto signal = std::make_shared<StartSignal>();
    std::future<bool> listening = signal->promise.get_future();
    server->setServerEventHandler(std::make_shared<PreServeEventHandler>([signal, onListening] {
        if (onListening) {
            onListening();
        }
        signal->give(true);
    }));

    m_thread = platform::makeThread([server, signal, beforeServe] {
        OKV_LOG_INFO("rpc server thread begin");
        if (beforeServe) {
            beforeServe();
        }
        try {
            server->serve();
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("rpc server stopped serving; Reason: {}", e.what());
        } catch (...) {
            OKV_LOG_ERROR("rpc server stopped serving; Reason: {}", "unknown exception");
        }
        signal->give(false);
        OKV_LOG_INFO("rpc server thread end");
    });

    if (!listening.get()) {
        joinLocked();
        return false;
    }
    m_server = std::move(server);
    return true;
}

bool ThriftServerRunner::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_server != nullptr;
}

void ThriftServerRunner::stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
    joinLocked();
}

void ThriftServerRunner::joinLocked() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace talvern::rpc
