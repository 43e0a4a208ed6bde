#include "log/LogSetup.h"

#include <filesystem>
#include <iostream>

#include "log/Logger.h"
#include "platform/Paths.h"

namespace talvern {

bool getAppdataPath(std::string& path, std::error_code& ec) {
    if (!platform::applicationDataDir(path, ec)) {
        std::cerr << "getAppdataPath fail " << path << "error:" << ec.value() << "msg:" << ec.message()
                  << std::endl;
        return false;
    }
    return true;
}

std::string debugMarkPath() {
    std::string shared;
    std::error_code ec;
    platform::sharedDataDir(shared, ec);
    return (std::filesystem::path(shared) / "debug").string();
}

void initLogNameWithDir(const std::string& name, const std::string& dir, bool consoleOutput,
                        bool flushEveryLine) {
    std::cout << "log dir:" << dir << " log name:" << name << std::endl;
    if (!dir.empty()) {
        std::filesystem::create_directories(dir);
    }
    LoggerOptions options;
    options.filePath = (std::filesystem::path(dir) / name).string();
    options.level = 3;
    options.consoleOutput = consoleOutput;
    options.flushEveryLine = flushEveryLine;
    options.debugMarkPath = debugMarkPath();
    std::cout << "log debug file path:" << options.debugMarkPath << std::endl;
    Logger::GetInstance().setOptions(options);
}

}  // namespace talvern
