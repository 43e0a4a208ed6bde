#include <gtest/gtest.h>
#include <rttr/registration>

#include <cstdint>
#include <list>
#include <map>
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

TEST(PortalJsonWrite, StringsAreEscapedAndKeepEmbeddedNul) {
    portal::general_resp::GeneralResp resp;
    resp.message = std::string("a\"b\\c\n\x01", 7) + std::string(1, '\0') + "\xe8\xaf\xb7";
    EXPECT_EQ(to_json(resp), "{\"code\":0,\"message\":\"a\\\"b\\\\c\\n\\u0001\\u0000\xe8\xaf\xb7\"}");
}
