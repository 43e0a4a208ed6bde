#pragma once

#include <map>
#include <string>
#include <vector>

namespace talvern::tools {

/// What an okavel-sign command line asks for.
struct SignArguments {
    std::string command;  ///< "sign", "verify", "show", "strip", "feature-list", "help"
    std::map<std::string, std::string> options;  ///< "--cert" -> its value, ...
    std::vector<std::string> files;
};

/// Reads argv with the agent's command-line parser. False with `error` set for an unknown command, an
/// option the command does not take, an option without its value, or a command without FILE.
bool parseSignArguments(int argc, const char* const argv[], SignArguments& out, std::string& error);

}  // namespace talvern::tools
