#include "AgentSandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace talvern::test {

bool signWithDevelopmentKey(const fs::path& file) {
    std::string command = std::string(OKAVEL_SIGN_TOOL) + " sign --cert '" + OKAVEL_DEV_SIGNING_CERT +
                          "' --key '" + OKAVEL_DEV_SIGNING_KEY + "' '" + file.string() + "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

namespace {

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return -1000;
}

}  // namespace

AgentProcess::AgentProcess(pid_t pid, fs::path out, fs::path err)
    : m_pid(pid), m_out(std::move(out)), m_err(std::move(err)) {}

AgentProcess::~AgentProcess() {
    if (!m_reaped && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::kill(m_pid, SIGCONT);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

void AgentProcess::signal(int sig) const { ::kill(m_pid, sig); }

int AgentProcess::wait(std::chrono::milliseconds limit) {
    if (m_reaped) {
        return m_status;
    }
    bool ended = eventually(
        [&] {
            int status = 0;
            pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_reaped = true;
                m_status = decodeStatus(status);
                return true;
            }
            return false;
        },
        limit);
    return ended ? m_status : -1000;
}

bool AgentProcess::running() {
    if (m_reaped) {
        return false;
    }
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_reaped = true;
        m_status = decodeStatus(status);
        return false;
    }
    return true;
}

std::string AgentProcess::out() const { return AgentSandbox::readFile(m_out); }
std::string AgentProcess::err() const { return AgentSandbox::readFile(m_err); }

bool AgentProcess::waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    return AgentSandbox::waitForFileText(m_out, text, limit);
}

AgentSandbox::AgentSandbox() {
    fs::create_directories(binDir());
    fs::create_directories(sharedDir());
    fs::create_directories(runtimeDir());
    std::error_code ec;
    fs::create_hard_link(OKAVEL_AGENT_PATH, agentPath(), ec);
    if (ec) {
        fs::copy_file(OKAVEL_AGENT_PATH, agentPath(), fs::copy_options::overwrite_existing);
    }
    std::ofstream(root() / "hosts") << "127.0.0.1 localhost\n";
}

void AgentSandbox::enableDebugLog() const { std::ofstream(sharedDir() / "debug") << ""; }

pid_t AgentSandbox::spawn(const std::vector<std::string>& args, const fs::path& out,
                          const fs::path& err) const {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    env["XDG_DATA_HOME"] = dataHome().string();
    env["OKAVEL_SHARED_DATA_DIR"] = sharedDir().string();
    env["OKAVEL_RUNTIME_DIR"] = runtimeDir().string();
    env["OKAVEL_HOSTS_FILE"] = (root() / "hosts").string();
    for (const auto& [name, value] : m_extraEnv) {
        env[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : env) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : envText) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> argText{"./oKavelAgent"};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, binDir().c_str());
    // The test runner may block signals; the agent starts with a clean mask.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    std::string path = agentPath().string();
    if (posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

RunResult AgentSandbox::run(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
    int n = ++m_counter;
    fs::path out = root() / ("run" + std::to_string(n) + ".out");
    fs::path err = root() / ("run" + std::to_string(n) + ".err");
    AgentProcess process(spawn(args, out, err), out, err);
    RunResult result;
    result.exitCode = process.wait(limit);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

std::unique_ptr<AgentProcess> AgentSandbox::start(const std::vector<std::string>& args) const {
    int n = ++m_counter;
    fs::path out = root() / ("agent" + std::to_string(n) + ".out");
    fs::path err = root() / ("agent" + std::to_string(n) + ".err");
    return std::make_unique<AgentProcess>(spawn(args, out, err), out, err);
}

std::string AgentSandbox::readFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool AgentSandbox::waitForFileText(const fs::path& file, const std::string& text,
                                   std::chrono::milliseconds limit) {
    return eventually([&] { return readFile(file).find(text) != std::string::npos; }, limit);
}

std::vector<std::string> AgentSandbox::listFiles(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::exists(dir, ec)) {
        return names;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), dir).string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace talvern::test
