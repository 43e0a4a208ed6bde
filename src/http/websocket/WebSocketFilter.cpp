#include "http/websocket/WebSocketFilter.h"

namespace talvern {

std::shared_ptr<WebSocketFilter> WebSocketFilter::chain(
    std::initializer_list<std::shared_ptr<WebSocketFilter>> nodes) {
    std::shared_ptr<WebSocketFilter> head;
    for (auto it = std::rbegin(nodes); it != std::rend(nodes); ++it) {
        if (*it) {
            (*it)->setNext(head);
            head = *it;
        }
    }
    return head;
}

bool WebSocketFilter::run(const std::shared_ptr<WebSocketFilter>& head,
                          const std::shared_ptr<WebSocket>& socket, const std::string& data) {
    for (auto node = head; node; node = node->next()) {
        if (!node->doFilter(socket, data)) {
            return false;
        }
    }
    return true;
}

}  // namespace talvern
