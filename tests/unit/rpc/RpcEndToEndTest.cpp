// The bus service through the real RPC servers, with generated Thrift clients over the
// local socket and loopback TCP: routing, refusals, hostile input, the client cap and concurrent use.

#include <gtest/gtest.h>

#include <thrift/TApplicationException.h>
#include <thrift/transport/TTransportException.h>

#include <atomic>
#include <map>
#include <thread>

#include "rpc/PeerCheck.h"
#include "rpcauth/PeerIdentity.h"
#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "unit/rpc/BusServer.h"
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
namespace wire = apache::thrift::protocol;

namespace {

enum class Transport { Pipe, Tcp };

// A message written with the protocol calls, to put on the wire what a generated client never would.
std::string encode(const std::function<void(TProtocol&)>& write) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    wire::TBinaryProtocol protocol(buffer);
    write(protocol);
    return buffer->getBufferAsString();
}

// A push call up to the start of its event structure.
void beginPushEvent(TProtocol& out) {
    out.writeMessageBegin("SdpBroadcastService:push", wire::T_CALL, 1);
    out.writeStructBegin("SdpBroadcast_push_args");
    out.writeFieldBegin("event", wire::T_STRUCT, 1);
    out.writeStructBegin("BroadcastPushEvent");
}

}  // namespace

class RpcServices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.started); }
    RpcConnection connect(Transport transport) const {
        return transport == Transport::Pipe ? RpcConnection::unixSocket(group->pipeSocketPath())
                                            : RpcConnection::tcp(group->tcpPort());
    }

    TempDir dir;
    ScopedEnv runtime{"OKAVEL_RUNTIME_DIR", (dir / "run").string()};
    talvern::test::LogCapture log;
    talvern::test::BusServer server{dir / "var", talvern::test::freeTcpPort(), "okavel-e2e"};
    std::shared_ptr<SdpBroadcastImpl>& bus = server.bus;
    std::shared_ptr<RpcServerGroup>& group = server.group;
};

// The ready event and capacities over both transports are the agent's own integration tests; the repeat
// rules are the bus's own unit table.
TEST_F(RpcServices, RefusalsAreApplicationExceptionsAndALateServiceIsReachable) {
    auto connection = connect(Transport::Tcp);
    auto call = [&](const std::shared_ptr<TProtocol>& out, const std::string& method) {
        out->writeMessageBegin(method, wire::T_CALL, 7);
        out->writeStructBegin("args");
        out->writeFieldStop();
        out->writeStructEnd();
        out->writeMessageEnd();
        out->getTransport()->writeEnd();
        out->getTransport()->flush();
        std::string name;
        wire::TMessageType type;
        int32_t seqid = 0;
        connection.protocol->readMessageBegin(name, type, seqid);
        EXPECT_EQ(type, wire::T_EXCEPTION);
        EXPECT_EQ(seqid, 7);
        TApplicationException error;
        error.read(connection.protocol.get());
        connection.protocol->readMessageEnd();
        return std::string(error.what());
    };
    EXPECT_EQ(call(connection.service("SdpBroadcastService"), "nosuch"), "Invalid method name: 'nosuch'");
    EXPECT_EQ(call(connection.service("LateBus"), "push"), "Unknown service: LateBus");
    EXPECT_EQ(call(connection.protocol, "push"),
              "Non-multiplexed client request dropped. Did you forget to call defaultProcessor()?");

    // Each refusal consumed its whole message: the connection goes on, and sees a service added now.
    group->registerProcessor("LateBus",
                             thrift::createSdpBroadcastProcessor(std::make_shared<SdpBroadcastImpl>()));
    EXPECT_TRUE(thrift::SdpBroadcastClient(connection.service("LateBus")).IsRpcStatusNormal());
}

TEST_F(RpcServices, HostileInputClosesOnlyItsOwnConnection) {
    std::atomic<bool> incompleteHandled{false};
    bus->setEventHandler([&](const char* topic, const char*) {
        incompleteHandled = incompleteHandled || std::string(topic) == "testEvent|incomplete";
        return true;
    });
    struct Hostile {
        const char* what;
        std::string bytes;
        const char* logged;
    };
    const Hostile inputs[] = {
        {"garbage", "\xde\xad\xbe\xef garbage that is no thrift message", nullptr},
        {"a message cut short", encode(beginPushEvent), nullptr},
        {"an origin without its required eventID", encode([](TProtocol& out) {
             beginPushEvent(out);
             out.writeFieldBegin("body", wire::T_STRUCT, 1);
             makeEvent("incomplete", 0, "testEvent|incomplete").body.write(&out);
             out.writeFieldEnd();
             out.writeFieldBegin("origin", wire::T_STRUCT, 2);
             out.writeStructBegin("BroadcastIdentify");
             out.writeFieldBegin("channelID", wire::T_STRING, 1);
             out.writeString("incomplete");
             out.writeFieldEnd();
             for (int level = 0; level < 2; ++level) {  // origin (without eventID), then the event
                 out.writeFieldStop();
                 out.writeStructEnd();
                 out.writeFieldEnd();
             }
             out.writeFieldStop();
             out.writeStructEnd();
             out.writeMessageEnd();
         }),
         "Invalid data"},
        {"a topic string declared 2 GiB long", encode([](TProtocol& out) {
             beginPushEvent(out);
             out.writeFieldBegin("body", wire::T_STRUCT, 1);
             out.writeStructBegin("BroadcastBody");
             out.writeFieldBegin("topic", wire::T_STRING, 1);
             out.writeI32(0x7fffffff);
             out.writeI32(0x41414141);
         }),
         "Exceeded size limit"},
        {"a reply sent to the server", encode([](TProtocol& out) {
             out.writeMessageBegin("SdpBroadcastService:push", wire::T_REPLY, 1);
             out.writeStructBegin("result");
             out.writeFieldStop();
             out.writeStructEnd();
             out.writeMessageEnd();
         }),
         "received invalid message type 2 from client"},
    };
    auto steady = connect(Transport::Tcp).bus();
    for (std::size_t i = 0; i < std::size(inputs); ++i) {
        SCOPED_TRACE(inputs[i].what);
        TSocket raw(group->pipeSocketPath());
        raw.setRecvTimeout(30000);
        raw.open();
        raw.write(reinterpret_cast<const uint8_t*>(inputs[i].bytes.data()),
                  static_cast<uint32_t>(inputs[i].bytes.size()));
        if (i == 1) {
            ::shutdown(raw.getSocketFD(), SHUT_WR);  // the cut-short message ends there
        }
        uint8_t answer[64];
        uint32_t got = 1;
        try {
            got = raw.read(answer, sizeof(answer));
        } catch (const TTransportException&) {
            got = 0;  // reset by the server
        }
        EXPECT_EQ(got, 0u) << "the server answered instead of closing";
        if (inputs[i].logged) {
            EXPECT_TRUE(log.contains(inputs[i].logged));
        }
        EXPECT_TRUE(steady->push(makeEvent("steady", static_cast<int64_t>(i))));  // others are still served
    }
    BroadcastIdentify identity;
    steady->identify(identity);
    EXPECT_EQ(identity.eventID, static_cast<int64_t>(std::size(inputs)));  // nothing refused reached the bus
    bus->stop();
    EXPECT_FALSE(incompleteHandled.load());
}

TEST_F(RpcServices, TheLocalSocketServesAtMost32ClientsAtOnceAndSurvivesARush) {
    std::vector<RpcConnection> rush;
    for (int i = 0; i < 40; ++i) {
        rush.push_back(RpcConnection::unixSocket(group->pipeSocketPath()));
    }
    for (int i = 0; i < 32; ++i) {
        EXPECT_TRUE(rush[i].bus()->IsRpcStatusNormal()) << "client " << i;
    }
    rush[32].socket->setRecvTimeout(300);  // the 33rd waits in the backlog while 32 are served
    EXPECT_THROW(rush[32].bus()->IsRpcStatusNormal(), TTransportException);
    rush.clear();
    EXPECT_TRUE(RpcConnection::unixSocket(group->pipeSocketPath()).bus()->IsRpcStatusNormal());
}

// Pushers and pullers on both transports and the agent's own broadcasts: every puller sees every event once,
// in order per channel, and so does the local handler.
TEST_F(RpcServices, ConcurrentPushersBroadcastsAndPullersOverBothTransportsLoseNothing) {
    constexpr int kClients = 8;
    constexpr int kPerPusher = 25;
    constexpr std::size_t kTotal = (kClients + 1) * kPerPusher;  // all stay in the ring
    talvern::test::EventRecorder handled;
    bus->setEventHandler(handled.handler());
    std::vector<std::vector<BroadcastPushEvent>> received(kClients);
    std::atomic<int> ready{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kClients; ++p) {
        threads.emplace_back([&, p] {
            auto client = connect(p % 2 ? Transport::Tcp : Transport::Pipe).bus();
            BroadcastPullEvent pulled;
            client->pull(pulled, BroadcastIdentify(), 100);  // the ready event: the channel and the next id
            ++ready;
            while (received[p].size() < kTotal) {
                const BroadcastIdentify cursor = pulled.identify;
                client->pull(pulled, cursor, 100);
                received[p].insert(received[p].end(), pulled.data.begin(), pulled.data.end());
            }
        });
    }
    while (ready.load() < kClients) {
        std::this_thread::yield();
    }
    for (int p = 0; p < kClients; ++p) {
        threads.emplace_back([&, p] {
            auto client = connect(p % 2 ? Transport::Pipe : Transport::Tcp).bus();
            for (int i = 0; i < kPerPusher; ++i) {
                refused += client->push(makeEvent("pusher-" + std::to_string(p), i)) ? 0 : 1;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kPerPusher; ++i) {
            bus->broadcast("a|mine", "{}");
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(handled.waitFor(kTotal).size(), kTotal);
    for (int p = 0; p < kClients; ++p) {
        ASSERT_EQ(received[p].size(), kTotal) << "puller " << p;
        std::map<std::string, int64_t> next;
        for (const auto& event : received[p]) {
            EXPECT_EQ(event.origin.eventID, next[event.origin.channelID]++) << "puller " << p;
        }
        EXPECT_EQ(next.size(), static_cast<std::size_t>(kClients + 1));
    }
}

TEST(RpcPeerCheck, EveryCallPassesThePeerCheckAndARefusedOneGetsNoReply) {
    TempDir dir;
    ScopedEnv runtime("OKAVEL_RUNTIME_DIR", (dir / "run").string());
    talvern::test::LogCapture log;
    std::atomic<bool> allow{true};
    std::map<std::string, std::atomic<uint32_t>> seen;
    auto check = [&](const std::string& name, std::function<uint32_t(TSocket&, std::error_code&)> pidOf) {
        return talvern::rpc::PeerCheck{
            [pidOf](const std::shared_ptr<TProtocol>& in, std::error_code& ec) -> uint32_t {
                auto socket = talvern::rpc::callSocket(in);
                return socket ? pidOf(*socket, ec) : 0;
            },
            [&, name](uint32_t pid, std::error_code&) {
                seen[name] = pid;
                return allow.load();
            }};
    };
    seen["tcp"] = 0;
    seen["pipe"] = 0;
    RpcServerGroup group(std::make_shared<talvern::utilities::PortFileStore>((dir / "var").string()));
    group.setPeerChecks(check("tcp",
                              [](TSocket& socket, std::error_code& ec) {
                                  return talvern::rpc::tcpPortOwnerPid(
                                      static_cast<uint16_t>(socket.getPeerPort()),
                                      talvern::rpc::tcpLocalPort(socket.getSocketFD()), ec);
                              }),
                        check("pipe", [](TSocket& socket, std::error_code& ec) {
                            return talvern::rpc::unixPeerPid(socket.getSocketFD(), ec);
                        }));
    group.registerProcessor("SdpBroadcastService",
                            thrift::createSdpBroadcastProcessor(std::make_shared<SdpBroadcastImpl>()));
    ASSERT_TRUE(group.start("thrift", talvern::test::freeTcpPort(), "okavel-peer"));
    EXPECT_TRUE(RpcConnection::tcp(group.tcpPort()).bus()->IsRpcStatusNormal());
    auto connection = RpcConnection::unixSocket(group.pipeSocketPath());
    EXPECT_TRUE(connection.bus()->IsRpcStatusNormal());
    EXPECT_EQ(seen["tcp"].load(), static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(seen["pipe"].load(), static_cast<uint32_t>(::getpid()));

    allow = false;
    EXPECT_THROW(connection.bus()->IsRpcStatusNormal(), TTransportException);
    EXPECT_TRUE(log.contains("RPC will reject the service; Reason: the Pipe peer is refused"));
    allow = true;
    EXPECT_TRUE(RpcConnection::unixSocket(group.pipeSocketPath()).bus()->IsRpcStatusNormal());
    group.stop();
}
