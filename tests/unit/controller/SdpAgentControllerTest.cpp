#include "controller/SdpAgentController.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "context/RunTimeContext.h"
#include "eventcenter/IWebEventSink.h"
#include "http/HttpServerGroup.h"
#include "http/websocket/IWebSocketServer.h"
#include "http/websocket/WebSocketServer.h"
#include "platform/Ports.h"
#include "support/LogCapture.h"
#include "support/ThreadPool.h"
#include "unit/controller/RecordingSink.h"
#include "websecurity/SdpHttpServerContext.h"

using talvern::sdp::SdpAgentController;
using talvern::sdp::SdpOption;
using talvern::test::LogCapture;
using talvern::test::RecordingSink;
using talvern::test::TempDir;

namespace {

SdpOption optionFor(const std::string& pluginDir) {
    SdpOption option;
    option.pluginDir = pluginDir;
    option.pluginPath = pluginDir;
    return option;
}

}  // namespace

TEST(SdpAgentController, DestructorStopsAControllerThatWasNotStopped) {
    LogCapture log;
    {
        auto controller = std::make_shared<SdpAgentController>(optionFor("plugins"));
        ASSERT_TRUE(controller->start());
    }
    EXPECT_EQ(log.count("plugin manager unload"), 1);
    EXPECT_EQ(log.count("already stopped"), 0);
    EXPECT_EQ(log.count("http servers stop"), 0) << "HTTP is off";
    EXPECT_EQ(talvern::thread_pool::instance()->thread_count(), 0u);
}

TEST(SdpAgentController, DaemonHostRefusesEventsOthersPassThemOnEvenWithoutACenter) {
    EXPECT_TRUE(std::make_shared<SdpAgentController>(optionFor("plugins"))
                    ->handleEventMessage("statusEvent|login", "{\"event\":\"login\"}"));
    SdpOption option = optionFor("/opt/talvern/plugin-daemon");
    option.enableEventClient = false;
    auto controller = std::make_shared<SdpAgentController>(option);
    auto sink = std::make_shared<RecordingSink>();
    controller->setEventCenter(sink);
    EXPECT_FALSE(controller->handleEventMessage("statusEvent|uemInfo", "{\"event\":\"x\"}"));
    EXPECT_TRUE(sink->events.empty());

    SdpOption client = optionFor("plugins");
    auto other = std::make_shared<SdpAgentController>(client);
    other->setEventCenter(sink);
    EXPECT_TRUE(other->handleEventMessage("statusEvent|uemInfo", "{\"event\":\"x\"}"));
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].first, "statusEvent|uemInfo");
}

class ModuleLoadFilterTest : public ::testing::Test {
protected:
    std::string touch(const std::string& name) {
        auto path = dir.path() / name;
        std::ofstream(path) << "not really a library";
        return path.string();
    }
    TempDir dir;
    LogCapture log;
    std::shared_ptr<SdpAgentController> controller =
        std::make_shared<SdpAgentController>(optionFor("plugins"));
};

TEST_F(ModuleLoadFilterTest, UnsignedLibraryIsRefusedWhateverTheExtensionCase) {
    for (const char* name : {"libmodule.SO", "libmodule.so", "libmodule.So"}) {
        std::string path = touch(name);
        EXPECT_FALSE(controller->moduleLoadFilter(path)) << name;
        EXPECT_FALSE(log.contains("discard file:" + path)) << name << " passed the extension test";
        EXPECT_TRUE(log.contains("discard " + path + "; Reason: neither listed")) << name;
    }
    EXPECT_FALSE(log.contains("is valid, will load"));
}

TEST_F(ModuleLoadFilterTest, AbandonedLibraryIsRefusedInAnyCase) {
    std::vector<std::string> paths{touch("oKavelSddn.so"), touch("OKAVELSDDN.SO"), touch("okavelsddn.txt"),
                                   (dir.path() / "missing" / "oKavelsddn.so").string()};
    for (const auto& path : paths) {
        EXPECT_TRUE(controller->isAbandoned(path)) << path;
        EXPECT_FALSE(controller->moduleLoadFilter(path)) << path;
        EXPECT_TRUE(log.contains("discard " + path + "; Reason: match oKavelSddn in abandoned list")) << path;
    }
    EXPECT_FALSE(controller->isAbandoned(touch("oKavelSddnX.so")));
    EXPECT_FALSE(controller->isAbandoned(touch("liboKavelSddn.so")));
    // The tests run in the build's test directory, where no feature list lies.
    EXPECT_FALSE(controller->initPluginsFeature());
    EXPECT_TRUE(log.contains("initPluginsFeature return false; Reason: Open file(%s) failed"));
}

// Modules find the servers by name and cast the pointer to the face the name promises; the group is
// both, at different addresses, so each name must hold its own face. They reach the request-security
// whitelist through "SdpHttpContext"; the agent's own entries are there once the servers started.
TEST(SdpAgentControllerWeb, ModulesFindTheServerFacesAndShareTheWhitelistOfTheRequestPipeline) {
    LogCapture log;
    SdpOption option = optionFor("plugins");
    option.enableHttp = true;
    auto controller = std::make_shared<SdpAgentController>(option);
    auto context = controller->runTimeContext();

    auto* group =
        static_cast<talvern::HttpServerGroup*>(context->getService(std::string("HttpServer")).get());
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->servers().size(), 2u);
    for (const auto& [name, server] : group->servers()) {
        EXPECT_NE(std::dynamic_pointer_cast<talvern::WebSocketServer>(server), nullptr) << name;
    }
    auto* sockets =
        static_cast<talvern::IWebSocketServer*>(context->getService(std::string("WebSocketServer")).get());
    ASSERT_NE(sockets, nullptr);
    EXPECT_NE(sockets->addListener(talvern::IWebSocketServer::NewConnection, [](auto) {}), 0u);
    EXPECT_NO_THROW(sockets->broadcast("{}"));  // no socket yet: nothing to do

    auto pipeline = std::dynamic_pointer_cast<talvern::SdpHttpServerContext>(controller->context());
    ASSERT_NE(pipeline, nullptr);
    auto* face = static_cast<talvern::ISdpHttpServerContext*>(
        context->getService(std::string("SdpHttpContext")).get());
    ASSERT_NE(face, nullptr);
    EXPECT_TRUE(face->addRefererWhitelist(std::string("/v1/module/status"), "module"));
    EXPECT_TRUE(pipeline->isInRefererWhitelist("/v1/module/status"));

    ASSERT_TRUE(controller->start());
    for (const char* path : {"/v1/detect", "/v1/getServicePort", "/v1/base/printLog", "/v1/update/version",
                             "/v1/update/skip", "/v1/update/status", "/v1/update/start"}) {
        EXPECT_TRUE(pipeline->isInRefererWhitelist(path)) << path;
    }
    EXPECT_FALSE(pipeline->isInRefererWhitelist("/v1/service/events"));
    EXPECT_EQ(log.count("[trustAgent]Add the refere check whitelist: /v1/getServicePort"), 1);
    EXPECT_EQ(log.count("[trustUpdate]Add the refere check whitelist: /v1/update/start"), 1);
    controller->stop();
}
