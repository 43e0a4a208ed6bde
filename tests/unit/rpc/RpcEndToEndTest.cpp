// The bus and capacities services through the real RPC servers, with generated Thrift clients over the
// local socket and loopback TCP: routing, refusals, hostile input, the client cap and concurrent use.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thrift/TApplicationException.h>
#include <thrift/transport/TTransportException.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/SdpBroadcastService.h"
#include "rpc/PeerCheck.h"
#include "rpc/RpcServerGroup.h"
#include "rpc/SdpCapacitiesService.h"
#include "rpcauth/PeerIdentity.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/PortFileStore.h"
#include "support/TempDir.h"
#include "unit/rpc/RpcTestSupport.h"

using namespace std::chrono_literals;
using apache::thrift::TApplicationException;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::TSocket;
using apache::thrift::transport::TTransportException;
using talvern::rpc::RpcServerGroup;
using talvern::rpc::thrift::BroadcastIdentify;
using talvern::rpc::thrift::BroadcastPullEvent;
using talvern::rpc::thrift::BroadcastPushEvent;
using talvern::rpc::thrift::SdpBroadcastImpl;
using talvern::test::makeEvent;
using talvern::test::RpcConnection;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;
namespace thrift = talvern::rpc::thrift;

namespace {

enum class Transport { Pipe, Tcp };

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Raw bytes on a fresh connection; tells whether the server closed it afterwards.
class RawConnection {
public:
    explicit RawConnection(const std::string& socketPath) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socketPath.c_str());
        EXPECT_EQ(::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        timeval timeout{30, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    }
    ~RawConnection() { ::close(m_fd); }
    void send(const std::string& bytes) {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void endWriting() { ::shutdown(m_fd, SHUT_WR); }
    /// True when the server closed the connection (end of stream or reset) without answering.
    bool closedByServer() {
        char buffer[256];
        ssize_t got = ::recv(m_fd, buffer, sizeof(buffer), 0);
        return got == 0 || (got < 0 && errno == ECONNRESET);
    }

private:
    int m_fd = -1;
};

// A message written with the protocol calls, to put on the wire what a generated client never would.
std::string encode(const std::function<void(TProtocol&)>& write) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    write(protocol);
    return buffer->getBufferAsString();
}

// A push call up to the start of its event structure.
void beginPushEvent(TProtocol& out) {
    out.writeMessageBegin("SdpBroadcastService:push", apache::thrift::protocol::T_CALL, 1);
    out.writeStructBegin("SdpBroadcast_push_args");
    out.writeFieldBegin("event", apache::thrift::protocol::T_STRUCT, 1);
    out.writeStructBegin("BroadcastPushEvent");
}

// Closes a structure that is a field of the enclosing one.
void endStructField(TProtocol& out) {
    out.writeFieldStop();
    out.writeStructEnd();
    out.writeFieldEnd();
}

// A peer check that finds the caller through the call's socket, records its pid in `seen` and lets it
// through while `allow` holds.
talvern::rpc::PeerCheck recordingCheck(std::function<uint32_t(TSocket&, std::error_code&)> pidOf,
                                       std::atomic<uint32_t>& seen, const std::atomic<bool>& allow) {
    talvern::rpc::PeerCheck check;
    check.resolvePid = [pidOf](const std::shared_ptr<TProtocol>& in, std::error_code& ec) -> uint32_t {
        auto socket = talvern::rpc::callSocket(in);
        return socket ? pidOf(*socket, ec) : 0;
    };
    check.authorize = [&seen, &allow](uint32_t pid, std::error_code&) {
        seen = pid;
        return allow.load();
    };
    return check;
}

}  // namespace

class RpcServices : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv runtime{"OKAVEL_RUNTIME_DIR", (dir / "run").string()};
    talvern::test::LogCapture log;
    std::shared_ptr<SdpBroadcastImpl> bus;
    std::shared_ptr<RpcServerGroup> group;
    uint16_t port = 0;

    void SetUp() override {
        thrift::SdpBroadcastTimings timings;
        timings.defaultPullTimeout = 50ms;
        bus = std::make_shared<SdpBroadcastImpl>(timings);
        group = std::make_shared<RpcServerGroup>(
            std::make_shared<talvern::utilities::PortFileStore>((dir / "var" / "run").string()));
        group->registerProcessor("SdpBroadcastService", thrift::createSdpBroadcastProcessor(bus));
        group->registerProcessor(
            "SdpCapacitiesService",
            talvern::createSdpCapacitiesProcessor(std::make_shared<talvern::SdpCapacitiesService>(
                [] { return std::vector<std::string>{R"({"name":"m","version":"1"})"}; })));
        port = talvern::test::freeTcpPort();
        ASSERT_TRUE(group->start("thrift", port, "okavel-e2e"));
        ASSERT_TRUE(bus->start());
    }
    void TearDown() override {
        bus->stop();  // releases waiting pulls first, as the agent does
        group->stop();
    }

    RpcConnection connect(Transport transport) const {
        return transport == Transport::Pipe ? RpcConnection::unixSocket(group->pipeSocketPath())
                                            : RpcConnection::tcp(port);
    }
};

class RpcEndToEnd : public RpcServices, public ::testing::WithParamInterface<Transport> {
protected:
    using RpcServices::connect;
    RpcConnection connect() const { return connect(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Transports, RpcEndToEnd, ::testing::Values(Transport::Pipe, Transport::Tcp),
                         [](const auto& info) { return info.param == Transport::Pipe ? "Pipe" : "Tcp"; });

TEST_P(RpcEndToEnd, ProbeIdentifyReadyEventRepeatRulesAndAnEmptyPull) {
    auto connection = connect();
    auto client = connection.bus();
    EXPECT_TRUE(client->IsRpcStatusNormal());

    BroadcastIdentify identity;
    client->identify(identity);
    EXPECT_EQ(identity.channelID, bus->serverChannel());
    EXPECT_EQ(identity.eventID, 0);

    BroadcastPullEvent first;
    client->pull(first, BroadcastIdentify(), 3600 * 1000);  // answered at once, or the test times out
    ASSERT_EQ(first.data.size(), 1u);
    EXPECT_EQ(first.data[0].body.topic, "statusEvent|eventbus.ready");
    EXPECT_EQ(first.identify.channelID, bus->serverChannel());

    std::vector<bool> accepted;
    for (int64_t id : {5, 5, 4, 6}) {
        accepted.push_back(client->push(makeEvent("e2e-client", id)));
    }
    EXPECT_EQ(accepted, (std::vector<bool>{true, false, false, true}));
    client->identify(identity);
    EXPECT_EQ(identity.eventID, 2);

    // Nothing newer: the pull times out and its empty answer still carries the identity.
    BroadcastPullEvent empty;
    client->pull(empty, identity, 10);
    EXPECT_TRUE(empty.data.empty());
    EXPECT_EQ(empty.identify.channelID, bus->serverChannel());
    EXPECT_EQ(empty.identify.eventID, 2);
}

TEST_P(RpcEndToEnd, AServiceRegisteredAfterStartIsReachable) {
    auto connection = connect();
    thrift::SdpBroadcastClient late(connection.service("LateBus"));
    try {
        late.IsRpcStatusNormal();
        FAIL() << "an unregistered service answered";
    } catch (const TApplicationException& e) {
        EXPECT_STREQ(e.what(), "Unknown service: LateBus");
    }
    group->registerProcessor("LateBus",
                             thrift::createSdpBroadcastProcessor(std::make_shared<SdpBroadcastImpl>()));
    EXPECT_TRUE(late.IsRpcStatusNormal());  // same connection, new service
}

TEST_P(RpcEndToEnd, CapacitiesAreServedBesideTheBus) {
    auto connection = connect();
    auto capacities = connection.capacities();
    std::string document;
    capacities->getCapacities(document);
    EXPECT_NE(document.find(R"("name":"oKavelAgent")"), std::string::npos);
    EXPECT_NE(document.find(R"("dependency":[{"name":"m","version":"1"}])"), std::string::npos);
    EXPECT_TRUE(capacities->IsRpcStatusNormal());
    EXPECT_TRUE(connection.bus()->IsRpcStatusNormal());  // two services on one connection
}

TEST_P(RpcEndToEnd, UnknownMethodsAndServicesAreRefusedWithApplicationExceptions) {
    auto connection = connect();
    auto call = [&](const std::shared_ptr<TProtocol>& out, const std::string& method) {
        out->writeMessageBegin(method, apache::thrift::protocol::T_CALL, 7);
        out->writeStructBegin("args");
        out->writeFieldStop();
        out->writeStructEnd();
        out->writeMessageEnd();
        out->getTransport()->writeEnd();
        out->getTransport()->flush();
        std::string name;
        apache::thrift::protocol::TMessageType type;
        int32_t seqid = 0;
        connection.protocol->readMessageBegin(name, type, seqid);
        EXPECT_EQ(type, apache::thrift::protocol::T_EXCEPTION);
        EXPECT_EQ(seqid, 7);
        TApplicationException error;
        error.read(connection.protocol.get());
        connection.protocol->readMessageEnd();
        return error;
    };
    auto unknownMethod = call(connection.service("SdpBroadcastService"), "nosuch");
    EXPECT_EQ(unknownMethod.getType(), TApplicationException::UNKNOWN_METHOD);
    EXPECT_STREQ(unknownMethod.what(), "Invalid method name: 'nosuch'");

    auto unknownService = call(connection.service("NoSuchService"), "push");
    EXPECT_STREQ(unknownService.what(), "Unknown service: NoSuchService");

    auto plain = call(connection.protocol, "push");
    EXPECT_STREQ(plain.what(),
                 "Non-multiplexed client request dropped. Did you forget to call defaultProcessor()?");

    // Each refusal consumed its whole message: the connection goes on.
    EXPECT_TRUE(connection.bus()->IsRpcStatusNormal());
}

TEST_F(RpcServices, HostileInputClosesOnlyItsOwnConnection) {
    const std::string socketPath = group->pipeSocketPath();
    std::mutex handledMutex;
    std::set<std::string> handledTopics;
    bus->setEventHandler([&](const char* topic, const char*) {
        std::lock_guard<std::mutex> lock(handledMutex);
        handledTopics.insert(topic);
        return true;
    });

    // Another client pushes and pulls over the same socket the whole time.
    std::atomic<bool> done{false};
    std::atomic<int64_t> backgroundPushed{0};
    std::atomic<int> backgroundFailures{0};
    std::thread background([&] {
        try {
            auto connection = RpcConnection::unixSocket(socketPath);
            auto client = connection.bus();
            BroadcastIdentify cursor;
            client->identify(cursor);
            while (!done.load()) {
                if (!client->push(makeEvent("background", backgroundPushed.load()))) {
                    ++backgroundFailures;
                }
                ++backgroundPushed;
                BroadcastPullEvent pulled;
                client->pull(pulled, cursor, 1000);
                if (pulled.data.empty()) {
                    ++backgroundFailures;
                }
                cursor = pulled.identify;
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the background client failed: " << e.what();
        }
    });
    ASSERT_TRUE(talvern::test::eventually([&] { return backgroundPushed.load() > 0; }));

    struct Hostile {
        const char* what;
        std::string bytes;
        bool endWriting;
        const char* logged;
    };
    const Hostile inputs[] = {
        {"garbage", "\xde\xad\xbe\xef garbage that is no thrift message", false, nullptr},
        {"a message cut short", encode(beginPushEvent), true, nullptr},
        {"an origin without its required eventID: refused before the handler runs",
         encode([](TProtocol& out) {
             beginPushEvent(out);
             out.writeFieldBegin("body", apache::thrift::protocol::T_STRUCT, 1);
             makeEvent("incomplete", 0, "testEvent|incomplete").body.write(&out);
             out.writeFieldEnd();
             out.writeFieldBegin("origin", apache::thrift::protocol::T_STRUCT, 2);
             out.writeStructBegin("BroadcastIdentify");
             out.writeFieldBegin("channelID", apache::thrift::protocol::T_STRING, 1);
             out.writeString("incomplete");
             out.writeFieldEnd();
             endStructField(out);  // origin, without eventID
             endStructField(out);  // event
             out.writeFieldStop();
             out.writeStructEnd();
             out.writeMessageEnd();
         }),
         false, "Invalid data"},
        {"a topic string declared 2 GiB long", encode([](TProtocol& out) {
             beginPushEvent(out);
             out.writeFieldBegin("body", apache::thrift::protocol::T_STRUCT, 1);
             out.writeStructBegin("BroadcastBody");
             out.writeFieldBegin("topic", apache::thrift::protocol::T_STRING, 1);
             out.writeI32(0x7fffffff);
             out.writeI32(0x41414141);
         }),
         false, "Exceeded size limit"},
        {"a reply sent to the server", encode([](TProtocol& out) {
             out.writeMessageBegin("SdpBroadcastService:push", apache::thrift::protocol::T_REPLY, 1);
             out.writeStructBegin("result");
             out.writeFieldStop();
             out.writeStructEnd();
             out.writeMessageEnd();
         }),
         false, "received invalid message type 2 from client"},
    };

    auto steady = connect(Transport::Tcp);
    auto steadyBus = steady.bus();
    int64_t nextId = 0;
    const std::size_t residentBefore = residentBytes();
    for (const Hostile& input : inputs) {
        SCOPED_TRACE(input.what);
        {
            RawConnection raw(socketPath);
            raw.send(input.bytes);
            if (input.endWriting) {
                raw.endWriting();
            }
            EXPECT_TRUE(raw.closedByServer());
        }
        if (input.logged) {
            EXPECT_TRUE(log.contains(input.logged));
        }
        // The steady client is still served.
        ASSERT_TRUE(steadyBus->push(makeEvent("steady", nextId)));
        BroadcastIdentify justPushed;
        steadyBus->identify(justPushed);
        --justPushed.eventID;
        BroadcastPullEvent pulled;
        steadyBus->pull(pulled, justPushed, 1000);
        ASSERT_FALSE(pulled.data.empty());
        ++nextId;
    }
    // The other client is still served after all of it.
    const int64_t pushedSoFar = backgroundPushed.load();
    EXPECT_TRUE(talvern::test::eventually([&] { return backgroundPushed.load() > pushedSoFar + 1; }));
    done = true;
    background.join();
    EXPECT_EQ(backgroundFailures.load(), 0);

    // Nothing of the refused calls reached the bus: only the two clients' events are there.
    BroadcastIdentify identity;
    steadyBus->identify(identity);
    EXPECT_EQ(identity.eventID, nextId + backgroundPushed.load());
    bus->stop();  // no handler call runs from here on
    std::lock_guard<std::mutex> lock(handledMutex);
    EXPECT_EQ(handledTopics.count("testEvent|incomplete"), 0u);
    EXPECT_LT(residentBytes(), residentBefore + (256u << 20)) << "a declared size was allocated";
}

TEST_F(RpcServices, TheLocalSocketServesAtMost32ClientsAtOnceAndSurvivesARush) {
    std::vector<RpcConnection> rush;
    for (int i = 0; i < 40; ++i) {
        rush.push_back(RpcConnection::unixSocket(group->pipeSocketPath()));
    }
    for (int i = 0; i < 32; ++i) {
        EXPECT_TRUE(rush[i].bus()->IsRpcStatusNormal()) << "client " << i;
    }
    // The 33rd waits in the backlog while 32 are served.
    rush[32].socket->setRecvTimeout(300);
    EXPECT_THROW(rush[32].bus()->IsRpcStatusNormal(), TTransportException);
    rush.clear();
    EXPECT_TRUE(RpcConnection::unixSocket(group->pipeSocketPath()).bus()->IsRpcStatusNormal());
    EXPECT_TRUE(RpcConnection::tcp(port).bus()->IsRpcStatusNormal());
}

// Pushers and pullers on both transports: every puller sees the events pushed over the other one too.
TEST_F(RpcServices, ConcurrentPushersAndPullersOverBothTransportsSeeEveryEventOnceInOrder) {
    constexpr int kPushers = 8;
    constexpr int kPullers = 8;
    constexpr int kPerPusher = 30;  // 240 events: all stay in the ring
    constexpr std::size_t kTotal = kPushers * kPerPusher;
    std::vector<std::vector<BroadcastPushEvent>> received(kPullers);
    std::atomic<int> ready{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kPullers; ++p) {
        threads.emplace_back([&, p] {
            auto connection = connect(p % 2 ? Transport::Tcp : Transport::Pipe);
            auto client = connection.bus();
            BroadcastPullEvent pulled;
            client->pull(pulled, BroadcastIdentify(), 100);  // the ready event: the channel and the next id
            BroadcastIdentify cursor = pulled.identify;
            ++ready;
            while (received[p].size() < kTotal) {
                client->pull(pulled, cursor, 100);
                cursor = pulled.identify;
                received[p].insert(received[p].end(), pulled.data.begin(), pulled.data.end());
            }
        });
    }
    while (ready.load() < kPullers) {
        std::this_thread::yield();
    }
    for (int p = 0; p < kPushers; ++p) {
        threads.emplace_back([&, p] {
            auto connection = connect(p % 2 ? Transport::Pipe : Transport::Tcp);
            auto client = connection.bus();
            for (int i = 0; i < kPerPusher; ++i) {
                if (!client->push(makeEvent("pusher-" + std::to_string(p), i))) {
                    ++refused;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(refused.load(), 0);
    for (int p = 0; p < kPullers; ++p) {
        ASSERT_EQ(received[p].size(), kTotal) << "puller " << p;
        std::map<std::string, int64_t> next;
        for (const auto& event : received[p]) {
            EXPECT_EQ(event.origin.eventID, next[event.origin.channelID]++)
                << "puller " << p << " channel " << event.origin.channelID;
        }
        EXPECT_EQ(next.size(), static_cast<std::size_t>(kPushers));
    }
}

TEST(RpcPeerCheck, EveryCallPassesThePeerCheckAndARefusedOneGetsNoReply) {
    TempDir dir;
    ScopedEnv runtime("OKAVEL_RUNTIME_DIR", (dir / "run").string());
    talvern::test::LogCapture log;
    std::atomic<bool> allow{true};
    std::atomic<uint32_t> tcpPid{0};
    std::atomic<uint32_t> pipePid{0};
    RpcServerGroup group(std::make_shared<talvern::utilities::PortFileStore>((dir / "var").string()));
    group.setPeerChecks(  // TCP: the owner of the client's end of the connection
        recordingCheck(
            [](TSocket& socket, std::error_code& ec) {
                return talvern::rpc::tcpPortOwnerPid(static_cast<uint16_t>(socket.getPeerPort()),
                                                     talvern::rpc::tcpLocalPort(socket.getSocketFD()), ec);
            },
            tcpPid, allow),
        recordingCheck(
            [](TSocket& socket, std::error_code& ec) {
                return talvern::rpc::unixPeerPid(socket.getSocketFD(), ec);
            },
            pipePid, allow));
    group.registerProcessor("SdpBroadcastService",
                            thrift::createSdpBroadcastProcessor(std::make_shared<SdpBroadcastImpl>()));
    ASSERT_TRUE(group.start("thrift", talvern::test::freeTcpPort(), "okavel-peer"));
    EXPECT_TRUE(RpcConnection::tcp(group.tcpPort()).bus()->IsRpcStatusNormal());
    EXPECT_EQ(tcpPid.load(), static_cast<uint32_t>(::getpid()));

    auto connection = RpcConnection::unixSocket(group.pipeSocketPath());
    EXPECT_TRUE(connection.bus()->IsRpcStatusNormal());
    EXPECT_EQ(pipePid.load(), static_cast<uint32_t>(::getpid()));

    allow = false;
    EXPECT_THROW(connection.bus()->IsRpcStatusNormal(), TTransportException);
    EXPECT_TRUE(log.contains("RPC will reject the service; Reason: the Pipe peer is refused"));
    allow = true;
    EXPECT_TRUE(RpcConnection::unixSocket(group.pipeSocketPath()).bus()->IsRpcStatusNormal());
    group.stop();
}
