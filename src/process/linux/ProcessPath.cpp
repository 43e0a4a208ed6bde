#include "process/ProcessPath.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include <fmt/format.h>

#include "log/Log.h"
#include "process/EnvProviderErrors.h"

namespace talvern::process {
namespace {

const char* const kTag = "oKavelEnvProvider";
constexpr std::string_view kDeletedSuffix = " (deleted)";

}  // namespace

bool ProcInfo::getProcessPathByPID(std::uint32_t pid, std::string& path) {
    // Asked on every RPC call, so the link's name is built without allocating.
    char link[32];
    *fmt::format_to_n(link, sizeof(link) - 1, "/proc/{}/exe", pid).out = '\0';
    char buffer[4096];
    ssize_t n = ::readlink(link, buffer, sizeof(buffer));
    if (n < 0) {
        int error = errno;
        OKV_LOG_TAG_ERROR(kTag, "read the executable of process {} failed; Reason: errCode={}, errMsg={}",
                          pid, error, std::strerror(error));
        return false;
    }
    const std::string_view target(buffer, static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) == sizeof(buffer)) {
        OKV_LOG_TAG_ERROR(kTag, "the executable path of process {} is too long", pid);
        return false;
    }
    if (target.ends_with(kDeletedSuffix)) {
        OKV_LOG_TAG_ERROR(kTag, "the executable of process {} was deleted or replaced: {}", pid, target);
        return false;
    }
    OKV_LOG_TAG_DEBUG(kTag, "process {} path:{}", pid, target);
    path.assign(target);
    return !path.empty();
}

std::string ProcInfo::getProcessPath(std::uint32_t pid, std::error_code& ec) {
    ec.clear();
    std::string path;
    if (!getProcessPathByPID(pid, path)) {
        OKV_LOG_TAG_ERROR(kTag, "getProcessPathByPID failed, pid:{}", pid);
        ec = std::error_code(kGetProcessPathFailed, envProviderCategory());
    }
    return path;
}

std::string processpath(std::uint32_t pid, std::error_code& ec) {
    OKV_LOG_TAG_DEBUG(kTag, "processpath enter.");
    std::string path = ProcInfo::getProcessPath(pid, ec);
    if (!ec) {
        OKV_LOG_TAG_DEBUG(kTag, "processpath:{}", path);
    }
    return path;  // Linux paths are bytes already; the agent treats them as UTF-8
}

}  // namespace talvern::process
