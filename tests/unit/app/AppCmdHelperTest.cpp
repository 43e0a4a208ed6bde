#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/SdpAppCmdHelper.h"
#include "app/SdpParamAdaptor.h"
#include "app/cmdline/CmdlineParser.h"
#include "support/Args.h"

using talvern::test::Args;

namespace {

// One command line through initCmdline: what it answered and printed, and the parser it filled.
struct Launch {
    explicit Launch(std::vector<std::string> words) : args(std::move(words)) {
        std::ostringstream outText;
        std::ostringstream errText;
        ok = talvern::initCmdline(*parser, args.argc(), args.argv(), outText, errText);
        out = outText.str();
        err = errText.str();
    }
    std::shared_ptr<cmdline::parser> parser = std::make_shared<cmdline::parser>();
    Args args;
    bool ok = false;
    std::string out;
    std::string err;
};

}  // namespace

TEST(InitCmdline, PluginDirectoryEscapeIsRefused) {
    for (std::string bad : {"../x", "a/../b", "a\\..\\b", "..", "x/.."}) {
        Launch r({"oKavelAgent", "--plugin", bad});
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_EQ(r.out, "Path '" + bad + "' has the risk of crossing\n");
    }
    for (std::string good : {"a..b", "plugins/x", "...", ".hidden/..x"}) {
        EXPECT_TRUE(Launch({"oKavelAgent", "--plugin", good}).ok) << good;
    }
}
