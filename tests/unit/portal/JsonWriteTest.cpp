#include <gtest/gtest.h>
#include <rttr/registration>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "portal/Json.h"
#include "portal/PortalMessages.h"

namespace portal = talvern::portal;
namespace feature = talvern::common::plugins_feature;
using portal::to_json;

namespace json_test {

enum class Colour { red = 1, green = 2, unnamed = 7 };

// Shapes the portal records do not use but the encoder must handle for records registered later.
struct Shapes {
    Colour colour = Colour::green;
    Colour stray = Colour::unnamed;
    bool flag = true;
    std::int32_t small = -3;
    std::uint64_t big = 18446744073709551615ull;
    double ratio = 0.5;
    std::vector<std::vector<std::int64_t>> grid{{1, 2}, {}};
    std::list<std::string> names{"a", "b"};
    std::map<std::string, std::int64_t> counts{{"x", 1}, {"y", 2}};
    std::set<std::int64_t> keys{3, 1};
    std::vector<Colour> colours{Colour::red};
    std::string hidden = "secret";
};

// A member type the reflection library knows nothing about: no properties, no text form.
struct Opaque {};
struct WithOpaque {
    std::int64_t before = 1;
    Opaque opaque;
    std::int64_t after = 2;
};

}  // namespace json_test

RTTR_REGISTRATION {
    using json_test::Colour;
    using json_test::Shapes;
    rttr::registration::enumeration<Colour>("json_test::Colour")(rttr::value("red", Colour::red),
                                                                 rttr::value("green", Colour::green));
    rttr::registration::class_<Shapes>("json_test::Shapes")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("colour", &Shapes::colour)
        .property("stray", &Shapes::stray)
        .property("flag", &Shapes::flag)
        .property("small", &Shapes::small)
        .property("big", &Shapes::big)
        .property("ratio", &Shapes::ratio)
        .property("grid", &Shapes::grid)
        .property("names", &Shapes::names)
        .property("counts", &Shapes::counts)
        .property("keys", &Shapes::keys)
        .property("colours", &Shapes::colours)
        .property("hidden", &Shapes::hidden)(rttr::metadata("NO_SERIALIZE", true));
    rttr::registration::class_<json_test::WithOpaque>("json_test::WithOpaque")
        .property("before", &json_test::WithOpaque::before)
        .property("opaque", &json_test::WithOpaque::opaque)
        .property("after", &json_test::WithOpaque::after);
}

TEST(PortalJsonWrite, KeysFollowRegistrationOrderNotDeclarationOrAlphabet) {
    portal::get_service_port_req::GetServicePortReq req;
    req.sdpTraceId = "0a1b2c3d";
    req.addr = "127.0.0.1";
    req.data.serviceName = "core";
    EXPECT_EQ(to_json(req),
              R"({"sdpTraceId":"0a1b2c3d","addr":"127.0.0.1","type":"","guid":"","lang":"","token":"",)"
              R"("data":{"serviceName":"core"}})");
}

TEST(PortalJsonWrite, PluginsFeatureWithTwoEntriesAndWithNone) {
    feature::PluginsFeature list;
    EXPECT_EQ(to_json(list), R"({"plugins":[],"sign":""})");

    list.plugins.push_back({"a.so", "d41d8cd98f00b204e9800998ecf8427e", 10});
    list.plugins.push_back({"b.so", "", -1});
    list.sign = "c2ln";
    EXPECT_EQ(to_json(list),
              R"({"plugins":[{"name":"a.so","md5":"d41d8cd98f00b204e9800998ecf8427e","fileSize":10},)"
              R"({"name":"b.so","md5":"","fileSize":-1}],"sign":"c2ln"})");
}

TEST(PortalJsonWrite, StringsAreEscapedAndKeepEmbeddedNul) {
    portal::general_resp::GeneralResp resp;
    resp.message = std::string("a\"b\\c\n\x01", 7) + std::string(1, '\0') + "\xe8\xaf\xb7";
    EXPECT_EQ(to_json(resp), "{\"code\":0,\"message\":\"a\\\"b\\\\c\\n\\u0001\\u0000\xe8\xaf\xb7\"}");
}

TEST(PortalJsonWrite, PointersAreFollowedAndInstancesReferringToNothingGiveEmptyText) {
    auto shared = std::make_shared<portal::general_resp::GeneralResp>();
    shared->code = 7;
    portal::general_resp::GeneralResp* raw = shared.get();
    // The last: the reflection library's own wrapper handling, reached through an instance.
    for (const std::string& text : {to_json(shared), to_json(raw), to_json(rttr::instance(shared))}) {
        EXPECT_EQ(text, R"({"code":7,"message":""})");
    }
    portal::general_resp::GeneralResp* none = nullptr;
    std::shared_ptr<portal::general_resp::GeneralResp> empty;
    EXPECT_EQ(to_json(none) + to_json(empty) + to_json(rttr::instance()), "");
    EXPECT_FALSE(portal::from_json("{}", none));
    EXPECT_FALSE(portal::from_json("{}", empty));
    EXPECT_TRUE(portal::from_json(R"({"code":3})", shared));
    EXPECT_EQ(shared->code, 3);
}

TEST(PortalJsonWrite, EveryValueShapeAndTheSkipMarker) {
    json_test::Shapes shapes;
    EXPECT_EQ(to_json(shapes),
              R"({"colour":"green","stray":7,"flag":true,"small":-3,"big":18446744073709551615,"ratio":0.5,)"
              R"("grid":[[1,2],[]],"names":["a","b"],"counts":[{"key":"x","value":1},{"key":"y","value":2}],)"
              R"("keys":[1,3],"colours":["red"]})");
}

TEST(PortalJsonWrite, AnUnwritablePropertyIsReportedAndTheRestWritten) {
    json_test::WithOpaque record;
    testing::internal::CaptureStderr();
    const std::string text = to_json(record);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot serialize property: opaque\n");
    EXPECT_EQ(text, R"({"before":1,"opaque":"","after":2})");
}

TEST(PortalJsonRead, EnumerationsContainersAndNestedArrays) {
    json_test::Shapes shapes;
    shapes.counts.clear();
    shapes.keys.clear();
    ASSERT_TRUE(talvern::portal::from_json(
        R"({"colour":"red","stray":"purple","flag":false,"small":"-9","big":"18446744073709551614",)"
        R"("ratio":2,"grid":[[7],[8,9],[]],"names":["x",5,null],)"
        R"("counts":[{"key":"z","value":"5"},{"key":"w"},{"key":"v","value":"five"},"bare"],)"
        R"("keys":[9,"4","x"],"colours":["green","nope"],"hidden":"seen"})",
        shapes));
    EXPECT_EQ(shapes.colour, json_test::Colour::red);
    EXPECT_EQ(shapes.stray, json_test::Colour::unnamed);  // an unknown name is not a value
    EXPECT_FALSE(shapes.flag);
    EXPECT_EQ(shapes.small, -9);
    EXPECT_EQ(shapes.big, 18446744073709551614ull);
    EXPECT_EQ(shapes.ratio, 2.0);
    EXPECT_EQ(shapes.grid, (std::vector<std::vector<std::int64_t>>{{7}, {8, 9}, {}}));
    EXPECT_EQ(shapes.names, (std::list<std::string>{"x", "5", ""}));
    EXPECT_EQ(shapes.counts, (std::map<std::string, std::int64_t>{{"z", 5}}));
    EXPECT_EQ(shapes.keys, (std::set<std::int64_t>{9, 4}));
    ASSERT_EQ(shapes.colours.size(), 2u);
    EXPECT_EQ(shapes.colours[0], json_test::Colour::green);
    // Reading is not governed by the skip marker: only writing is.
    EXPECT_EQ(shapes.hidden, "seen");
}
