#pragma once

#include <thrift/server/TServer.h>

#include <functional>

namespace talvern::rpc {

/// Tells its owner when a Thrift server has started listening: the callback runs from `preServe`.
class PreServeEventHandler : public apache::thrift::server::TServerEventHandler {
public:
    explicit PreServeEventHandler(std::function<void()> callback) : m_callback(std::move(callback)) {}

    void preServe() override {
        if (m_callback) {
            m_callback();
        }
    }
    void* createContext(std::shared_ptr<apache::thrift::protocol::TProtocol>,
                        std::shared_ptr<apache::thrift::protocol::TProtocol>) override {
        return nullptr;
    }
    void deleteContext(void*, std::shared_ptr<apache::thrift::protocol::TProtocol>,
                       std::shared_ptr<apache::thrift::protocol::TProtocol>) override {}
    void processContext(void*, std::shared_ptr<apache::thrift::transport::TTransport>) override {}

private:
    std::function<void()> m_callback;
};

}  // namespace talvern::rpc
