#pragma once

// The agent's options and the rules that derive names from them (instance id, log file name).

#include <array>
#include <iosfwd>
#include <string>

namespace cmdline {
class parser;
}

namespace talvern {

/// A flag option: long name, short letter, help text.
struct FlagOption {
    const char* longName;
    char shortName;
    const char* help;
};

/// Options that select service mode, in usage order.
extern const std::array<FlagOption, 3> kServiceOptions;
/// The plug-in host's flags, in usage order; the log name and the instance id iterate them by position.
extern const std::array<FlagOption, 5> kPluginOptions;

/// Registers every option in usage order and parses. Prints the usage for --help (on out) or for a parse
/// failure (on err, with the errors), and refuses a --plugin value with a ".." component.
bool initCmdline(cmdline::parser& parser, int argc, char** argv);
bool initCmdline(cmdline::parser& parser, int argc, char** argv, std::ostream& out, std::ostream& err);

/// The single-instance id: the stem of argv[0], "_" + the transformed plug-in value, then "_h" and "_e"
/// for the switches that change what the instance serves. Query and stop commands compute their master's id.
std::string getConsoleAppId(cmdline::parser& parser, int argc, char** argv);

/// Service mode: started without arguments, or with a service option.
bool isServiceApplication(cmdline::parser& parser, int argc, char** argv);

/// The --plugin value with "/" turned into "_" and double quotes removed.
std::string transformPluginValue(const std::string& value);

/// True when the path has a ".." component, with "/" and "\" both counting as separators.
bool hasDirectoryEscape(const std::string& path);

/// The main log's file name: "oKavelService.log" without --plugin, else
/// "oKavelAgent_" + transformed value + "_" + letter for each plug-in flag present + ".log".
std::string logFileName(cmdline::parser& parser);

}  // namespace talvern
