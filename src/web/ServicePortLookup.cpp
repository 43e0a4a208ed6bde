#include "web/ServicePortLookup.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "platform/Paths.h"
#include "process/ProcessPath.h"
#include "process/ProcessUtils.h"
#include "support/ErrorCategories.h"
#include "support/PortFileStore.h"
#include "support/ReadFile.h"

namespace talvern::sdp {

std::vector<std::string> runningProcessDirectories(const std::string& processName) {
    std::vector<std::string> directories;
    // Our own port files first: other copies of the agent (an installed one beside a test's) have theirs.
    const std::filesystem::path self = platform::executablePath();
    if (self.filename() == processName) {
        directories.push_back(self.parent_path().string());
    }
    process::detail::enumProcess([&](const process::detail::ProcessEntry& entry) {
        if (entry.imageName == processName) {
            std::error_code ec;
            std::string path = process::processpath(entry.pid, ec);
            if (!ec && !path.empty()) {
                std::string dir = std::filesystem::path(path).parent_path().string();
                if (std::find(directories.begin(), directories.end(), dir) == directories.end()) {
                    directories.push_back(dir);
                }
            }
        }
        return process::detail::CTRL_SEMENTIC::CONTINUE;
    });
    return directories;
}

bool isServiceNameSafe(const std::string& serviceName) {
    constexpr std::size_t kMaxServiceNameLength = 64;
    return serviceName.size() <= kMaxServiceNameLength &&
           serviceName.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
           serviceName.find("..") == std::string::npos;
}

std::uint16_t lookupServicePort(
    const std::string& processName, const std::string& serviceName, std::error_code& ec,
    const std::function<std::vector<std::string>(const std::string&)>& directoriesOf) {
    ec.clear();
    const auto directories =
        isServiceNameSafe(serviceName) ? directoriesOf(processName) : std::vector<std::string>{};
    for (const std::string& dir : directories) {
        const std::string path = dir + "/var/run" + "/" + serviceName;
        std::string content;
        std::error_code readEc;
        utilities::readWholeFile(path, content, readEc);  // a missing file reads as empty
        std::uint16_t port = 0;
        const utilities::PortText parsed = utilities::parsePortText(content, port);
        if (parsed == utilities::PortText::notDigits) {
            std::cerr << "get service port failed, content is empty or not digit, process: " << processName
                      << " service:" << serviceName << " path:" << path << std::endl;
            continue;
        }
        if (parsed != utilities::PortText::valid) {  // too long or out of range
            std::cerr << "get service port failed, the port is out of range, process: " << processName
                      << " service:" << serviceName << " path:" << path << std::endl;
            continue;
        }
        std::cout << "rpc port file path:" << path << " port:" << port << std::endl;
        return port;
    }
    std::cerr << "get service port failed\xEF\xBC\x8Cprocess:" << processName << " service:" << serviceName
              << std::endl;
    ec = rpc::make_error_code(rpc::general_errc::not_found);
    return 0;
}

}  // namespace talvern::sdp
