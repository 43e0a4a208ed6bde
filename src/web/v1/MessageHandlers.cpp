#include "web/v1/MessageHandlers.h"

#include "http/HttpOrigin.h"
#include "log/Check.h"
#include "log/Log.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern::sdp::v1 {
namespace {

// The local address of the portal page: its detect calls are too frequent for the info log.
const char* const kLocalPortalAddress = "https://localhost";

// The HTTP origin of a request; null (logged) when the request has none.
HttpOrigin* httpOrigin(IRequest* req) {
    auto* origin = dynamic_cast<HttpOrigin*>(req->origin());
    if (origin == nullptr) {
        OKV_LOG_ERROR("[traceid:{}] {}", req->traceId(), "the request has no http origin");
    }
    return origin;
}

}  // namespace

bool commonHandleMessage(IRequest* req, IResponse* resp, const std::string& message,
                         http::StatusCode status) {
    OKV_ENSURE(nullptr != req, "invalid param req nullptr");
    OKV_ENSURE(nullptr != resp, "invalid param resp nullptr");
    HttpOrigin* origin = httpOrigin(req);
    if (origin == nullptr) {
        return false;
    }
    portal::general_resp::GeneralResp reply;
    reply.code = 0;
    reply.message = message;
    const std::string body = portal::to_json(reply);
    OKV_LOG_WARN("[traceid:{}] url:{} \nrequest content:{} \nresponse:{}{}", req->traceId(),
                 origin->hostPort(), req->content(), body, "");
    resp->setStatus(static_cast<int>(status));
    resp->send(body.c_str(), true);
    return true;
}

bool unsupportedUrl(IRequest* req, IResponse* resp) {
    return commonHandleMessage(req, resp, "Unsupport url", http::StatusCode::NotFound);
}

bool Detect::handleMessage(IRequest* req, IResponse* resp) {
    OKV_ENSURE(nullptr != req, "invalid param req nullptr");
    OKV_ENSURE(nullptr != resp, "invalid param resp nullptr");
    HttpOrigin* origin = httpOrigin(req);
    if (origin == nullptr) {
        return false;
    }
    portal::detect_req::DetectReq request;
    portal::from_json(req->content(), request);
    portal::detect_resp::DetectResp reply;
    reply.code = 0;
    reply.message = "detect successfully";
    const std::string body = portal::to_json(reply);
    if (request.addr == kLocalPortalAddress) {
        OKV_LOG_DEBUG("[traceid:{}] url:{} \nrequest content:{} \nresponse:{}", req->traceId(),
                      origin->hostPort(), req->content(), body);
    } else {
        OKV_LOG_INFO("[traceid:{}] url:{} \nrequest content:{} \nresponse:{}", req->traceId(),
                     origin->hostPort(), req->content(), body);
    }
    resp->send(body.c_str(), true);
    return true;
}

namespace {

// What every request of a web client carries; the schemas below share these members.
std::string schemaHead(const char* required) {
    return std::string(R"({
  "$schema": "http://json-schema.org/draft-04/schema#",
  "type": "object",
  "required": )") +
           required + R"(,
  "properties": {
    "type": {"type": "string", "enum": ["web", "cs", "sdk"], "description": "kind of client", "mock": "web"},
    "lang": {"type": "string", "enum": ["zh-CN", "en-US"], "description": "display language", "mock": "en-US"},
    "guid": {"type": "string", "description": "client instance", "mock": "guid"},
    "token": {"type": "string", "description": "session token", "mock": "token"},
    )";
}

const char* const kCheckedAddr =
    R"("addr": {"type": "string", "pattern": "^https?://.*", "description": "page origin", "mock": "https://localhost"})";

}  // namespace

const std::string kDetectSchema =
    schemaHead(R"(["type", "lang", "guid", "addr", "token"])") + kCheckedAddr + R"(
  }
})";

const std::string kGetServicePortSchema =
    schemaHead(R"(["type", "lang", "token", "data", "addr", "guid"])") + R"(
    "addr": {"type": "string", "description": "page origin", "mock": "https://localhost"},
    "data": {
      "type": "object",
      "required": ["serviceName"],
      "properties": {"serviceName": {"type": "string", "description": "port file name", "mock": "httpserver"}},
      "description": "what is asked", "mock": {}
    }
  }
})";

const std::string kServiceEventsSchema =
    schemaHead(R"(["type", "lang", "guid", "addr", "token", "data"])") + kCheckedAddr + R"(,
    "data": {
      "type": "object",
      "required": ["fromId", "timeout"],
      "properties": {
        "fromId": {"type": "integer", "description": "first event wanted", "mock": 0},
        "timeout": {"type": "integer", "description": "long-poll wait", "mock": 10}
      },
      "description": "what is asked", "mock": {}
    }
  }
})";

}  // namespace talvern::sdp::v1
