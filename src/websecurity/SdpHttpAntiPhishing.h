#pragma once

#include <memory>
#include <string>

#include "http/HttpServerFilter.h"

namespace talvern {

/// Refuses what the secure preprocessor did not mark: a request without trust marks whose path is not on
/// the context's whitelist is answered 403 with code 11119003 and the "invalid request" message, and
/// goes no further. The context must be an `SdpHttpServerContext`.
class SdpHttpAntiPhishing : public HttpServerFilter {
public:
    explicit SdpHttpAntiPhishing(std::string urlPattern = {}) : HttpServerFilter(std::move(urlPattern)) {}

    void doFilter(std::shared_ptr<HttpServerContext> ctx, std::shared_ptr<IRequest> req,
                  std::shared_ptr<IResponse> resp) override;
};

}  // namespace talvern
