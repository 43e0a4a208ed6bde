#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "portal/Json.h"
#include "portal/PortalMessages.h"

namespace portal = talvern::portal;
namespace feature = talvern::common::plugins_feature;
using portal::from_json;
using portal::to_json;

namespace {

// sdpTraceId, type, lang, guid, addr, token, data.fromId and data.timeout all set.
const portal::event_req::EventReq kFilled{"t", "y", "l", "g", "a", "k", {9, 8}};

}  // namespace

TEST(PortalJsonRead, NestedKeyTouchesOnlyThatMember) {
    portal::event_req::EventReq req;
    ASSERT_TRUE(from_json(R"({"data":{"fromId":5}})", req));
    EXPECT_EQ(req.data.fromId, 5);
    EXPECT_EQ(req.data.timeout, 0);
    EXPECT_EQ(
        to_json(req),
        R"({"sdpTraceId":"","type":"","lang":"","guid":"","addr":"","token":"","data":{"fromId":5,"timeout":0}})");

    // Members already set keep their values when their keys are absent.
    req = kFilled;
    ASSERT_TRUE(from_json(R"({"data":{"timeout":100},"token":"new"})", req));
    EXPECT_EQ(req.data.fromId, 9);
    EXPECT_EQ(req.data.timeout, 100);
    EXPECT_EQ(req.token, "new");
    EXPECT_EQ(req.sdpTraceId, "t");
}

TEST(PortalJsonRead, SequenceIsResizedToTheArray) {
    feature::PluginsFeature list;
    list.plugins = {{"a", "1", 1}, {"b", "2", 2}, {"c", "3", 3}};
    list.sign = "s";
    ASSERT_TRUE(from_json(R"({"plugins":[{"name":"only"}]})", list));
    ASSERT_EQ(list.plugins.size(), 1u);
    EXPECT_EQ(list.plugins[0].name, "only");
    EXPECT_EQ(list.plugins[0].md5, "");
    EXPECT_EQ(list.plugins[0].fileSize, 0);
    EXPECT_EQ(list.sign, "s");

    ASSERT_TRUE(from_json(R"({"plugins":[]})", list));
    EXPECT_TRUE(list.plugins.empty());

    // Elements that are not objects cannot become records: the entries keep their defaults.
    ASSERT_TRUE(from_json(R"({"plugins":[1,"x",null,{"fileSize":"12"}]})", list));
    ASSERT_EQ(list.plugins.size(), 4u);
    EXPECT_EQ(list.plugins[0].name, "");
    EXPECT_EQ(list.plugins[3].fileSize, 12);
}

TEST(PortalJsonRead, EscapesAndEmbeddedNulAreDecoded) {
    portal::general_resp::GeneralResp resp;
    ASSERT_TRUE(from_json(R"({"message":"a\u0000b\u8bf7\n"})", resp));
    EXPECT_EQ(resp.message, std::string("a\0b\xe8\xaf\xb7\n", 7));
}

TEST(PortalJsonRead, DeeplyNestedTextNeitherCrashesNorFills) {
    constexpr std::size_t kDepth = 1000000;
    const std::string open(kDepth, '['), close(kDepth, ']');
    feature::PluginsFeature list;
    list.sign = "s";
    EXPECT_TRUE(from_json(open + close, list));
    EXPECT_FALSE(from_json(open, list));
    // Nested arrays where records are expected: the entries stay at their defaults.
    EXPECT_TRUE(from_json(R"({"plugins":[)" + open + close + "]}", list));
    ASSERT_EQ(list.plugins.size(), 1u);
    EXPECT_EQ(list.plugins[0].name, "");
    portal::event_req::EventReq req;
    std::string objects;
    for (std::size_t i = 0; i < kDepth; ++i) {
        objects += R"({"data":)";
    }
    objects += R"({"fromId":3})" + std::string(kDepth, '}');
    EXPECT_TRUE(from_json(objects, req));
    EXPECT_EQ(req.data.fromId, 0);
    EXPECT_TRUE(from_json(R"({"token":)" + open + close + "}", req));
    EXPECT_EQ(req.token, "");
}
