#include <gtest/gtest.h>

#include "BusArguments.h"
#include "SignArguments.h"
#include "support/Args.h"

using talvern::tools::SignArguments;

namespace {

struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
};

// Each command line through parse: accepted or refused with an error that starts as expected.
template <typename Parsed, typename Parse>
void expectVerdicts(const char* program, Parse parse, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        talvern::test::Args args(argv);
        Parsed parsed;
        std::string error;
        EXPECT_EQ(parse(args.argc(), args.argv(), parsed, error), c.error.empty()) << error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    }
}

}  // namespace

TEST(SignArguments, CommandsTakeTheirOwnOptionsAndNeedAFile) {
    expectVerdicts<SignArguments>(
        "okavel-sign", talvern::tools::parseSignArguments,
        {
            {{"sign", "--cert", "c.pem", "--key=k.pem", "a.so", "b.so"}, ""},
            {{"feature-list", "--key", "k.pem", "--out", "f.json", "a.so"}, ""},
            {{"-h"}, ""},
            {{"verify", "--cert", "c.pem", "a.so"}, "unknown option --cert for verify"},
            {{"sign", "--cert"}, "option needs value: --cert"},
            {{"sign", "--nonsense", "x", "a.so"}, "undefined option: --nonsense"},
            {{"strip"}, "no FILE given"},
            {{"publish", "a.so"}, "unknown command publish"},
            {{}, "no command given"},
        });
    talvern::test::Args args({"okavel-sign", "sign", "--cert", "c.pem", "--key=k.pem", "a.so", "b.so"});
    SignArguments parsed;
    std::string error;
    ASSERT_TRUE(talvern::tools::parseSignArguments(args.argc(), args.argv(), parsed, error));
    EXPECT_EQ(parsed.command, "sign");
    EXPECT_EQ(parsed.options, (std::map<std::string, std::string>{{"--cert", "c.pem"}, {"--key", "k.pem"}}));
    EXPECT_EQ(parsed.files, (std::vector<std::string>{"a.so", "b.so"}));
}

TEST(BusArguments, OneTargetACommandWithItsOperandsAndWatchAlone) {
    expectVerdicts<talvern::tools::BusArguments>(
        "okavel-bus", talvern::tools::parseBusArguments,
        {
            {{"--tcp", "56630", "push", "a|b", "{}"}, ""},
            {{"watch", "--from", "12", "--socket", "/run/x.sock"}, ""},
            {{"identify"}, ""},
            {{"--socket", "s", "--tcp", "1", "identify"}, "--socket and --tcp exclude each other"},
            {{"--tcp", "65536", "identify"}, "not a port: 65536"},
            {{"--tcp", "0", "identify"}, "not a port: 0"},
            {{"push", "a|b"}, "push takes 2 operands"},
            {{"capacities", "--from", "1"}, "--from takes an event id and belongs to watch"},
            {{"watch", "--from", "-1"}, "--from takes an event id"},
            {{"watch", "--reconnect-for", "x"}, "--reconnect-for takes seconds"},
            {{"push", "a", "b", "--reconnect-for", "5"},
             "--reconnect-for takes seconds and belongs to watch"},
            {{"listen"}, "unknown command listen"},
            {{}, "no command given"},
        });
    talvern::test::Args args(
        {"okavel-bus", "watch", "--from", "12", "--socket", "/run/x.sock", "--reconnect-for", "0"});
    talvern::tools::BusArguments parsed;
    std::string error;
    ASSERT_TRUE(talvern::tools::parseBusArguments(args.argc(), args.argv(), parsed, error));
    EXPECT_EQ(parsed.from, 12);
    EXPECT_EQ(parsed.socketPath, "/run/x.sock");
    EXPECT_FALSE(parsed.port.has_value());
    EXPECT_EQ(parsed.reconnectSeconds, 0);
}
