#include "http/HttpService.h"

#include "log/Check.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern {

bool HttpServerBridge::doPreprocess(std::shared_ptr<HttpServerContext> context,
                                    std::shared_ptr<IRequest> request, std::shared_ptr<IResponse> response) {
    if (const auto& head = m_service.filterHead()) {
        head->step(context, request, response);
    }
    return true;
}

void HttpServiceImpl::doFilter(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                               std::shared_ptr<IResponse> response) {
    if (m_callable) {
        m_callable(std::move(context), std::move(request), std::move(response));
    }
}

HttpService::HttpService(std::shared_ptr<HttpServerContext> context)
    : m_context(std::move(context)), m_preprocessorHead(std::make_shared<HttpServerBridge>(*this)) {
    m_filterHead = std::make_shared<HttpServiceImpl>([this](std::shared_ptr<HttpServerContext> ctx,
                                                            std::shared_ptr<IRequest> request,
                                                            std::shared_ptr<IResponse> response) {
        service(std::move(ctx), std::move(request), std::move(response));
    });
    m_filterTail = m_filterHead;
}

bool HttpService::service(IRequest* req, IResponse* resp) {
    OKV_ENSURE_OR_RETURN(req != nullptr, "request cann't be empty", true);
    OKV_ENSURE_OR_RETURN(resp != nullptr, "response cann't be empty", true);
    // Borrowed: the response's next-handler chain owns both.
    std::shared_ptr<IRequest> request(req, [](IRequest*) {});
    std::shared_ptr<IResponse> response(resp, [](IResponse*) {});
    const std::string url = req->url();
    for (auto node = m_preprocessorHead; node; node = node->next()) {
        if (urlPatternApplies(node->urlPattern(), url)) {
            node->doPreprocess(m_context, request, response);
        }
    }
    return true;
}

std::function<bool(IRequest*, IResponse*)> HttpService::messageHandler() {
    return [this](IRequest* request, IResponse* response) { return HttpService::service(request, response); };
}

void HttpService::addPreprocessor(const std::shared_ptr<HttpServerPreprocessor>& preprocessor) {
    if (!preprocessor) {
        return;
    }
    // The bridge stays last.
    if (m_preprocessorHead->next() == nullptr && dynamic_cast<HttpServerBridge*>(m_preprocessorHead.get())) {
        preprocessor->setNext(m_preprocessorHead);
        m_preprocessorHead = preprocessor;
        return;
    }
    auto node = m_preprocessorHead;
    while (node->next() && node->next()->next()) {
        node = node->next();
    }
    preprocessor->setNext(node->next());
    node->setNext(preprocessor);
}

void HttpService::addFilter(const std::shared_ptr<HttpServerFilter>& filter) {
    if (!filter) {
        return;
    }
    // The service call stays last.
    if (m_filterHead == m_filterTail) {
        filter->setNext(m_filterTail);
        m_filterHead = filter;
        return;
    }
    auto node = m_filterHead;
    while (node->next() != m_filterTail) {
        node = node->next();
    }
    filter->setNext(m_filterTail);
    node->setNext(filter);
}

}  // namespace talvern
