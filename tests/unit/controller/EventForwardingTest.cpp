#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/SdpAgentController.h"
#include "eventcenter/IWebEventSink.h"
#include "support/LogCapture.h"
#include "unit/controller/RecordingSink.h"

using talvern::sdp::SdpAgentController;
using talvern::test::LogCapture;
using talvern::test::RecordingSink;

namespace {

class FowardingEventTest : public ::testing::Test {
protected:
    FowardingEventTest() {
        talvern::sdp::SdpOption option;
        option.pluginDir = "plugins";
        controller = std::make_shared<SdpAgentController>(option);
        controller->setEventCenter(sink);
    }
    bool forwarded(const std::string& topic, const std::string& content) {
        std::size_t before = sink->events.size();
        controller->fowardingEvent(topic, content);
        return sink->events.size() == before + 1 && sink->events.back() == std::make_pair(topic, content);
    }

    LogCapture log;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    std::shared_ptr<SdpAgentController> controller;
};

const char* const kGood = "{\"event\":\"login\",\"data\":{\"user\":\"u\"}}";

}  // namespace

// Blocked topics first, then the always-forwarded ones, then the pattern, then the content.
TEST_F(FowardingEventTest, TopicTablesThenThePatternThenTheContentDecide) {
    const std::string forbidden = "is forbidden to be forwarded to HTTP and websocket channels";
    const std::string illegal = "The event(statusEvent|login) content format is illegal";
    const std::string nonJson = "is Non-json format events prohibit forwarding to HTTP or websocket channels";
    struct Case {
        const char* topic;
        std::string content;
        bool forwarded;
        std::string logged;
    };
    std::vector<Case> cases = {
        {"aclEvent|aclUemStatusOnline", kGood, false, forbidden},
        {"uemVirtualNetEvent|notifyVirtualNetInfo", kGood, false, forbidden},
        {"uemSandboxEvent|requestUpdateClientResource", kGood, false, forbidden},
        {"statusEvent|uemInfo", "this is not json", true, ""},
        {"uemCommonEvent|routerChanged", "", true, ""},
        {"statusEvent|supportWorkspace", R"({"event":1})", true, ""},
        {"statusEvent|login", kGood, true, ""},
        {"mirnEvent|x", kGood, true, ""},
        {"Forwarding|a|b", kGood, true, ""},
        {"uemVirtualNetEvent|somethingNew", kGood, true, ""},
        {"mirnEvent|x", "not json", false, "event(mirnEvent|x) " + nonJson},
    };
    for (const char* content : {R"({"data":1})", R"({"event":""})", R"({"event":7})", R"({"event":null})",
                                R"({"event":{"name":"x"}})", R"(["event"])", R"("event")"}) {
        cases.push_back({"statusEvent|login", content, false, illegal});
    }
    for (const char* content : {"not json", "", R"({"event":"login")", R"({"event":"login"} trailing)"}) {
        cases.push_back({"statusEvent|login", content, false, "event(statusEvent|login) " + nonJson});
    }
    for (const char* topic :
         {"statusEvent|loginX", "statusEvent|", "statusEvent|unknown", "mirnEvent|", "mirnEvent",
          "xmirnEvent|a", "MIRNEVENT|a", "otherEvent|login", "statusEvent|login|extra"}) {
        cases.push_back({topic, kGood, false, ""});  // outside the pattern: dropped silently
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.topic) + " " + c.content);
        LogCapture caseLog;
        EXPECT_EQ(forwarded(c.topic, c.content), c.forwarded);
        for (const std::string& text : {forbidden, illegal, nonJson}) {
            EXPECT_EQ(caseLog.contains(text), c.logged.find(text) != std::string::npos) << text;
        }
        EXPECT_TRUE(c.logged.empty() || caseLog.contains(c.logged));
    }
}
