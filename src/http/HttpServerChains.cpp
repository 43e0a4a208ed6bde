#include "http/HttpServerFilter.h"
#include "http/HttpServerPreprocessor.h"
#include "log/Log.h"
#include "talvern/IRequest.h"

namespace talvern {

bool urlPatternApplies(const std::string& pattern, const std::string& url) {
    return pattern.empty() || pattern.rfind(url, 0) == 0;
}

void HttpServerFilter::doFilter(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                                std::shared_ptr<IResponse> response) {
    if (!m_next) {
        OKV_LOG_TAG_WARN("HttpServer", "An empty filter implementation may not return normally; Reason: ");
        return;
    }
    m_next->step(context, request, response);
}

void HttpServerFilter::step(const std::shared_ptr<HttpServerContext>& context,
                            const std::shared_ptr<IRequest>& request,
                            const std::shared_ptr<IResponse>& response) {
    if (urlPatternApplies(urlPattern(), request->url())) {
        doFilter(context, request, response);
    } else {
        HttpServerFilter::doFilter(context, request, response);
    }
}

}  // namespace talvern
