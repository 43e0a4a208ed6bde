#include <gtest/gtest.h>

#include "context/RunTimeContext.h"
#include "controller/SdpAgentController.h"
#include "http/HttpServerGroup.h"
#include "http/websocket/IWebSocketServer.h"
#include "http/websocket/WebSocketServer.h"

namespace {

using talvern::sdp::SdpAgentController;
using talvern::sdp::SdpOption;

// Modules find the servers by name and cast the pointer to the face the name promises; the group is
// both, at different addresses, so each name must hold its own face.
TEST(SdpAgentControllerWebChannels, ServerGroupIsRegisteredUnderBothFaces) {
    SdpOption option;
    option.pluginDir = "plugins";
    option.pluginPath = "plugins";
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
}

}  // namespace
