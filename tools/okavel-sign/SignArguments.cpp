#include "SignArguments.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "app/cmdline/CmdlineParser.h"

namespace talvern::tools {
namespace {

struct CommandOptions {
    std::string_view command;
    std::vector<std::string_view> options;
};

const std::array<CommandOptions, 5>& commands() {
    static const std::array<CommandOptions, 5> table{{{"sign", {"cert", "key", "chain"}},
                                                      {"verify", {}},
                                                      {"show", {}},
                                                      {"strip", {}},
                                                      {"feature-list", {"key", "out"}}}};
    return table;
}

}  // namespace

bool parseSignArguments(int argc, const char* const argv[], SignArguments& out, std::string& error) {
    cmdline::parser parser;
    parser.add("help", 'h', "print the usage");
    for (const char* name : {"cert", "key", "chain", "out"}) {
        parser.add<std::string>(name, 0, "", false);
    }
    if (!parser.parse(argc, argv)) {
        error = parser.error_full();
        return false;
    }
    std::vector<std::string> rest = parser.rest();
    if (parser.exist("help") || (!rest.empty() && rest.front() == "help")) {
        out.command = "help";
        return true;
    }
    if (rest.empty()) {
        error = "no command given";
        return false;
    }
    out.command = rest.front();
    auto found = std::find_if(commands().begin(), commands().end(),
                              [&](const CommandOptions& entry) { return entry.command == out.command; });
    if (found == commands().end()) {
        error = "unknown command " + out.command;
        return false;
    }
    for (const char* name : {"cert", "key", "chain", "out"}) {
        if (!parser.exist(name)) {
            continue;
        }
        if (std::find(found->options.begin(), found->options.end(), name) == found->options.end()) {
            error = "unknown option --" + std::string(name) + " for " + out.command;
            return false;
        }
        out.options["--" + std::string(name)] = parser.get<std::string>(name);
    }
    out.files.assign(rest.begin() + 1, rest.end());
    if (out.files.empty()) {
        error = "no FILE given";
        return false;
    }
    return true;
}

}  // namespace talvern::tools
