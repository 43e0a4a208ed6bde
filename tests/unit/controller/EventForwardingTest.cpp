#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/EventForwardingRule.h"
#include "controller/SdpAgentController.h"
#include "eventcenter/IWebEventSink.h"
#include "support/LogCapture.h"
#include "unit/controller/RecordingSink.h"

using talvern::sdp::EventForwardingRule;
using talvern::sdp::SdpAgentController;
using talvern::test::LogCapture;
using talvern::test::RecordingSink;
using Verdict = EventForwardingRule::Verdict;

namespace {

class ThrowingSink : public talvern::IWebEventSink {
public:
    void broadcast(const std::string&, const std::string&) override {
        throw std::runtime_error("center down");
    }
};

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

TEST_F(FowardingEventTest, BlockedTopicIsNeverForwarded) {
    for (const char* topic : {"aclEvent|aclUemStatusOnline", "uemVirtualNetEvent|notifyVirtualNetInfo",
                              "uemSandboxEvent|requestUpdateClientResource"}) {
        EXPECT_FALSE(forwarded(topic, kGood)) << topic;
        EXPECT_TRUE(log.contains(std::string("The event ") + topic +
                                 " is forbidden to be forwarded to HTTP and websocket channels"));
    }
}

TEST_F(FowardingEventTest, AlwaysForwardedTopicSkipsTheContentChecks) {
    EXPECT_TRUE(forwarded("statusEvent|uemInfo", "this is not json"));
    EXPECT_TRUE(forwarded("uemCommonEvent|routerChanged", ""));
    EXPECT_TRUE(forwarded("statusEvent|supportWorkspace", "{\"event\":1}"));
}

TEST_F(FowardingEventTest, ListedTopicNeedsAJsonObjectWithANonEmptyEventString) {
    EXPECT_TRUE(forwarded("statusEvent|login", kGood));

    const std::string illegal = "The event(statusEvent|login) content format is illegal";
    for (const char* content : {"{\"data\":1}", "{\"event\":\"\"}", "{\"event\":7}", "{\"event\":null}",
                                "{\"event\":{\"name\":\"x\"}}", "[\"event\"]", "\"event\""}) {
        EXPECT_FALSE(forwarded("statusEvent|login", content)) << content;
    }
    EXPECT_EQ(log.count(illegal), 7);

    for (const char* content : {"not json", "", "{\"event\":\"login\"", "{\"event\":\"login\"} trailing"}) {
        EXPECT_FALSE(forwarded("statusEvent|login", content)) << content;
    }
    EXPECT_EQ(log.count("event(statusEvent|login) is Non-json format events prohibit forwarding to HTTP or "
                        "websocket channels"),
              4);
}

TEST_F(FowardingEventTest, TopicsOutsideThePatternAreDroppedSilently) {
    for (const char* topic :
         {"statusEvent|loginX", "statusEvent|", "statusEvent|unknown", "mirnEvent|", "mirnEvent",
          "xmirnEvent|a", "MIRNEVENT|a", "otherEvent|login", "statusEvent|login|extra"}) {
        EXPECT_FALSE(forwarded(topic, kGood)) << topic;
    }
    EXPECT_FALSE(log.contains("content format is illegal"));
    EXPECT_FALSE(log.contains("Non-json"));
    EXPECT_FALSE(log.contains("is forbidden"));
}

TEST_F(FowardingEventTest, CategoryTopicsWithAnyNameAreForwarded) {
    EXPECT_TRUE(forwarded("mirnEvent|x", kGood));
    EXPECT_TRUE(forwarded("Forwarding|a|b", kGood));
    EXPECT_TRUE(forwarded("uemVirtualNetEvent|somethingNew", kGood));
    EXPECT_FALSE(forwarded("mirnEvent|x", "not json"));
}

TEST_F(FowardingEventTest, FailingEventCenterIsLoggedNotThrown) {
    controller->setEventCenter(std::make_shared<ThrowingSink>());
    EXPECT_NO_THROW(controller->fowardingEvent("statusEvent|login", kGood));
    EXPECT_TRUE(log.contains("forward event statusEvent|login failed; Reason: center down"));
}

TEST(EventForwardingRule, VerdictsFollowTheTablesThenThePatternThenTheContent) {
    EXPECT_EQ(EventForwardingRule::judge("aclEvent|aclUemStatusOffline", kGood), Verdict::blocked);
    EXPECT_EQ(EventForwardingRule::judge("statusEvent|uemStatusV2", "x"), Verdict::always);
    EXPECT_EQ(EventForwardingRule::judge("statusEvent|tunnelPreparing", kGood), Verdict::forward);
    EXPECT_EQ(EventForwardingRule::judge("statusEvent|tunnelpreparing", kGood), Verdict::unlisted);
    EXPECT_EQ(EventForwardingRule::judge("diagnosis|run", "{"), Verdict::notJson);
    EXPECT_EQ(EventForwardingRule::judge("diagnosis|run", "{}"), Verdict::badEventField);
    EXPECT_FALSE(EventForwardingRule::forwards(Verdict::blocked));
    EXPECT_TRUE(EventForwardingRule::forwards(Verdict::always));
}
