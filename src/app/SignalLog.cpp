#include "app/SignalLog.h"

#include <filesystem>
#include <iostream>

#include "log/LogSetup.h"
#include "log/Logger.h"

namespace talvern {
namespace {

void configure(IndependentLogObj& log) {
    std::string appData;
    std::error_code ec;
    std::string dir;
    if (getAppdataPath(appData, ec)) {
        dir = (std::filesystem::path(appData) / "logs").string();
    } else {
        std::cerr << "getAppdataPath failed." << std::endl;
        dir = "logs";
    }
    try {
        log.initLogNameWithDir("oKavelAgentSignal.log", dir, false, true);
        LoggerOptions options = log.getOptions();
        options.level = 1;
        log.setOptions(options);
    } catch (...) {
        std::cerr << "exception in init log" << std::endl;
    }
}

}  // namespace

IndependentLogObj& signalLog() {
    static IndependentLogObj* log = [] {
        // Lives until process exit: signal handlers may still write while statics are torn down.
        auto* created = new IndependentLogObj();
        configure(*created);
        return created;
    }();
    return *log;
}

}  // namespace talvern
