#pragma once

#include <initializer_list>
#include <memory>
#include <string>

namespace talvern {

class HttpServerContext;
class WebSocket;

/// One node of the chain that every new WebSocket passes before it is registered. Nodes run in order;
/// the first that answers false refuses the socket (the server then closes it with 1008).
class WebSocketPreprocessor : public std::enable_shared_from_this<WebSocketPreprocessor> {
public:
    explicit WebSocketPreprocessor(std::string urlPattern = {}) : m_urlPattern(std::move(urlPattern)) {}
    virtual ~WebSocketPreprocessor() = default;

    /// Looks at (and may mark) the new socket; false refuses it.
    virtual bool doPreprocess(std::shared_ptr<HttpServerContext> context,
                              std::shared_ptr<WebSocket> socket) = 0;
    /// The URL pattern (empty: every upgrade URL), with the rule of the HTTP chains.
    virtual std::string urlPattern() const { return m_urlPattern; }

    const std::shared_ptr<WebSocketPreprocessor>& next() const { return m_next; }
    void setNext(std::shared_ptr<WebSocketPreprocessor> next) { m_next = std::move(next); }

    /// Links the nodes in order and ends the chain with a WebSocketBridge; returns the head.
    static std::shared_ptr<WebSocketPreprocessor> chain(
        std::initializer_list<std::shared_ptr<WebSocketPreprocessor>> nodes);
    /// Runs the chain from `head`; false as soon as an applying node refuses. An empty chain accepts.
    static bool run(const std::shared_ptr<WebSocketPreprocessor>& head,
                    const std::shared_ptr<HttpServerContext>& context,
                    const std::shared_ptr<WebSocket>& socket);

private:
    std::string m_urlPattern;
    std::shared_ptr<WebSocketPreprocessor> m_next;
};

/// The last node: accepts.
class WebSocketBridge : public WebSocketPreprocessor {
public:
    bool doPreprocess(std::shared_ptr<HttpServerContext>, std::shared_ptr<WebSocket>) override {
        return true;
    }
};

}  // namespace talvern
