#include "app/SdpAppCmdHelper.h"

#include <filesystem>
#include <iostream>

#include "app/cmdline/CmdlineParser.h"
#include "log/Check.h"

namespace talvern {

const std::array<FlagOption, 3> kServiceOptions{{
    {"install", 'i', "install service"},
    {"uninstall", 'u', "uninstall service"},
    {"terminate", 't', "terminate service"},
}};

const std::array<FlagOption, 5> kPluginOptions{{
    {"enable-http", 'h', "enable http,if you do not use this value we will not crate http"},
    {"enable-event-center", 'e',
     "enable event center,if you do not use this value we will not crate event center"},
    {"plugin-stop", 'k', "stop master plugin instance that already run"},
    {"plugin-detect", 'd', "detect master plugin instance running status"},
    {"plugin-stop-sync", 'w', "stop master plugin instance that already run,and wait it stopped"},
}};

namespace {

void registerOptions(cmdline::parser& parser) {
    for (const auto& option : kServiceOptions) {
        parser.add(option.longName, option.shortName, option.help);
    }
    parser.add<std::string>("fork", 'f', "fork process with current user,only support unix", false, "");
    parser.add<std::string>("monitor-files", 'n', "monitor files,only support unix", false, "");
    parser.add<std::string>("plugin", 'p', "plugin dir", false, "");
    parser.add<std::string>("plugin-cmd", 'm', "plugin cmd parameter", false, "");
    for (const auto& option : kPluginOptions) {
        parser.add(option.longName, option.shortName, option.help);
    }
    parser.add("help", '?', "print help message");
}

}  // namespace

bool initCmdline(cmdline::parser& parser, int argc, char** argv) {
    return initCmdline(parser, argc, argv, std::cout, std::cerr);
}

bool initCmdline(cmdline::parser& parser, int argc, char** argv, std::ostream& out, std::ostream& err) {
    registerOptions(parser);
    if (!parser.parse(argc, argv)) {
        err << "parse cmd param fail" << std::endl;
        err << parser.usage();
        for (const auto& error : parser.errors()) {
            err << error << std::endl;
        }
        return false;
    }
    if (parser.exist("help")) {
        out << parser.usage();
        return false;
    }
    if (parser.exist("plugin")) {
        const std::string& value = parser.get<std::string>("plugin");
        if (hasDirectoryEscape(value)) {
            out << "Path '" << value << "' has the risk of crossing" << std::endl;
            return false;
        }
    }
    return true;
}

bool hasDirectoryEscape(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (path.compare(start, end - start, "..") == 0 && end - start == 2) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string transformPluginValue(const std::string& value) {
    std::string result;
    result.reserve(value.size());
    for (char c : value) {
        if (c == '"') {
            continue;
        }
        result.push_back(c == '/' ? '_' : c);
    }
    return result;
}

std::string getConsoleAppId(cmdline::parser& parser, int argc, char** argv) {
    OKV_ENSURE(argc > 0, "argc must more than 0");
    OKV_ENSURE(argv != nullptr, "argv can not be null");
    std::string id = std::filesystem::path(argv[0] ? argv[0] : "").stem().string();
    if (parser.exist("plugin")) {
        id += '_';
        id += transformPluginValue(parser.get<std::string>("plugin"));
    }
    for (const auto& option : kPluginOptions) {
        std::string name = option.longName;
        if (name == "plugin-stop" || name == "plugin-stop-sync" || name == "plugin-detect") {
            continue;
        }
        if (parser.exist(name)) {
            id += '_';
            id += option.shortName;
        }
    }
    return id;
}

bool isServiceApplication(cmdline::parser& parser, int argc, char**) {
    if (argc == 1) {
        return true;
    }
    for (const auto& option : kServiceOptions) {
        if (parser.exist(option.longName)) {
            return true;
        }
    }
    return false;
}

std::string logFileName(cmdline::parser& parser) {
    if (!parser.exist("plugin")) {
        return "oKavelService.log";
    }
    std::string name = "oKavelAgent_" + transformPluginValue(parser.get<std::string>("plugin"));
    for (const auto& option : kPluginOptions) {
        if (parser.exist(option.longName)) {
            name += std::string("_") + option.shortName;
        }
    }
    return name + ".log";
}

}  // namespace talvern
