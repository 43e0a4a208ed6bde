#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvern::tools {

/// What an okavel-bus command line asks for.
struct BusArguments {
    std::string socketPath;                        ///< --socket PATH
    std::optional<std::uint16_t> port;             ///< --tcp PORT
    std::string command;                           ///< "identify", "push", "watch" or "capacities"
    std::vector<std::string> operands;             ///< push: TOPIC CONTENT
    std::int64_t from = 0;                         ///< watch --from ID
    std::optional<std::int64_t> reconnectSeconds;  ///< watch --reconnect-for SECONDS
};

/// A port number 1 to 65535 written in decimal digits only.
bool parsePortText(const std::string& text, std::uint16_t& port);

/// Reads argv with the agent's command-line parser. False with `error` set for an unknown command or
/// option, --socket together with --tcp, a bad port or count, an option the command does not take, or the
/// wrong number of operands.
bool parseBusArguments(int argc, const char* const argv[], BusArguments& out, std::string& error);

}  // namespace talvern::tools
