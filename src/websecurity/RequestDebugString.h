#pragma once

#include <memory>
#include <string>

namespace talvern {

class IRequest;

/// One line about a request for refusal logs: "IRequest(url = 127.0.0.1:54630, referer = …, useragent = …,
/// traceid = …)"; an absent header gives an empty text. The request must have an HTTP origin.
std::string toDebugString(std::shared_ptr<IRequest> req);

}  // namespace talvern
