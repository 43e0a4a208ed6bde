#include "app/service/QtServiceBase.h"

#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

#include "app/service/ServiceUnit.h"
#include "app/service/ServiceWatchdog.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "platform/SignalWatcher.h"
#include "platform/Signals.h"

namespace fs = std::filesystem;

namespace talvern {
namespace {

const char* const kDefaultUnitDir = "/etc/systemd/system";

// Runs systemctl with args; true when it exits 0.
bool systemctl(const std::vector<std::string>& args) {
    std::vector<std::string> words{"systemctl"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        platform::unblockAgentSignals();
        ::execvp("systemctl", argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool QtServiceBase::requested(const char* longName, const char* shortName) const {
    const std::string longForm = std::string("--") + longName;
    const std::string shortForm = std::string("-") + shortName;
    for (int i = 1; i < m_argc; ++i) {
        if (m_argv[i] != nullptr && (longForm == m_argv[i] || shortForm == m_argv[i])) {
            return true;
        }
    }
    return false;
}

QtServiceBase::QtServiceBase(int argc, char** argv, const std::string& name)
    : m_argc(argc), m_argv(argv), m_name(name) {}

std::string QtServiceBase::unitDirectory() {
    std::string dir = platform::environment("OKAVEL_SYSTEMD_UNIT_DIR");
    return dir.empty() ? std::string(kDefaultUnitDir) : dir;
}

std::string QtServiceBase::unitPath() const {
    return (fs::path(unitDirectory()) / (m_name + ".service")).string();
}

std::string QtServiceBase::pidFilePath() const { return platform::runtimeDir() + "/" + m_name + ".pid"; }

bool QtServiceBase::systemdManagesUnits() const {
    std::error_code ec;
    return unitDirectory() == kDefaultUnitDir && fs::exists("/run/systemd/system", ec);
}

int QtServiceBase::exec() {
    if (requested("install", "i")) {
        return install();
    }
    if (requested("uninstall", "u")) {
        return uninstall();
    }
    if (requested("terminate", "t")) {
        return terminate();
    }
    return run();
}

int QtServiceBase::run() {
    std::string pidFile = pidFilePath();
    std::ofstream(pidFile) << ::getpid() << "\n";

    std::mutex mutex;  // guards stopRequested
    std::condition_variable stopped;
    bool stopRequested = false;
    platform::SignalWatcher watcher({SIGTERM, SIGINT}, [&](int) {
        std::lock_guard lock(mutex);
        stopRequested = true;
        stopped.notify_all();
    });
    std::error_code ec;
    if (!watcher.start(ec)) {
        OKV_LOG_ERROR("signals cannot be watched; Reason: {}", ec.message());
    }

    start();
    sd_notify(0, "READY=1");
    std::unique_ptr<ServiceWatchdog> watchdog;
    if (auto interval = ServiceWatchdog::requestedInterval(); interval.count() > 0) {
        OKV_LOG_INFO("the service watchdog is told every {} ms", interval.count());
        watchdog = std::make_unique<ServiceWatchdog>(
            interval, [this](std::chrono::milliseconds limit) { return alive(limit); },
            [] { sd_notify(0, "WATCHDOG=1"); });
        watchdog->start();
    }
    {
        std::unique_lock lock(mutex);
        stopped.wait(lock, [&] { return stopRequested; });
    }
    watchdog.reset();
    sd_notify(0, "STOPPING=1");
    stop();
    watcher.stop();
    fs::remove(pidFile, ec);
    return 0;
}

int QtServiceBase::install() {
    std::string exe = platform::executablePath();
    std::error_code ec;
    fs::create_directories(unitDirectory(), ec);
    std::ofstream unit(unitPath(), std::ios::trunc);
    unit << serviceUnitText(m_description, exe, fs::path(exe).parent_path().string());
    unit.close();
    if (!unit) {
        std::cerr << "install " << m_name << " failed: cannot write " << unitPath() << std::endl;
        OKV_LOG_ERROR("install {} failed; Reason: cannot write {}", m_name, unitPath());
        return -1;
    }
    OKV_LOG_INFO("service unit written: {}", unitPath());
    if (systemdManagesUnits()) {
        bool ok = systemctl({"daemon-reload"});
        if (m_startupType == AutoStartup) {
            ok = systemctl({"enable", m_name + ".service"}) && ok;
        }
        if (!ok) {
            std::cerr << "install " << m_name << ": systemctl failed" << std::endl;
            return -1;
        }
    }
    std::cout << "The service " << m_name << " has been installed under " << unitPath() << std::endl;
    return 0;
}

int QtServiceBase::uninstall() {
    if (systemdManagesUnits()) {
        systemctl({"disable", m_name + ".service"});
    }
    std::error_code ec;
    if (!fs::remove(unitPath(), ec)) {
        std::cerr << "uninstall " << m_name << " failed: " << unitPath() << " is not installed" << std::endl;
        return -1;
    }
    if (systemdManagesUnits()) {
        systemctl({"daemon-reload"});
    }
    std::cout << "The service " << m_name << " has been uninstalled" << std::endl;
    return 0;
}

int QtServiceBase::terminate() {
    std::error_code ec;
    if (systemdManagesUnits() && fs::exists(unitPath(), ec)) {
        return systemctl({"stop", m_name + ".service"}) ? 0 : -1;
    }
    std::ifstream in(pidFilePath());
    long pid = 0;
    if (!(in >> pid) || pid <= 0) {
        std::cerr << "terminate " << m_name << " failed: the service is not running" << std::endl;
        return -1;
    }
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0) {
        std::cerr << "terminate " << m_name << " failed: " << std::strerror(errno) << std::endl;
        return -1;
    }
    std::cout << "The service " << m_name << " has been asked to stop" << std::endl;
    return 0;
}

}  // namespace talvern
