#pragma once

#include <string>

// What the launch decision needs from the process utilities and the signature checks.
namespace talvern::process {

/// Starts a command line in the active user's session; false when it could not be started.
bool startwithCurrentUser(const std::string& commandLine, bool wait, bool option1, bool option2);

/// Terminates every process whose normalised command line equals commandLine; returns what was done.
std::string terminateProcessByCmdLine(const std::string& commandLine);

/// Gives the process the privileges it needs over other processes (logs what it could do).
void enableDebugPrivilege();

/// Terminates every process named imageName whose parent is parentPid.
bool killSameNameChildProc(const std::string& imageName, int parentPid);

/// The description of the service unit: message 37 of the catalogue in the display language.
std::string serviceDescription();

}  // namespace talvern::process
