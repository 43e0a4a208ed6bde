#pragma once

// Runs the real agent executable the way a user would: a copy in a temporary directory (its working
// directory and port files live beside it), with every directory it writes moved inside the sandbox.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/Eventually.h"
#include "support/TempDir.h"

namespace talvern::test {

/// What a finished command left behind.
struct RunResult {
    int exitCode = -1000;  ///< the exit status, or -signal when a signal ended it, -1000 on a time-out
    std::string out;
    std::string err;
};

/// One agent process started in the background.
class AgentProcess {
public:
    AgentProcess(pid_t pid, std::filesystem::path out, std::filesystem::path err);
    ~AgentProcess();  ///< kills the process if it still runs
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int sig) const;
    /// Waits for the process to end; the exit code as in RunResult.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(20));
    bool running();
    std::string out() const;
    std::string err() const;
    /// Waits until standard output contains text.
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    pid_t m_pid;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
    bool m_reaped = false;
    int m_status = -1000;
};

class AgentSandbox {
public:
    /// The build's agent, or a copy of an installed agent's directory (executables, plug-ins) whose links
    /// to the machine's state and log directories are left out, so the sandbox's agents write only inside it.
    explicit AgentSandbox(const std::filesystem::path& installedAgentDir = {});

    const std::filesystem::path& root() const { return m_dir.path(); }
    std::filesystem::path binDir() const { return m_dir.path() / "bin"; }
    std::filesystem::path dataHome() const { return m_dir.path() / "data"; }
    std::filesystem::path sharedDir() const { return m_dir.path() / "shared"; }
    std::filesystem::path runtimeDir() const { return m_dir.path() / "run"; }
    std::filesystem::path logDir() const { return dataHome() / "Talvern/oKavel/logs"; }
    std::filesystem::path agentPath() const { return binDir() / "oKavelAgent"; }

    /// Switches the agent's debug lines on (the mark file in the shared data directory).
    void enableDebugLog() const;
    /// A fixed port of the agent as this sandbox moves it (every sandbox has its own free port offset).
    std::uint16_t fixedPort(std::uint16_t port) const {
        return static_cast<std::uint16_t>(port + m_portOffset);
    }
    /// Extra environment for the agent (added to the sandbox's own).
    void setEnv(const std::string& name, const std::string& value) { m_extraEnv[name] = value; }

    /// Runs the agent with args and waits for it.
    RunResult run(const std::vector<std::string>& args,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    /// Starts the agent with args in the background.
    std::unique_ptr<AgentProcess> start(const std::vector<std::string>& args) const;
    /// Starts another program (a tool) the same way: in the executable's directory, sandbox environment.
    std::unique_ptr<AgentProcess> startProgram(const std::filesystem::path& program,
                                               const std::vector<std::string>& args) const;

    /// The text of a file in the sandbox (empty when missing).
    static std::string readFile(const std::filesystem::path& file);
    /// The port number a port file holds; 0 while the file is missing or empty.
    static std::uint16_t readPort(const std::filesystem::path& file);
    /// Waits until file contains text.
    static bool waitForFileText(const std::filesystem::path& file, const std::string& text,
                                std::chrono::milliseconds limit = std::chrono::seconds(20));
    /// Every file below a directory, relative names.
    static std::vector<std::string> listFiles(const std::filesystem::path& dir);

private:
    TempDir m_dir;
    std::map<std::string, std::string> m_extraEnv;
    std::uint16_t m_portOffset;
    mutable int m_counter = 0;
};

/// Signs file in place with a PEM certificate and key, with the given signing time (now when none);
/// empty on success, else why it failed.
std::string signWith(const std::filesystem::path& file, const std::filesystem::path& certificate,
                     const std::filesystem::path& key, std::optional<std::time_t> signingTime = {});

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

/// The exit status of a shell command whose output is dropped (-1 when it did not exit).
int shell(const std::string& command);

/// How often part occurs in text.
inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace talvern::test
