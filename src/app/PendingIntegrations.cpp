#include "app/PendingIntegrations.h"

#include "log/Log.h"

// Interim: the process utilities and the signature checks land with their own libraries; until then
// these commands report themselves as unavailable and refuse, so nothing is done half-way.
namespace talvern::process {

bool startwithCurrentUser(const std::string& commandLine, bool, bool, bool) {
    OKV_LOG_ERROR("start process with current user fail,app:{}; Reason: {}", commandLine,
                  "starting processes is not available in this build yet");
    return false;
}

std::string terminateProcessByCmdLine(const std::string&) { return "process termination not available yet"; }

void enableDebugPrivilege() {}

bool protectionModuleTrusted(const std::string&, std::string& reason) {
    reason =
        "; Reason: signature verification is not available in this build, the library counts as unsigned";
    return false;
}

bool killSameNameChildProc(const std::string& imageName, int) {
    OKV_LOG_ERROR("terminating the children named {} is not available in this build yet", imageName);
    return false;
}

std::string serviceDescription() { return "oKavel agent service"; }

}  // namespace talvern::process
