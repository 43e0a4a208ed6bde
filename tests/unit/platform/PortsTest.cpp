#include "platform/Ports.h"

#include <gtest/gtest.h>

using talvern::platform::parsePortOffset;

TEST(PortOffset, OnlyDecimalOffsetsThatKeepEveryFixedPortInRangeAreTaken) {
    struct Case {
        const char* text;
        bool valid;
        std::uint16_t offset;
    } cases[] = {
        {"", true, 0},       {"0", true, 0},   {"1000", true, 1000}, {"6828", true, 6828}, {"6829", false, 0},
        {"70000", false, 0}, {"-1", false, 0}, {"12a", false, 0},    {" 5", false, 0},     {"+5", false, 0},
    };
    for (const Case& c : cases) {
        std::uint16_t offset = 77;
        std::error_code ec;
        EXPECT_EQ(parsePortOffset(c.text, offset, ec), c.valid) << c.text;
        EXPECT_EQ(static_cast<bool>(ec), !c.valid) << c.text;
        EXPECT_EQ(offset, c.offset) << c.text;
    }
}
