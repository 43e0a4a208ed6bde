#include "http/HttpStatus.h"

#include <iterator>
#include <utility>

namespace talvern::http {

namespace {

// Phrases are written without spaces; 402 has none on purpose.
constexpr std::pair<int, const char*> kReasonPhrases[] = {
    {100, "Continue"},
    {101, "SwitchingProtocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "NonAuthoritativeInformation"},
    {204, "NoContent"},
    {205, "ResetContent"},
    {206, "PartialContent"},
    {300, "MultipleChoices"},
    {301, "MovedPermanently"},
    {302, "Found"},
    {303, "SeeOther"},
    {304, "NotModified"},
    {305, "UseProxy"},
    {306, "Unused"},
    {307, "TemporaryRedirect"},
    {400, "BadRequest"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "NotFound"},
    {405, "MethodNotAllowed"},
    {406, "NotAcceptable"},
    {407, "ProxyAuthenticationRequired"},
    {408, "RequestTimeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "LengthRequired"},
    {412, "PreconditionFailed"},
    {413, "RequestEntityTooLarge"},
    {414, "RequestURITooLarge"},
    {415, "UnsupportedMediaType"},
    {416, "Requestedrangenotsatisfiable"},
    {417, "ExpectationFailed"},
    {500, "InternalServerError"},
    {501, "NotImplemented"},
    {502, "BadGateway"},
    {503, "ServiceUnavailable"},
    {504, "GatewayTimeout"},
    {505, "HTTPVersionnotsupported"},
};

constexpr const char* kHeaderNames[] = {
    "Content-Type",
    "Content-Length",
    "Location",
    "Last-Modified",
    "Cookie",
    "Set-Cookie",
    "Content-Disposition",
    "User-Agent",
    "Server",
    "If-Modified-Since",
    "ETag",
    "If-Match",
    "If-None-Match",
    "Transfer-Encoding",
    "Access-Control-Allow-Origin",
    "Referer",
    "Accept-Encoding",
    "Connection",
    "x-sdp-traceid",
};

}  // namespace

const char* reasonPhrase(int code) {
    for (const auto& [value, phrase] : kReasonPhrases) {
        if (value == code) {
            return phrase;
        }
    }
    return "";
}

const char* headerName(HeaderName name) {
    const auto index = static_cast<int>(name);
    if (index < 0 || index >= static_cast<int>(std::size(kHeaderNames))) {
        return "Unknown-Header";
    }
    return kHeaderNames[index];
}

}  // namespace talvern::http
