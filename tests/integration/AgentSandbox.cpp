#include "AgentSandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "signcheck/FileSigner.h"
#include "support/Args.h"
#include "support/PortOffset.h"
#include "support/TestFiles.h"

extern char** environ;

namespace fs = std::filesystem;

namespace talvern::test {

std::string signWith(const fs::path& file, const fs::path& certificate, const fs::path& key,
                     std::optional<std::time_t> signingTime) {
    signCheck::SignOptions options;
    options.certificatePath = certificate.string();
    options.keyPath = key.string();
    options.signingTime = signingTime;
    std::error_code ec;
    std::string detail;
    return signCheck::signFile(file.string(), options, ec, detail) ? "" : ec.message() + " " + detail;
}

int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

AgentProcess::AgentProcess(pid_t pid, fs::path out, fs::path err)
    : m_pid(pid), m_out(std::move(out)), m_err(std::move(err)) {}

AgentProcess::~AgentProcess() {
    if (!m_reaped && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::kill(m_pid, SIGCONT);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void AgentProcess::signal(int sig) const { ::kill(m_pid, sig); }

int AgentProcess::wait(std::chrono::milliseconds limit) {
    return eventually([&] { return !running(); }, limit) ? m_status : -1000;
}

bool AgentProcess::running() {
    int status = 0;
    if (!m_reaped && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_reaped = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
    }
    return !m_reaped;
}

std::string AgentProcess::out() const { return AgentSandbox::readFile(m_out); }
std::string AgentProcess::err() const { return AgentSandbox::readFile(m_err); }

bool AgentProcess::waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    return AgentSandbox::waitForFileText(m_out, text, limit);
}

AgentSandbox::AgentSandbox(const fs::path& installedAgentDir) : m_portOffset(freePortOffset()) {
    fs::create_directories(binDir());
    fs::create_directories(sharedDir());
    fs::create_directories(runtimeDir());
    std::error_code ec;
    if (installedAgentDir.empty()) {
        fs::create_hard_link(OKAVEL_AGENT_PATH, agentPath(), ec);
        if (ec) {
            fs::copy_file(OKAVEL_AGENT_PATH, agentPath(), fs::copy_options::overwrite_existing);
        }
    } else {
        fs::copy(installedAgentDir, binDir(), fs::copy_options::recursive | fs::copy_options::skip_symlinks);
    }
    std::ofstream(root() / "hosts") << "127.0.0.1 localhost\n";
}

void AgentSandbox::enableDebugLog() const { std::ofstream(sharedDir() / "debug") << ""; }

std::unique_ptr<AgentProcess> AgentSandbox::start(const std::vector<std::string>& args) const {
    return startProgram(agentPath(), args);
}

std::unique_ptr<AgentProcess> AgentSandbox::startProgram(const fs::path& program,
                                                         const std::vector<std::string>& args) const {
    // The test's own environment with the sandbox's directories and the extra variables in place.
    std::map<std::string, std::string> own = m_extraEnv;
    own.insert({{"XDG_DATA_HOME", dataHome().string()},
                {"OKAVEL_SHARED_DATA_DIR", sharedDir().string()},
                {"OKAVEL_RUNTIME_DIR", runtimeDir().string()},
                {"OKAVEL_HOSTS_FILE", (root() / "hosts").string()},
                {"OKAVEL_PORT_OFFSET", std::to_string(m_portOffset)},
                // --install and --terminate act on the sandbox's units, never on the machine's service.
                {"OKAVEL_SYSTEMD_UNIT_DIR", (root() / "units").string()}});
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (own.count(entry.substr(0, entry.find('='))) == 0) {
            envText.push_back(entry);
        }
    }
    for (const auto& [name, value] : own) {
        envText.push_back(name + "=" + value);
    }
    std::vector<std::string> words{program == agentPath() ? "./oKavelAgent" : program.string()};
    words.insert(words.end(), args.begin(), args.end());
    Args envp(envText);
    Args argv(words);

    const std::string stem = (root() / ("agent" + std::to_string(++m_counter))).string();
    const fs::path out = stem + ".out";
    const fs::path err = stem + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, binDir().c_str());
    // Nothing else is inherited: a test run's lock descriptor must not outlive the run in an agent.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The test runner may block signals; the agent starts with a clean mask.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attr, argv.argv(), envp.argv()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return std::make_unique<AgentProcess>(pid, out, err);
}

RunResult AgentSandbox::run(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
    auto process = start(args);
    const int exitCode = process->wait(limit);
    return RunResult{exitCode, process->out(), process->err()};
}

std::string AgentSandbox::readFile(const fs::path& file) { return talvern::test::readFile(file); }

std::uint16_t AgentSandbox::readPort(const fs::path& file) {
    const std::string text = readFile(file);
    return text.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(text));
}

bool AgentSandbox::waitForFileText(const fs::path& file, const std::string& text,
                                   std::chrono::milliseconds limit) {
    return eventually([&] { return contains(readFile(file), text); }, limit);
}

std::vector<std::string> AgentSandbox::listFiles(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec)) {
        if (it->is_regular_file()) {
            names.push_back(fs::relative(it->path(), dir).string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace talvern::test
