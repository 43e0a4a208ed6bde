#pragma once

// Well-known HTTP header names and status codes with the reason phrases the server writes.

namespace talvern::http {

/// HTTP status codes.
enum class StatusCode : int {
    Continue = 100,
    SwitchingProtocols = 101,
    OK = 200,
    Created = 201,
    Accepted = 202,
    NonAuthoritativeInformation = 203,
    NoContent = 204,
    ResetContent = 205,
    PartialContent = 206,
    MultipleChoices = 300,
    MovedPermanently = 301,
    Found = 302,
    SeeOther = 303,
    NotModified = 304,
    UseProxy = 305,
    Unused = 306,
    TemporaryRedirect = 307,
    BadRequest = 400,
    Unauthorized = 401,
    PaymentRequired = 402,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    NotAcceptable = 406,
    ProxyAuthenticationRequired = 407,
    RequestTimeout = 408,
    Conflict = 409,
    Gone = 410,
    LengthRequired = 411,
    PreconditionFailed = 412,
    RequestEntityTooLarge = 413,
    RequestURITooLarge = 414,
    UnsupportedMediaType = 415,
    RequestedRangeNotSatisfiable = 416,
    ExpectationFailed = 417,
    InternalServerError = 500,
    NotImplemented = 501,
    BadGateway = 502,
    ServiceUnavailable = 503,
    GatewayTimeout = 504,
    HTTPVersionNotSupported = 505,
};

/// Header names the program spells often.
enum class HeaderName : int {
    ContentType = 0,
    ContentLength = 1,
    Location = 2,
    LastModified = 3,
    Cookie = 4,
    SetCookie = 5,
    ContentDisposition = 6,
    UserAgent = 7,
    Server = 8,
    IfModifiedSince = 9,
    ETag = 10,
    IfMatch = 11,
    IfNoneMatch = 12,
    TransferEncoding = 13,
    AccessControlAllowOrigin = 14,
    Referer = 15,
    AcceptEncoding = 16,
    Connection = 17,
    TraceId = 18,
};

/// The reason phrase written after a status code ("NotFound"); empty for codes without one (402).
const char* reasonPhrase(int code);

/// The spelling of a header name; "Unknown-Header" for any other value.
const char* headerName(HeaderName name);

}  // namespace talvern::http
