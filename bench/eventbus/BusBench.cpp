// Event bus over RPC, measured from one client: `push` over TCP and over the local socket, and the delay
// from a push to its arrival at a waiting puller. The floor is a bare Thrift threaded server of the same
// stack (buffered transport, binary protocol, multiplexing) whose push handler only returns true.
// Last, a client in a process of its own (this program, signed at build time) pushes to the bus with and
// without peer authentication in front of it, to show what authentication costs once a verdict is cached.
//
//     okavel_bus_bench [calls per measurement, default 20000] [rounds, default 5]

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thrift/processor/TMultiplexedProcessor.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/server/TThreadedServer.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TServerSocket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/SdpBroadcastService.h"
#include "rpc/RpcServerGroup.h"
#include "rpcgen/SdpBroadcast.h"
#include "support/PortFileStore.h"
#include "unit/rpc/RpcTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace apache::thrift;
namespace bus = talvern::rpc::thrift;

// One bench client: a connection with the agent's stack and the generated bus client over it.
struct Client {
    talvern::test::RpcConnection connection;
    std::unique_ptr<bus::SdpBroadcastClient> bus;

    explicit Client(talvern::test::RpcConnection c) : connection(std::move(c)), bus(connection.bus()) {}
    static Client tcp(uint16_t port) { return Client(talvern::test::RpcConnection::tcp(port)); }
    static Client local(const std::string& path) {
        return Client(talvern::test::RpcConnection::unixSocket(path));
    }
};

struct Result {
    double callsPerSecond = 0;
    double p50us = 0;
    double p99us = 0;
};

Result summarise(std::vector<double>& micros, double seconds) {
    std::sort(micros.begin(), micros.end());
    Result r;
    r.callsPerSecond = micros.size() / seconds;
    r.p50us = micros[micros.size() / 2];
    r.p99us = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    return r;
}

bus::BroadcastPushEvent makeEvent(const std::string& channel, int64_t id, const std::string& content) {
    bus::BroadcastPushEvent event;
    event.body.topic = "benchEvent|push";
    event.body.content = content;
    event.origin.channelID = channel;
    event.origin.eventID = id;
    return event;
}

Result measurePush(Client& client, const std::string& channel, int calls) {
    const std::string content = R"({"event":"bench","data":{"n":1}})";
    for (int i = 0; i < calls / 10; ++i) {  // warm-up
        client.bus->push(makeEvent(channel + "-warm", i, content));
    }
    std::vector<double> micros;
    micros.reserve(calls);
    const auto begin = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const auto t0 = Clock::now();
        if (!client.bus->push(makeEvent(channel, i, content))) {
            std::fprintf(stderr, "push refused\n");
            std::exit(1);
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    return summarise(micros, std::chrono::duration<double>(Clock::now() - begin).count());
}

// A push travels to a puller that is already waiting in `pull`; measured from before the push to the
// puller's return.
Result measureDelivery(Client& pusher, Client& puller, const std::string& serverChannel, int calls) {
    std::atomic<int64_t> sentAt{0};
    std::atomic<int> delivered{0};
    std::vector<double> micros;
    micros.reserve(calls);
    std::thread pulling([&] {
        bus::BroadcastIdentify cursor;
        puller.bus->identify(cursor);
        cursor.channelID = serverChannel;
        while (delivered.load() < calls) {
            bus::BroadcastPullEvent pulled;
            puller.bus->pull(pulled, cursor, 1000);
            const auto now = Clock::now().time_since_epoch().count();
            cursor = pulled.identify;
            if (!pulled.data.empty()) {
                micros.push_back((now - sentAt.load()) / 1000.0);
                delivered.fetch_add(static_cast<int>(pulled.data.size()));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto begin = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const int before = delivered.load();
        sentAt = Clock::now().time_since_epoch().count();
        pusher.bus->push(makeEvent("delivery", i, R"({"event":"bench"})"));
        while (delivered.load() == before) {
            std::this_thread::yield();
        }
    }
    pulling.join();
    return summarise(micros, std::chrono::duration<double>(Clock::now() - begin).count());
}

// The floor: the same stack with a handler that does nothing.
class NullHandler : public bus::SdpBroadcastIf {
public:
    bool IsRpcStatusNormal() override { return true; }
    void identify(bus::BroadcastIdentify&) override {}
    void pull(bus::BroadcastPullEvent&, const bus::BroadcastIdentify&, const int32_t) override {}
    bool push(const bus::BroadcastPushEvent&) override { return true; }
};

class BareServer {
public:
    explicit BareServer(std::shared_ptr<transport::TServerSocket> socket) {
        auto processor = std::make_shared<TMultiplexedProcessor>();
        processor->registerProcessor("SdpBroadcastService", std::make_shared<bus::SdpBroadcastProcessor>(
                                                                std::make_shared<NullHandler>()));
        m_server = std::make_shared<server::TThreadedServer>(
            processor, socket, std::make_shared<transport::TBufferedTransportFactory>(),
            std::make_shared<protocol::TBinaryProtocolFactory>());
        m_thread = std::thread([this] { m_server->serve(); });
        std::this_thread::sleep_for(
            std::chrono::milliseconds(200));  // listening by then; a bench, not a test
    }
    ~BareServer() {
        m_server->stop();
        m_thread.join();
    }

private:
    std::shared_ptr<server::TThreadedServer> m_server;
    std::thread m_thread;
};

void print(const char* name, const Result& r, const Result* floor = nullptr, const char* versus = "floor") {
    std::printf("%-34s %10.0f calls/s   p50 %7.1f us   p99 %7.1f us", name, r.callsPerSecond, r.p50us,
                r.p99us);
    if (floor) {
        std::printf("   %.2fx of %s", r.callsPerSecond / floor->callsPerSecond, versus);
    }
    std::printf("\n");
}

}  // namespace

// The machine is shared: floor and bus are measured in alternating rounds and each reports its median
// round (by throughput), so that a burst of foreign load does not land on one side only.
Result medianRound(std::vector<Result> rounds) {
    std::sort(rounds.begin(), rounds.end(),
              [](const Result& a, const Result& b) { return a.callsPerSecond < b.callsPerSecond; });
    return rounds[rounds.size() / 2];
}

// The other process of the authentication measurement: plain and authenticated servers alternately.
int authClient(char** argv) {
    const uint16_t plainPort = static_cast<uint16_t>(std::atoi(argv[2]));
    const uint16_t authPort = static_cast<uint16_t>(std::atoi(argv[3]));
    const std::string plainPath = argv[4];
    const std::string authPath = argv[5];
    const int calls = std::atoi(argv[6]);
    const int rounds = std::atoi(argv[7]);
    auto plainTcp = Client::tcp(plainPort);
    auto authTcp = Client::tcp(authPort);
    auto plainLocal = Client::local(plainPath);
    auto authLocal = Client::local(authPath);
    const std::string channel = "auth-bench-" + std::to_string(::getpid());
    std::vector<Result> pt, at, pl, al;
    for (int round = 0; round < rounds; ++round) {
        const std::string tag = "-" + std::to_string(round);
        pt.push_back(measurePush(plainTcp, channel + "-pt" + tag, calls));
        at.push_back(measurePush(authTcp, channel + "-at" + tag, calls));
        pl.push_back(measurePush(plainLocal, channel + "-pl" + tag, calls));
        al.push_back(measurePush(authLocal, channel + "-al" + tag, calls));
    }
    const Result plainTcpResult = medianRound(pt);
    const Result plainLocalResult = medianRound(pl);
    std::printf("signed client in its own process, median of %d alternating rounds\n", rounds);
    print("bus push, TCP, no authentication", plainTcpResult);
    print("bus push, TCP, authenticated", medianRound(at), &plainTcpResult, "unauthenticated");
    print("bus push, socket, no authentication", plainLocalResult);
    print("bus push, socket, authenticated", medianRound(al), &plainLocalResult, "unauthenticated");
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 8 && std::string(argv[1]) == "--auth-client") {
        return authClient(argv);
    }
    // Positional numbers only: flags meant for other benchmark programs (--benchmark_...) are ignored.
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') {
            numbers.push_back(std::atoi(argv[i]));
        }
    }
    const int calls = numbers.size() > 0 ? std::max(100, numbers[0]) : 20000;
    const int rounds = numbers.size() > 1 ? std::max(1, numbers[1]) : 5;
    char pattern[] = "/tmp/okavel-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    ::setenv("OKAVEL_RUNTIME_DIR", (dir + "/run").c_str(), 1);

    const uint16_t barePort = talvern::test::freeTcpPort();
    const std::string barePath = dir + "/bare.sock";
    BareServer bareTcp(std::make_shared<transport::TServerSocket>("127.0.0.1", barePort));
    BareServer bareLocal(std::make_shared<transport::TServerSocket>(barePath));

    auto broadcast = std::make_shared<bus::SdpBroadcastImpl>();
    broadcast->setEventHandler([](const char*, const char*) { return true; });
    broadcast->start();
    talvern::rpc::RpcServerGroup group(std::make_shared<talvern::utilities::PortFileStore>(dir + "/var/run"));
    group.registerProcessor("SdpBroadcastService", bus::createSdpBroadcastProcessor(broadcast));
    if (!group.start("thrift", talvern::test::freeTcpPort(), "okavel-bench")) {
        std::fprintf(stderr, "the RPC servers did not start\n");
        return 1;
    }

    auto floorTcpClient = Client::tcp(barePort);
    auto floorLocalClient = Client::local(barePath);
    auto busTcpClient = Client::tcp(group.tcpPort());
    auto busLocalClient = Client::local(group.pipeSocketPath());
    std::vector<Result> floorTcp, floorLocal, busTcp, busLocal;
    for (int round = 0; round < rounds; ++round) {
        const std::string tag = "-" + std::to_string(round);
        floorTcp.push_back(measurePush(floorTcpClient, "floor-tcp" + tag, calls));
        busTcp.push_back(measurePush(busTcpClient, "bus-tcp" + tag, calls));
        floorLocal.push_back(measurePush(floorLocalClient, "floor-local" + tag, calls));
        busLocal.push_back(measurePush(busLocalClient, "bus-local" + tag, calls));
    }

    auto puller = Client::local(group.pipeSocketPath());
    auto pusher = Client::tcp(group.tcpPort());
    const Result delivery = measureDelivery(pusher, puller, broadcast->serverChannel(), calls / 4);

    const Result fTcp = medianRound(floorTcp);
    const Result fLocal = medianRound(floorLocal);
    std::printf("%d calls per measurement, one client, median of %d alternating rounds\n", calls, rounds);
    print("floor push, bare server, TCP", fTcp);
    print("floor push, bare server, socket", fLocal);
    print("bus push, TCP", medianRound(busTcp), &fTcp);
    print("bus push, local socket", medianRound(busLocal), &fLocal);
    print("push (TCP) to waiting pull (socket)", delivery);

    // Peer authentication: a second group guards the same bus; the client runs in a process of its own.
    talvern::rpc::RpcServerGroup guarded(
        std::make_shared<talvern::utilities::PortFileStore>(dir + "/var/run2"));
    guarded.requirePeerAuthentication();
    guarded.registerProcessor("SdpBroadcastService", bus::createSdpBroadcastProcessor(broadcast));
    if (!guarded.start("thrift", talvern::test::freeTcpPort(), "okavel-bench-auth")) {
        std::fprintf(stderr, "the authenticated RPC servers did not start\n");
        return 1;
    }
    std::fflush(stdout);
    std::vector<std::string> words{"/proc/self/exe",
                                   "--auth-client",
                                   std::to_string(group.tcpPort()),
                                   std::to_string(guarded.tcpPort()),
                                   group.pipeSocketPath(),
                                   guarded.pipeSocketPath(),
                                   std::to_string(calls),
                                   std::to_string(rounds)};
    std::vector<char*> childArgv;
    for (auto& word : words) {
        childArgv.push_back(word.data());
    }
    childArgv.push_back(nullptr);
    pid_t child = -1;
    int status = 1;
    if (::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, childArgv.data(), environ) == 0) {
        ::waitpid(child, &status, 0);
    }
    if (status != 0) {
        std::fprintf(stderr, "the authenticated measurement failed (is this program signed?)\n");
    }

    guarded.stop();
    group.stop();
    broadcast->stop();
    std::filesystem::remove_all(dir);
    return status == 0 ? 0 : 1;
}
