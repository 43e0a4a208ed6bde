#pragma once

#include <string>

#include "http/HttpStatus.h"

namespace talvern {
class IRequest;
class IResponse;
}  // namespace talvern

// The agent's own answers on its loopback web interface.
namespace talvern::sdp::v1 {

/// Answers {"code":0,"message":message} with the status, and logs the exchange.
bool commonHandleMessage(IRequest* req, IResponse* resp, const std::string& message, http::StatusCode status);

/// The answer for a URL that neither a route nor a module took: 404 "Unsupport url".
bool unsupportedUrl(IRequest* req, IResponse* resp);

/// "/v1/detect": tells a web page that the agent runs.
class Detect {
public:
    static bool handleMessage(IRequest* req, IResponse* resp);
};

/// The JSON schemas (draft 4) of the request bodies of the agent's routes.
extern const std::string kDetectSchema;
extern const std::string kGetServicePortSchema;
extern const std::string kServiceEventsSchema;

}  // namespace talvern::sdp::v1
