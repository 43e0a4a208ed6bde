#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>

#include "app/SdpSingleApplicationImpl.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

int main(int argc, char** argv) {
    // Before any thread exists: the agent's signals are received by a dedicated thread, never in
    // async-signal context.
    talvern::platform::blockAgentSignals();

    std::cout << "cmd parameter:" << std::endl;
    for (int i = 0; i < argc; ++i) {
        std::cout << argv[i] << std::endl;
    }

    std::string exeDir = talvern::platform::executableDir();
    std::cout << "set sdp agent current work path " << exeDir << std::endl;
    std::error_code ec;
    std::filesystem::current_path(exeDir, ec);

    std::string appData;
    if (talvern::platform::fixUpUserDataHome(appData, ec)) {
        std::cout << "appdataPath=" << appData << std::endl;
    } else {
        std::cout << "Init proc appdata return error, code=" << ec.value() << ", msg=" << ec.message()
                  << std::endl;
    }

    std::cout << "talvern::SdpApplication ctor begin" << std::endl;
    auto sdpApp = std::make_shared<talvern::SdpSingleApplicationImpl>(argc, argv);
    std::cout << "talvern::SdpApplication ctor end" << std::endl;
    std::cout << "sdpApp.exec begin" << std::endl;
    int result = sdpApp->exec();
    std::cout << "sdpApp.exec end" << std::endl;
    std::cout << std::endl;
    std::cout << "return value:" << result << std::endl;
    return result;
}
