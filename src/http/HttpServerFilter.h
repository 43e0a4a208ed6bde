#pragma once

#include <memory>
#include <string>

namespace talvern {

class HttpServerContext;
class IRequest;
class IResponse;

/// One node of the filter chain. A filter that lets the request go on calls this base class's
/// `doFilter`; a filter that answers the request itself does not.
class HttpServerFilter {
public:
    explicit HttpServerFilter(std::string urlPattern = {}) : m_urlPattern(std::move(urlPattern)) {}
    virtual ~HttpServerFilter() = default;

    /// The URL pattern (empty: every URL).
    virtual std::string urlPattern() const { return m_urlPattern; }
    /// Hands the request to the next filter.
    virtual void doFilter(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                          std::shared_ptr<IResponse> response);

    /// Runs this filter when its pattern applies to the request, otherwise passes the request on.
    void step(const std::shared_ptr<HttpServerContext>& context, const std::shared_ptr<IRequest>& request,
              const std::shared_ptr<IResponse>& response);

    const std::shared_ptr<HttpServerFilter>& next() const { return m_next; }
    void setNext(std::shared_ptr<HttpServerFilter> next) { m_next = std::move(next); }

private:
    std::string m_urlPattern;
    std::shared_ptr<HttpServerFilter> m_next;
};

}  // namespace talvern
