#include "eventbus/SdpBroadcastClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "support/EventRecorder.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "unit/rpc/BusServer.h"
#include "unit/rpc/RpcTestSupport.h"

using namespace std::chrono_literals;
using talvern::SdpBroadcastClient;
using talvern::Transport;
using talvern::test::BusServer;
using talvern::test::eventually;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {

class BroadcastClient : public ::testing::Test {
protected:
    SdpBroadcastClient::Settings settings(Transport transport = Transport::all) {
        SdpBroadcastClient::Settings s;
        s.pipeName = pipe;
        s.servicePort = [this] { return port; };
        s.transport = [transport] { return transport; };
        s.retryInterval = 20ms;
        s.pullTimeoutMs = 50;
        return s;
    }
    // The topics of the "mirnEvent|" events the core service's bus holds, oldest first.
    std::vector<std::string> mirnTopics() {
        auto connection = talvern::test::RpcConnection::tcp(port);
        auto client = connection.bus();
        talvern::rpc::thrift::BroadcastIdentify identity;
        client->identify(identity);
        identity.eventID = 0;
        talvern::rpc::thrift::BroadcastPullEvent pulled;
        client->pull(pulled, identity, 50);
        std::vector<std::string> topics;
        for (const auto& e : pulled.data) {
            if (e.body.topic.rfind("mirnEvent|", 0) == 0) {
                topics.push_back(e.body.topic);
            }
        }
        return topics;
    }

    TempDir dir;
    ScopedEnv runtime{"OKAVEL_RUNTIME_DIR", (dir.path() / "run").string()};
    talvern::test::LogCapture log;
    std::uint16_t port = talvern::test::freeTcpPort();
    std::string pipe = "okavel-client-test";
    talvern::test::EventRecorder received;
};

}  // namespace

TEST_F(BroadcastClient, StartedBeforeTheServiceItRetriesThenDeliversWhatWasRaisedInOrder) {
    SdpBroadcastClient client(settings());
    client.setEventHandler(received.handler());
    ASSERT_TRUE(client.start());
    EXPECT_FALSE(client.start());  // already running
    client.broadcast("mirnEvent|one", R"({"event":"1"})");
    client.broadcast("mirnEvent|two", R"({"event":"2"})");
    ASSERT_TRUE(eventually([&] { return log.contains("fetch event failure, retry after 1 second"); }));
    ASSERT_TRUE(eventually([&] { return log.contains("The push failure will be retried after 1s"); }));

    BusServer core(dir / "core-ports", port, pipe);
    ASSERT_TRUE(core.started);
    client.broadcast("mirnEvent|three", R"({"event":"3"})");
    ASSERT_TRUE(eventually([&] { return mirnTopics().size() >= 3; }));
    EXPECT_EQ(mirnTopics(), (std::vector<std::string>{"mirnEvent|one", "mirnEvent|two", "mirnEvent|three"}));
    // The puller starts from the bus's next id, so what was pushed before its first pull never comes back;
    // an event pushed after that does, and is dropped there: the local handler had each event once.
    ASSERT_TRUE(eventually([&] { return log.contains("Initialize the event channel"); }));
    client.broadcast("mirnEvent|four", R"({"event":"4"})");
    EXPECT_TRUE(eventually([&] {
        return log.count({"Filter event from the service side and generate by this process",
                          "mirnEvent|four"}) == 1;
    }));
    EXPECT_TRUE(eventually([&] { return received.count({"mirnEvent|four", R"({"event":"4"})"}) == 1; }));
    EXPECT_EQ(received.count({"mirnEvent|one", R"({"event":"1"})"}), 1u);
    EXPECT_EQ(received.count({"mirnEvent|three", R"({"event":"3"})"}), 1u);
    client.stop();  // joins the distribution thread: nothing more can reach the handler
    EXPECT_EQ(received.count({"mirnEvent|four", R"({"event":"4"})"}), 1u);
}

TEST_F(BroadcastClient, EventsOfOtherProcessesReachTheHandlerAndARestartedServiceIsAdopted) {
    SdpBroadcastClient client(settings(Transport::pipe));
    client.setEventHandler(received.handler());
    {
        BusServer core(dir / "core-ports", port, pipe);
        ASSERT_TRUE(client.start());
        ASSERT_TRUE(eventually([&] { return log.contains("Initialize the event channel"); }));
        auto other = talvern::test::RpcConnection::tcp(port);
        ASSERT_TRUE(other.bus()->push(talvern::test::makeEvent("other-process", 1, "mirnEvent|other")));
        ASSERT_TRUE(eventually([&] {
            return received.count({"mirnEvent|other", R"({"event":"e2e"})"}) == 1;
        }));
        client.broadcast("mirnEvent|before", "{}");
        ASSERT_TRUE(eventually([&] { return log.contains("Push events to the server success"); }));
    }
    BusServer restarted(dir / "core-ports", port, pipe);
    ASSERT_TRUE(restarted.started);
    ASSERT_TRUE(eventually([&] { return log.contains("change channel(eventID: "); }));
    client.broadcast("mirnEvent|after", "{}");
    ASSERT_TRUE(eventually([&] { return !mirnTopics().empty(); }));
    // The event pushed to the first service is not pushed again to the new one.
    EXPECT_EQ(mirnTopics(), std::vector<std::string>{"mirnEvent|after"});
    client.stop();
}

TEST_F(BroadcastClient, TheChosenTransportIsTriedFirst) {
    BusServer core(dir / "core-ports", port, pipe);
    ASSERT_TRUE(core.started);
    // "all" starts with the transport that connected last.
    for (auto [transport, name, other] :
         {std::tuple{Transport::tcp, "TCP", "Pipe"}, std::tuple{Transport::pipe, "Pipe", "TCP"},
          std::tuple{Transport::all, "Pipe", "TCP"}}) {
        SCOPED_TRACE(name);
        talvern::test::LogCapture capture;
        SdpBroadcastClient client(settings(transport));
        client.setEventHandler(received.handler());
        client.start();
        ASSERT_TRUE(eventually([&] { return capture.contains("success by"); }));
        client.stop();
        EXPECT_TRUE(capture.contains(std::string("success by ") + name + " communication."));
        EXPECT_EQ(capture.count({"Ready to connect", std::string("by ") + other + " communication."}), 0);
    }
    // A transport that cannot connect gives way to the other.
    auto noPipe = settings(Transport::pipe);
    noPipe.pipeName = "okavel-client-test-nobody";
    talvern::test::LogCapture capture;
    SdpBroadcastClient client(noPipe);
    client.start();
    EXPECT_TRUE(eventually([&] { return capture.contains("success by TCP communication."); }));
}

TEST(BroadcastClientPort, BadPortFilesFallBackTo56630AndSayWhy) {
    TempDir dir;
    auto file = dir.path() / "thrift";
    const std::string notDigit = "content is empty or not digit", outOfRange = "the port is out of range";
    // Six digits count as "not digit" here, unlike in the web side's lookup.
    for (auto [content, why] : {std::pair{"0", outOfRange}, std::pair{"70000", outOfRange},
                                std::pair{"12a", notDigit}, std::pair{"123456", notDigit}}) {
        std::ofstream(file, std::ios::trunc) << content;
        testing::internal::CaptureStderr();
        EXPECT_EQ(SdpBroadcastClient::servicePortFromFile(file.string()), 56630) << content;
        EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr(why)) << content;
    }
    std::ofstream(file, std::ios::trunc) << "56631";
    EXPECT_EQ(SdpBroadcastClient::servicePortFromFile(file.string()), 56631);
    EXPECT_EQ(SdpBroadcastClient::servicePortFromFile((dir.path() / "missing").string()), 56630);
}
