#include "websecurity/SdpHttpAntiPhishing.h"

#include "http/Refusal.h"
#include "log/Check.h"
#include "log/Log.h"
#include "talvern/IOrigin.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "websecurity/RequestDebugString.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern {
namespace {

constexpr int kForbiddenStatus = 403;

// The request's HTTP origin, or null when it has none.
const IHttpOrigin* httpOriginOf(const IRequest& request) {
    IOrigin* origin = request.origin();
    return origin != nullptr && origin->type() == 0 ? dynamic_cast<const IHttpOrigin*>(origin) : nullptr;
}

std::string headerText(const IRequest& request, const char* name) {
    const char* value = request.header(name);
    return value != nullptr ? value : "";
}

// The header the client sent (or the one made for the request); a trace id taken from the body's
// "sdpTraceId" has no header, and the line must still carry it.
std::string traceIdText(const IRequest& request) {
    const char* text = request.header("x-sdp-traceid");
    if (text == nullptr) {
        text = request.traceId();
    }
    return text != nullptr ? text : "";
}

}  // namespace

std::string toDebugString(std::shared_ptr<IRequest> req) {
    OKV_ENSURE_OR_RETURN(req != nullptr, "request cann't be empty", {});
    const IHttpOrigin* origin = httpOriginOf(*req);
    OKV_ENSURE_OR_RETURN(origin != nullptr, "Request for non-http requests", {});
    return "IRequest(url = " + std::string(origin->hostPort()) +
           ", referer = " + headerText(*req, "Referer") + ", useragent = " + headerText(*req, "User-Agent") +
           ", traceid = " + traceIdText(*req) + ")";
}

void SdpHttpAntiPhishing::doFilter(std::shared_ptr<HttpServerContext> ctx, std::shared_ptr<IRequest> request,
                                   std::shared_ptr<IResponse> resp) {
    OKV_ENSURE_OR_RETURN(request != nullptr, "request cann't be empty");
    auto context = std::dynamic_pointer_cast<SdpHttpServerContext>(ctx);
    OKV_ENSURE(context != nullptr, "can't get the correct SdpHttpServerContext object");
    const IHttpOrigin* origin = httpOriginOf(*request);
    OKV_ENSURE(origin != nullptr, "Request for non-http requests");
    if (context == nullptr || origin == nullptr) {
        return;
    }

    if ((request->tag() & kTrustMarks) != 0 || context->isInRefererWhitelist(origin->path())) {
        HttpServerFilter::doFilter(ctx, request, resp);
        return;
    }

    OKV_LOG_WARN("the request({}) has been forbidden; Reason: {}", toDebugString(request),
                 "Requests are neither trusted nor in the white list");
    const std::string body = http::refusalReply();
    if (resp == nullptr) {
        return;  // nobody to answer; the request goes no further either way
    }
    resp->setStatus(kForbiddenStatus);
    resp->send(body.c_str(), true);
}

}  // namespace talvern
