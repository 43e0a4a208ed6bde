#include "app/cmdline/CmdlineParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using cmdline::parser;

namespace {

parser makeParser() {
    parser p;
    p.add("verbose", 'v', "talk more");
    p.add("quiet", 'q', "talk less");
    p.add<std::string>("dir", 'd', "a directory", false, "here");
    p.add<int>("count", 'c', "how many", false, 3);
    return p;
}

}  // namespace

TEST(CmdlineParser, EveryParseErrorTextOnePerArgument) {
    parser p = makeParser();
    p.add<std::string>("needed", 'n', "required", true, "");
    p.add("clash", 'v', "shares -v");
    EXPECT_FALSE(p.parse({"prog", "--nope", "-x", "-v", "--count=abc", "--verbose=1", "--dir"}));
    EXPECT_EQ(p.errors(), (std::vector<std::string>{
                              "undefined option: --nope",
                              "undefined short option: -x",
                              "ambiguous short option: -v",
                              "option value is invalid: --count",
                              "option value is invalid: --verbose",
                              "option needs value: --dir",
                              "need option: --needed",
                          }));
}

TEST(CmdlineParser, ShortOptionMissingItsValueAndAReparseForgetsTheError) {
    parser p = makeParser();
    EXPECT_FALSE(p.parse({"prog", "-d"}));
    EXPECT_EQ(p.errors(), std::vector<std::string>{"option needs value: --dir"});
    EXPECT_TRUE(p.parse({"prog", "--quiet"}));
    EXPECT_TRUE(p.errors().empty());
}

TEST(CmdlineParser, RegistrationMistakesThrow) {
    parser p = makeParser();
    EXPECT_THROW(p.add("verbose", 'z', "again"), cmdline::cmdline_error);
    EXPECT_THROW(p.add("", 'z', "nameless"), cmdline::cmdline_error);
    ASSERT_TRUE(p.parse({"prog"}));
    EXPECT_THROW(p.exist("unknown"), cmdline::cmdline_error);
    EXPECT_THROW(p.get<int>("dir"), cmdline::cmdline_error);  // wrong type
}
