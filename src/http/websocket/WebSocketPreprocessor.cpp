#include "http/websocket/WebSocketPreprocessor.h"

#include "http/HttpServerPreprocessor.h"
#include "http/websocket/WebSocket.h"

namespace talvern {

std::shared_ptr<WebSocketPreprocessor> WebSocketPreprocessor::chain(
    std::initializer_list<std::shared_ptr<WebSocketPreprocessor>> nodes) {
    std::shared_ptr<WebSocketPreprocessor> head = std::make_shared<WebSocketBridge>();
    // Built from the back so that each node points at the one after it.
    for (auto it = std::rbegin(nodes); it != std::rend(nodes); ++it) {
        if (*it) {
            (*it)->setNext(head);
            head = *it;
        }
    }
    return head;
}

bool WebSocketPreprocessor::run(const std::shared_ptr<WebSocketPreprocessor>& head,
                                const std::shared_ptr<HttpServerContext>& context,
                                const std::shared_ptr<WebSocket>& socket) {
    for (auto node = head; node; node = node->next()) {
        if (urlPatternApplies(node->urlPattern(), socket->url()) && !node->doPreprocess(context, socket)) {
            return false;
        }
    }
    return true;
}

}  // namespace talvern
