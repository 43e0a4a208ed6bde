#pragma once

#include <memory>

namespace talvern {

class IRequest;
class IResponse;
class SdpHttpSecurePreprocessor;
class SdpHttpServerContext;

/// Grants the preflight of a page on an authorised origin, so that the page may POST JSON (with its trace
/// id header) from `fetch`. A page on any other origin gets no grant.
class SdpCorsPreflight {
public:
    /// How long a browser may keep a grant, in seconds.
    static constexpr int kMaxAgeSeconds = 600;

    /// Asks `marker` whether an origin is authorised (shared with the HTTP chain).
    SdpCorsPreflight(std::shared_ptr<SdpHttpSecurePreprocessor> marker,
                     std::shared_ptr<SdpHttpServerContext> context);

    /// Sets the grant's headers on the response when the request's Origin is authorised; true then.
    bool grant(IRequest& request, IResponse& response);

private:
    std::shared_ptr<SdpHttpSecurePreprocessor> m_marker;
    std::shared_ptr<SdpHttpServerContext> m_context;
};

}  // namespace talvern
