#include "harness/AgentWeb.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "controller/SdpAgentController.h"
#include "controller/WebFront.h"
#include "eventcenter/WebSocketEventCenter.h"
#include "harness/FuzzSandbox.h"
#include "http/HttpRouter.h"
#include "http/HttpService.h"
#include "http/engine/Engine.h"
#include "http/websocket/WebSocketManager.h"
#include "http/websocket/WebSocketServer.h"
#include "http/websocket/WebSocketServerGroup.h"
#include "plugins/PluginsManager.h"
#include "support/Timer.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern::fuzz {

namespace {

using Clock = std::chrono::steady_clock;
// Quiet time after which parked polls are answered by an event, and the longest an exchange may take.
constexpr int kQuietMs = 10;
constexpr auto kHangLimit = std::chrono::seconds(60);
// Polls that name no time-out are answered by it rather than by the harness.
constexpr std::chrono::milliseconds kDefaultPollTimeout{50};

// The controller's service slot: the router after every chain node let the request through.
class RoutedService : public HttpService {
public:
    explicit RoutedService(std::shared_ptr<HttpServerContext> context) : HttpService(std::move(context)) {}
    void service(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest> request,
                 std::shared_ptr<IResponse> response) override {
        router.route(request.get(), response.get());
    }
    HttpRouter router;
};

}  // namespace

struct AgentWeb::Parts {
    std::shared_ptr<SdpHttpServerContext> context = std::make_shared<SdpHttpServerContext>();
    std::shared_ptr<RoutedService> service = std::make_shared<RoutedService>(context);
    // A request or closing handshake left unfinished ends in 250 ms, not 30 s: the harness sends every
    // byte at once, and a peer that spoils its closing handshake (common among fuzzed frames) would
    // otherwise cost each such input the whole time-out.
    std::shared_ptr<WebSocketManager> manager = std::make_shared<WebSocketManager>(
        engine::EngineLimits{.requestTimeout = std::chrono::milliseconds(250)});
    std::shared_ptr<WebSocketServer> server = std::make_shared<WebSocketServer>("127.0.0.1", 0, 0, 0);
    std::shared_ptr<WebSocketServerGroup> group = std::make_shared<WebSocketServerGroup>();
    std::shared_ptr<WebSocketEventCenter> center =
        std::make_shared<WebSocketEventCenter>(utilities::Timer::instance(), kDefaultPollTimeout);
    // Answers "/v1/getServicePort" as the agent does; no HTTP, bus or plug-ins of its own.
    std::shared_ptr<sdp::SdpAgentController> controller = [] {
        sdp::SdpOption option;
        option.enableEventBus = true;
        return std::make_shared<sdp::SdpAgentController>(option);
    }();
};

AgentWeb& AgentWeb::instance() {
    // Never destroyed: libFuzzer ends the process from inside a run.
    static AgentWeb* web = new AgentWeb();
    return *web;
}

AgentWeb::AgentWeb() {
    const FuzzSandbox& sandbox = FuzzSandbox::instance();
    sandbox.write("OKAVEL_SHARED_DATA_DIR/var/conf/authorizedUrls.json",
                  std::string("[\"") + kAuthorisedOrigin + "\"]");
    m_parts = std::make_unique<Parts>();
    Parts& p = *m_parts;
    p.group->addServer("fuzz", p.server, true);
    std::weak_ptr<sdp::SdpAgentController> controller = p.controller;
    sdp::webfront::addAgentRoutes(
        p.service->router, p.center,
        [controller](IRequest* req, IResponse* resp) {
            if (auto agent = controller.lock()) {
                agent->getServicePort(req, resp);
            }
        },
        std::make_shared<PluginsManager>());
    p.group->registerMessageHandler(p.service->messageHandler());
    sdp::webfront::installSecurityChain(*p.service, *p.group, p.context);
    sdp::webfront::subscribeSocketsToEvents(*p.group, p.center);
    sdp::webfront::addRefererWhitelist(*p.context);
    if (!p.group->registerServerManager(p.manager) || !p.group->start()) {
        std::fprintf(stderr, "the fuzz listener did not start\n");
        std::abort();
    }
    p.manager->start();
    // The loop ends before the statics it may log through are destroyed when libFuzzer exits; each exchange
    // leaves nothing in flight (see awaitQuiet) for the same reason.
    std::atexit([] { instance().m_parts->manager->stop(); });
}

void AgentWeb::awaitQuiet() {
    // A poll whose connection went is still parked with its timer: an event takes it and cancels that.
    if (m_parts->center->parkedCount() > 0) {
        m_parts->center->broadcast("statusEvent|fuzz", R"({"event":"fuzz"})");
    }
    engine::mg_mgr& engine = *m_parts->manager->engine();
    const auto start = Clock::now();
    for (;;) {
        std::promise<int> open;
        engine.post([&engine, &open] {
            int accepted = 0;
            engine.forEachConnection(
                [&accepted](engine::mg_connection* c) { accepted += c->listener() != nullptr; });
            open.set_value(accepted);
        });
        if (open.get_future().get() == 0) {
            return;
        }
        if (Clock::now() - start > kHangLimit) {
            std::fprintf(stderr, "the agent kept a connection open after its peer left\n");
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::uint16_t AgentWeb::port() const { return m_parts->server->port(); }

namespace {

// The agent may close early (a refused request): what it did not read is simply lost.
void sendAll(int fd, std::string_view bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

// A signal (libFuzzer's SIGINT that ends a timed run) can interrupt the connect, which then goes on by
// itself: wait for it rather than take the interruption for a failure.
bool connectTo(int fd, const sockaddr_in& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return true;
    }
    if (errno != EINTR) {
        return false;
    }
    pollfd writable{fd, POLLOUT, 0};
    while (::poll(&writable, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t length = sizeof(error);
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

std::string AgentWeb::exchange(std::string_view bytes, bool linger, std::string_view afterHead) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || !connectTo(fd, address)) {
        std::perror("connect to the fuzz listener");
        std::abort();
    }
    sendAll(fd, bytes);
    bool waitingForHead = !afterHead.empty();
    // The agent ends a connection whose peer closed its side, parked poll or socket included: a lingering
    // exchange keeps it open until the agent goes quiet and an event has been pushed.
    bool writing = linger || waitingForHead;
    if (!writing) {
        ::shutdown(fd, SHUT_WR);
    }
    std::string reply;
    const auto start = Clock::now();
    char buffer[16384];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, kQuietMs);
        if (ready < 0) {
            continue;
        }
        if (ready == 0) {
            if (Clock::now() - start > kHangLimit) {
                std::fprintf(stderr, "the agent kept the connection open after the peer closed its side\n");
                std::abort();
            }
            m_parts->center->broadcast("statusEvent|fuzz", R"({"event":"fuzz"})");
            if (writing && !waitingForHead) {
                writing = false;
                ::shutdown(fd, SHUT_WR);
            }
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(n));
        // A WebSocket peer speaks once the upgrade is answered.
        if (waitingForHead && reply.find("\r\n\r\n") != std::string::npos) {
            waitingForHead = false;
            sendAll(fd, afterHead);
            if (!linger) {
                writing = false;
                ::shutdown(fd, SHUT_WR);
            }
        }
    }
    // An abortive close leaves no TIME_WAIT behind: thousands of exchanges a minute would otherwise hold
    // ephemeral ports, the agent's fixed ports among them, which tests on this machine bind.
    const struct linger abort { 1, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    ::close(fd);
    awaitQuiet();
    return reply;
}

}  // namespace talvern::fuzz
