#include "BusArguments.h"

#include <charconv>
#include <map>

#include "app/cmdline/CmdlineParser.h"

namespace talvern::tools {
namespace {

bool parseCount(const std::string& text, std::int64_t& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

bool parsePortText(const std::string& text, std::uint16_t& port) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool parseBusArguments(int argc, const char* const argv[], BusArguments& out, std::string& error) {
    cmdline::parser parser;
    for (const char* name : {"socket", "tcp", "from", "reconnect-for"}) {
        parser.add<std::string>(name, 0, "", false);
    }
    if (!parser.parse(argc, argv)) {
        error = parser.error_full();
        return false;
    }
    const std::vector<std::string>& rest = parser.rest();
    static const std::map<std::string, std::size_t> kOperands{
        {"identify", 0}, {"push", 2}, {"watch", 0}, {"capacities", 0}};
    const auto command = rest.empty() ? kOperands.end() : kOperands.find(rest.front());
    if (command == kOperands.end()) {
        error = rest.empty() ? "no command given" : "unknown command " + rest.front();
        return false;
    }
    out.command = command->first;
    out.operands.assign(rest.begin() + 1, rest.end());
    if (out.operands.size() != command->second) {
        error = out.command + " takes " + std::to_string(command->second) + " operands";
        return false;
    }
    if (parser.exist("socket") && parser.exist("tcp")) {
        error = "--socket and --tcp exclude each other";
        return false;
    }
    out.socketPath = parser.get<std::string>("socket");
    std::uint16_t port = 0;
    if (parser.exist("tcp") && !parsePortText(parser.get<std::string>("tcp"), port)) {
        error = "not a port: " + parser.get<std::string>("tcp");
        return false;
    }
    if (parser.exist("tcp")) {
        out.port = port;
    }
    if (parser.exist("from") &&
        (out.command != "watch" || !parseCount(parser.get<std::string>("from"), out.from))) {
        error = "--from takes an event id and belongs to watch";
        return false;
    }
    std::int64_t seconds = 0;
    if (parser.exist("reconnect-for") &&
        (out.command != "watch" || !parseCount(parser.get<std::string>("reconnect-for"), seconds))) {
        error = "--reconnect-for takes seconds and belongs to watch";
        return false;
    }
    if (parser.exist("reconnect-for")) {
        out.reconnectSeconds = seconds;
    }
    return true;
}

}  // namespace talvern::tools
