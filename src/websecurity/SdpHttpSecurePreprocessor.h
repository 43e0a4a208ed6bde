#pragma once

#include <memory>
#include <string>

#include "http/HttpServerPreprocessor.h"

namespace talvern {

class HttpSecure;
class SdpHttpServerContext;

/// Trust marks in a request's tag.
inline constexpr int kTrustedUserAgentMark = 0x01;
inline constexpr int kValidRefererMark = 0x10;
/// A request carrying any of these marks is trusted.
inline constexpr int kTrustMarks = kTrustedUserAgentMark | kValidRefererMark;

/// Marks every request before the filters see it: 0x01 when the User-Agent names one of the client's own
/// programs, 0x10 when the Referer (or Origin) is an authorised origin. It never answers; the chain goes
/// on. Works on any request, so WebSocket handshakes are marked by delegating here.
class SdpHttpSecurePreprocessor : public HttpServerPreprocessor {
public:
    /// Checks origins against the shared data directory's authorised origins.
    explicit SdpHttpSecurePreprocessor(std::string urlPattern = {});
    /// Checks origins with the given object (a null one is replaced by the default).
    SdpHttpSecurePreprocessor(std::string urlPattern, std::unique_ptr<HttpSecure> secure);
    ~SdpHttpSecurePreprocessor() override;

    /// Sets or clears both marks of the request. The context must be an `SdpHttpServerContext`.
    bool doPreprocess(std::shared_ptr<HttpServerContext> ctx, std::shared_ptr<IRequest> req,
                      std::shared_ptr<IResponse> resp) override;

    /// True when the origin of the request's Referer (or Origin) is authorised, or when the check itself
    /// failed (logged); false without either header.
    bool isRefererValid(std::shared_ptr<SdpHttpServerContext> ctx, std::shared_ptr<IRequest> req);
    /// True when the origin of `url` (a Referer or an Origin header) is authorised, or when the check
    /// itself failed (logged); false for an empty text or one that is no URL.
    bool isUrlAuthorised(const std::shared_ptr<SdpHttpServerContext>& ctx, const std::string& url);

    /// "…oKavelTray…", exactly "oKavelCSSDK" or exactly "cpp-httplib/0.9". Null is not trusted.
    static bool isTrustedUserAgent(const char* userAgent);

private:
    std::unique_ptr<HttpSecure> m_secure;
};

}  // namespace talvern
