#include "websecurity/SdpHttpSecurePreprocessor.h"

#include <cstring>
#include <exception>

#include "log/Check.h"
#include "log/Log.h"
#include "talvern/IRequest.h"
#include "websecurity/HttpSecure.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern {
namespace {

int withMark(int tag, int mark, bool set) { return set ? (tag | mark) : (tag & ~mark); }

}  // namespace

SdpHttpSecurePreprocessor::SdpHttpSecurePreprocessor(std::string urlPattern)
    : SdpHttpSecurePreprocessor(std::move(urlPattern), nullptr) {}

SdpHttpSecurePreprocessor::SdpHttpSecurePreprocessor(std::string urlPattern,
                                                     std::unique_ptr<HttpSecure> secure)
    : HttpServerPreprocessor(std::move(urlPattern)),
      m_secure(secure ? std::move(secure) : std::make_unique<HttpSecure>()) {}

SdpHttpSecurePreprocessor::~SdpHttpSecurePreprocessor() = default;

bool SdpHttpSecurePreprocessor::isTrustedUserAgent(const char* userAgent) {
    if (userAgent == nullptr) {
        return false;
    }
    return std::strstr(userAgent, "oKavelTray") != nullptr || std::strcmp(userAgent, "oKavelCSSDK") == 0 ||
           std::strcmp(userAgent, "cpp-httplib/0.9") == 0;
}

bool SdpHttpSecurePreprocessor::doPreprocess(std::shared_ptr<HttpServerContext> context,
                                             std::shared_ptr<IRequest> req, std::shared_ptr<IResponse>) {
    auto ctx = std::dynamic_pointer_cast<SdpHttpServerContext>(context);
    OKV_ENSURE(ctx != nullptr, "can't get the correct SdpHttpServerContext object");
    OKV_ENSURE(req != nullptr, "the request cann't be empty");
    if (ctx == nullptr || req == nullptr) {
        return true;  // nothing marked: the filter refuses the request
    }
    int tag = withMark(req->tag(), kTrustedUserAgentMark, isTrustedUserAgent(req->header("User-Agent")));
    tag = withMark(tag, kValidRefererMark, isRefererValid(ctx, req));
    req->setTag(tag);
    return true;
}

bool SdpHttpSecurePreprocessor::isRefererValid(std::shared_ptr<SdpHttpServerContext> context,
                                               std::shared_ptr<IRequest> request) {
    OKV_ENSURE_OR_RETURN(context != nullptr, "can't get the correct SdpHttpServerContext object", false);
    OKV_ENSURE_OR_RETURN(request != nullptr, "the request cann't be empty", false);
    const char* header = request->header("Referer");
    return isUrlAuthorised(context, header != nullptr ? header : "");
}

bool SdpHttpSecurePreprocessor::isUrlAuthorised(const std::shared_ptr<SdpHttpServerContext>& context,
                                                const std::string& referer) {
    // A Referer that is no URL of a known scheme has no origin, and the empty origin is never authorised.
    std::string origin;
    try {
        origin = referer.empty() ? std::string() : context->originOf(referer);
    } catch (const std::exception&) {
        origin.clear();
    }

    std::error_code error;
    const bool authorised = m_secure->isAuthorizdUrl(origin, error, true);
    if (error) {
        OKV_LOG_WARN(
            "Error checking whether referer is authorized, the referer is {}; Reason: {}@{} --->>> {}",
            referer, error.message(), error.value(), error.category().name());
        return true;
    }
    OKV_LOG_DEBUG("{} {} been authorized", referer, authorised ? "has" : "has not");
    return authorised;
}

}  // namespace talvern
