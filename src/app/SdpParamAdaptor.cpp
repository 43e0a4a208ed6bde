#include "app/SdpParamAdaptor.h"

#include <filesystem>
#include <iostream>

#include "app/cmdline/CmdlineParser.h"
#include "log/Log.h"

namespace talvern::sdp {

SdpParamAdaptor::SdpParamAdaptor(std::shared_ptr<cmdline::parser> parser) : m_parser(std::move(parser)) {}

bool SdpParamAdaptor::parseParam() {
    if (!m_parser) {
        return false;
    }
    bool ok = false;
    try {
        ok = Trans(*m_parser, *this);
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpParamAdaptor parse parameter fail", e.what());
        return false;
    }
    OKV_LOG_INFO(
        "\nsdpAgent option follow "
        "down\nplugin-dir:{}\nenableHttp:{}\nenableEventBus:{}\nenableEventClient:{}",
        pluginDir, enableHttp, enableEventBus, enableEventClient);
    return ok;
}

bool SdpParamAdaptor::Trans(cmdline::parser& parser, SdpOption& option) {
    option.enableHttp = parser.exist("enable-http");
    option.enableEventBus = parser.exist("enable-event-center");
    if (parser.exist("plugin-cmd")) {
        option.pluginCmd = parser.get<std::string>("plugin-cmd");
    }
    if (parser.exist("monitor-files")) {
        option.monitorFiles = parser.get<std::string>("monitor-files");
    }
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    const std::string plugin = parser.exist("plugin") ? parser.get<std::string>("plugin") : std::string();
    if (parser.exist("plugin") && plugin.find("plugin-daemon") == std::string::npos) {
        option.pluginPath = plugin;
        if (plugin == "plugins") {
            option.enableHttp = true;
            option.enableEventBus = true;
        }
        option.pluginDir = (cwd / plugin).string();
    } else {
        option.pluginPath = "plugin-daemon";
        option.pluginDir = (cwd / "plugin-daemon").string();
        option.enableEventClient = false;
    }
    OKV_LOG_INFO("pluginPath:{} pluginDir:{}", option.pluginPath, option.pluginDir);
    std::cout << "pluginPath:" << option.pluginPath << std::endl;
    std::cout << "pluginDir:" << option.pluginDir << std::endl;
    return true;
}

}  // namespace talvern::sdp
