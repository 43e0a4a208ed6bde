#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace talvern::platform {
namespace {

std::string withSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') {
        dir.push_back('/');
    }
    return dir;
}

bool isAbsoluteDir(const std::string& value) { return !value.empty() && value.front() == '/'; }

bool createDirectories(const std::string& dir, std::error_code& ec) {
    ec.clear();
    fs::create_directories(dir, ec);
    if (ec) {
        return false;
    }
    return true;
}

// The per-user data home when it is usable as it stands, without repairing it.
std::string userDataHome() {
    std::string xdg = environment("XDG_DATA_HOME");
    return isAbsoluteDir(xdg) ? xdg : std::string();
}

const char* const kTempBase = "/tmp/Talvern/oKavel/";

}  // namespace

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string executablePath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string executableDir() {
    std::string exe = executablePath();
    if (exe.empty()) {
        std::error_code ec;
        return fs::current_path(ec).string();
    }
    return fs::path(exe).parent_path().string();
}

bool fixUpUserDataHome(std::string& dir, std::error_code& ec) {
    ec.clear();
    dir = userDataHome();
    if (dir.empty()) {
        std::string home = environment("HOME");
        if (!isAbsoluteDir(home)) {
            ec = std::make_error_code(std::errc::no_such_file_or_directory);
            return false;
        }
        dir = (fs::path(home) / ".local" / "share").string();
        if (::setenv("XDG_DATA_HOME", dir.c_str(), 1) != 0) {
            ec = std::error_code(errno, std::generic_category());
            return false;
        }
    }
    return createDirectories(dir, ec);
}

bool applicationDataDir(std::string& dir, std::error_code& ec) {
    std::string base = userDataHome();
    dir = base.empty() ? std::string(kTempBase) : withSlash(base) + "Talvern/oKavel/";
    return createDirectories(dir, ec);
}

std::string dumpBaseDir() {
    std::string base = userDataHome();
    return base.empty() ? std::string(kTempBase) + "Dump/" : withSlash(base) + "Talvern/oKavel/Dump/";
}

bool sharedDataDir(std::string& dir, std::error_code& ec) {
    ec.clear();
    std::string configured = environment("OKAVEL_SHARED_DATA_DIR");
    if (!configured.empty()) {
        dir = withSlash(configured);
        return true;
    }
    std::string exeDir = executableDir();
    if (exeDir.empty()) {
        dir.clear();
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
#ifdef OKAVEL_INSTALL_PREFIX
    // An installed agent keeps its shared files relative to its working directory (its own directory),
    // or, packaged, in the state directory the package names.
    std::string prefix = withSlash(OKAVEL_INSTALL_PREFIX);
    if (withSlash(exeDir).rfind(prefix, 0) == 0) {
        dir = withSlash(OKAVEL_INSTALLED_SHARED_DATA_DIR);
        return true;
    }
#endif
    dir = withSlash((fs::path(exeDir).parent_path() / "oKavelAgent").string());
    return true;
}

std::string runtimeDir() {
    std::error_code ec;
    std::string configured = environment("OKAVEL_RUNTIME_DIR");
    if (!configured.empty()) {
        fs::create_directories(configured, ec);
        return configured;
    }
    if (fs::create_directories("/run/okavel", ec) || (!ec && ::access("/run/okavel", W_OK) == 0)) {
        return "/run/okavel";
    }
    std::string xdg = environment("XDG_RUNTIME_DIR");
    if (isAbsoluteDir(xdg) && ::access(xdg.c_str(), W_OK) == 0) {
        std::string dir = withSlash(xdg) + "okavel";
        ec.clear();
        fs::create_directories(dir, ec);
        if (!ec) {
            return dir;
        }
    }
    std::string dir = "/tmp/okavel-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        return dir;
    }
    return dir;
}

std::string hostsFilePath() {
    std::string configured = environment("OKAVEL_HOSTS_FILE");
    return configured.empty() ? std::string("/etc/hosts") : configured;
}

}  // namespace talvern::platform
