#pragma once

#include <functional>
#include <memory>

#include "http/HttpServerFilter.h"
#include "http/HttpServerPreprocessor.h"

namespace talvern {

class HttpServerContext;
class HttpService;
class IRequest;
class IResponse;

/// The last preprocessor: enters the service's filter chain.
class HttpServerBridge : public HttpServerPreprocessor {
public:
    explicit HttpServerBridge(HttpService& service) : m_service(service) {}
    bool doPreprocess(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                      std::shared_ptr<IResponse> response) override;

private:
    HttpService& m_service;
};

/// The last filter: calls the service operation.
class HttpServiceImpl : public HttpServerFilter {
public:
    using Callable = std::function<void(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest>,
                                        std::shared_ptr<IResponse>)>;
    explicit HttpServiceImpl(Callable callable) : m_callable(std::move(callable)) {}
    void doFilter(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                  std::shared_ptr<IResponse> response) override;

private:
    Callable m_callable;
};

/// The request pipeline of an application: preprocessors, then filters, then `service`.
class HttpService {
public:
    explicit HttpService(std::shared_ptr<HttpServerContext> context);
    virtual ~HttpService() = default;
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    /// The application's own handling, after every chain node let the request through.
    virtual void service(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                         std::shared_ptr<IResponse> response) = 0;

    /// The message-handler entry: runs the pipeline on borrowed request and response. Always true.
    bool service(IRequest* request, IResponse* response);
    /// A message handler for `HttpServer::registerMessageHandler` bound to this service.
    std::function<bool(IRequest*, IResponse*)> messageHandler();

    /// Adds a preprocessor after the ones already added (before the bridge).
    void addPreprocessor(const std::shared_ptr<HttpServerPreprocessor>& preprocessor);
    /// Adds a filter after the ones already added (before the service call).
    void addFilter(const std::shared_ptr<HttpServerFilter>& filter);

    const std::shared_ptr<HttpServerContext>& context() const { return m_context; }
    const std::shared_ptr<HttpServerFilter>& filterHead() const { return m_filterHead; }

private:
    std::shared_ptr<HttpServerContext> m_context;
    std::shared_ptr<HttpServerPreprocessor> m_preprocessorHead;
    std::shared_ptr<HttpServerFilter> m_filterHead;
    std::shared_ptr<HttpServerFilter> m_filterTail;
};

}  // namespace talvern
