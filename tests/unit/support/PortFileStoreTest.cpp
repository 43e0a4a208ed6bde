// Port files: what counts as a port, where they go and which permissions a new one gets.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/PortFileStore.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::test::TempDir;
using talvern::utilities::PortFileStore;
namespace fs = std::filesystem;

TEST(PortFileStore, ReadsOneDecimalPortAndRefusesEverythingElse) {
    TempDir dir;
    PortFileStore store(dir.str());
    uint16_t port = 7;
    EXPECT_FALSE(store.read("missing", port));
    struct Case {
        const char* text;
        bool ok;
        uint16_t port;
    };
    for (const Case& c : {Case{"56630", true, 56630}, Case{" 56641\n", true, 56641}, Case{"1", true, 1},
                          Case{"65535", true, 65535}, Case{"0", false, 0}, Case{"70000", false, 0},
                          Case{"-5", false, 0}, Case{"abc", false, 0}, Case{"", false, 0}}) {
        talvern::test::writeFile(dir / "p", c.text);
        port = 0;
        EXPECT_EQ(store.read("p", port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(PortFileStore, StrictTextIsFiveDigitsAtMostFrom1To65535) {
    using talvern::utilities::PortText;
    struct Case {
        const char* text;
        PortText result;
        uint16_t port;
    };
    for (const Case& c : {Case{"1", PortText::valid, 1}, Case{"65535", PortText::valid, 65535},
                          Case{"00080", PortText::valid, 80}, Case{"0", PortText::outOfRange, 7},
                          Case{"65536", PortText::outOfRange, 7}, Case{"99999", PortText::outOfRange, 7},
                          Case{"000080", PortText::tooLong, 7}, Case{"", PortText::notDigits, 7},
                          Case{" 5", PortText::notDigits, 7}, Case{"5\n", PortText::notDigits, 7},
                          Case{"-5", PortText::notDigits, 7}, Case{"12a", PortText::notDigits, 7}}) {
        uint16_t port = 7;
        EXPECT_EQ(talvern::utilities::parsePortText(c.text, port), c.result) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}
