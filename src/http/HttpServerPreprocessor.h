#pragma once

#include <memory>
#include <string>

namespace talvern {

class HttpServerContext;
class IRequest;
class IResponse;

/// True when a chain node with this URL pattern handles `url`: an empty pattern takes every URL,
/// otherwise the pattern must begin with the URL ("/a/b" takes "/a/b" and "/a", not "/a/b/c").
bool urlPatternApplies(const std::string& pattern, const std::string& url);

/// One node of the preprocessor chain: every node whose pattern applies runs, in order.
class HttpServerPreprocessor {
public:
    explicit HttpServerPreprocessor(std::string urlPattern = {}) : m_urlPattern(std::move(urlPattern)) {}
    virtual ~HttpServerPreprocessor() = default;

    /// Works on the request; the outcome does not stop the chain.
    virtual bool doPreprocess(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                              std::shared_ptr<IResponse> response) = 0;
    /// The URL pattern (empty: every URL).
    virtual std::string urlPattern() const { return m_urlPattern; }

    const std::shared_ptr<HttpServerPreprocessor>& next() const { return m_next; }
    void setNext(std::shared_ptr<HttpServerPreprocessor> next) { m_next = std::move(next); }

private:
    std::string m_urlPattern;
    std::shared_ptr<HttpServerPreprocessor> m_next;
};

}  // namespace talvern
