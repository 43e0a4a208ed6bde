#include "process/ProcessUtils.h"

#include "process/EnvProviderErrors.h"
#include "process/ProcessPath.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/Args.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using talvern::test::eventually;
using talvern::test::LogCapture;
using talvern::test::TempDir;
using namespace talvern::process;

namespace {

std::string exeOf(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

// Children started by the test; whatever is still running at the end is killed and reaped.
class Children {
public:
    ~Children() {
        for (pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts program with the arguments and waits until the new image runs.
    pid_t start(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        talvern::test::Args argv(args);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execv(program.c_str(), argv.argv());
            ::_exit(127);
        }
        m_pids.push_back(pid);
        std::string expected = fs::canonical(program).string();
        // The new image and then its arguments appear in /proc.
        EXPECT_TRUE(eventually([&] {
            std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
            std::string first;
            return exeOf(pid) == expected && std::getline(cmdline, first, '\0') && first == program;
        })) << program;
        return pid;
    }

    // True when the child was ended by SIGKILL (and reaps it).
    bool killedBySignal(pid_t pid) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) {
            return false;
        }
        std::erase(m_pids, pid);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    static bool running(pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) == 0;
    }

private:
    std::vector<pid_t> m_pids;
};

class ProcessTest : public ::testing::Test {
protected:
    // A copy of sleep under another name, so that only the test's processes carry it.
    std::string sleeper(const std::string& name) {
        fs::path copy = dir.path() / name;
        fs::copy_file("/bin/sleep", copy);
        fs::permissions(copy, fs::perms::owner_all);
        return copy.string();
    }

    TempDir dir;
    LogCapture log;
    Children children;
};

}  // namespace

TEST(ProcessCommandLine, NormalisationKeepsWordsAndReducesTheProgram) {
    using detail::normalizeCommandLine;
    EXPECT_EQ(normalizeCommandLine("/usr/bin/oKavelAgent --plugin plugins"), "oKavelAgent --plugin plugins");
    EXPECT_EQ(normalizeCommandLine("  oKavelAgent\t --plugin   plugins  "), "oKavelAgent --plugin plugins");
    EXPECT_EQ(normalizeCommandLine("\"/opt/my dir/oKavelAgent\" --x"), "oKavelAgent --x");
    EXPECT_EQ(normalizeCommandLine("\"/opt/my dir/my agent\"  --x"), normalizeCommandLine("my agent --x"))
        << "a program name with a space compares equal to its process's command line";
    EXPECT_EQ(normalizeCommandLine("\"unclosed --x"), "\"unclosed --x") << "no closing quote: plain words";
    EXPECT_EQ(normalizeCommandLine("\"/opt/oKavelAgent\" --x"), "oKavelAgent --x");
    EXPECT_EQ(normalizeCommandLine("oKavelAgent --dir /a/b"), "oKavelAgent --dir /a/b") << "only the program";
    EXPECT_EQ(normalizeCommandLine(""), "");
    EXPECT_EQ(normalizeCommandLine("   "), "");
}

TEST_F(ProcessTest, EnumerationAndCommandLineSeeChildrenAndEnumerationStopsWhenAsked) {
    pid_t pid = children.start(sleeper("okv-enum"), {"300", "1"});
    EXPECT_EQ(detail::getProcessCommandLine(static_cast<std::uint32_t>(pid)), "okv-enum 300 1");
    EXPECT_EQ(detail::getProcessCommandLine(static_cast<std::uint32_t>(INT_MAX)), "");
    bool seen = false;
    bool sawSelf = false;
    ASSERT_TRUE(detail::enumProcess([&](const detail::ProcessEntry& entry) {
        if (entry.pid == static_cast<std::uint32_t>(pid)) {
            seen = true;
            EXPECT_EQ(entry.parentPid, static_cast<std::uint32_t>(::getpid()));
            EXPECT_EQ(entry.imageName, "okv-enum");
        }
        sawSelf = sawSelf || entry.pid == static_cast<std::uint32_t>(::getpid());
        return detail::CTRL_SEMENTIC::CONTINUE;
    }));
    EXPECT_TRUE(seen);
    EXPECT_TRUE(sawSelf);

    int calls = 0;
    ASSERT_TRUE(detail::enumProcess([&](const detail::ProcessEntry&) {
        ++calls;
        return detail::CTRL_SEMENTIC::STOP;
    }));
    EXPECT_EQ(calls, 1);
}

TEST_F(ProcessTest, TerminateByCommandLineKillsOnlyTheMatchingProcess) {
    // The name is this run's own: a look-up by command line reaches every process of the machine.
    const std::string name = "okv-target-" + std::to_string(::getpid());
    std::string program = sleeper(name);
    pid_t match = children.start(program, {"300"});
    pid_t otherArgument = children.start(program, {"301"});
    pid_t longer = children.start(program, {"300", "1"});
    pid_t otherProgram = children.start("/bin/sleep", {"300"});

    std::string result = windows::terminateProcessByCmdLine("/somewhere/else/" + name + "   300");
    EXPECT_TRUE(children.killedBySignal(match));
    EXPECT_TRUE(Children::running(otherArgument));
    EXPECT_TRUE(Children::running(longer));
    EXPECT_TRUE(Children::running(otherProgram));
    EXPECT_NE(
        result.find("terminated 1 process(es) running '" + name + " 300': pid " + std::to_string(match)),
        std::string::npos)
        << result;

    EXPECT_EQ(windows::terminateProcessByCmdLine(name + " 302"), "no process runs '" + name + " 302'");
    EXPECT_EQ(windows::terminateProcessByCmdLine("   "), "nothing terminated: the command line is empty");
    EXPECT_TRUE(Children::running(otherArgument));
}

TEST_F(ProcessTest, KillSameNameChildrenLeavesOthersAlone) {
    std::string program = sleeper("okv-child");
    pid_t first = children.start(program, {"300"});
    pid_t second = children.start(program, {"301"});
    pid_t unrelated = children.start("/bin/sleep", {"300"});
    // A process of the same name whose parent is not us: a grandchild under a shell.
    pid_t shell = children.start("/bin/sh", {"-c", program + " 302 & wait"});
    std::uint32_t grandchild = 0;
    ASSERT_TRUE(eventually([&] {
        detail::enumProcess([&](const detail::ProcessEntry& entry) {
            if (entry.parentPid == static_cast<std::uint32_t>(shell) && entry.imageName == "okv-child") {
                grandchild = entry.pid;
                return detail::CTRL_SEMENTIC::STOP;
            }
            return detail::CTRL_SEMENTIC::CONTINUE;
        });
        return grandchild != 0;
    }));

    EXPECT_TRUE(windows::killSameNameChildProc("okv-child", static_cast<std::uint32_t>(::getpid())));
    EXPECT_TRUE(children.killedBySignal(first));
    EXPECT_TRUE(children.killedBySignal(second));
    EXPECT_TRUE(Children::running(unrelated));
    EXPECT_EQ(::kill(static_cast<pid_t>(grandchild), 0), 0) << "the grandchild still runs";
    // The name is compared exactly.
    EXPECT_TRUE(windows::killSameNameChildProc("OKV-CHILD", static_cast<std::uint32_t>(::getpid())));
    EXPECT_EQ(::kill(static_cast<pid_t>(grandchild), 0), 0);
    ::kill(static_cast<pid_t>(grandchild), SIGKILL);
}

TEST_F(ProcessTest, KillProcessRefusesIdsThatAreNotOneProcess) {
    EXPECT_FALSE(windows::killProcess(0));
    EXPECT_FALSE(windows::killProcess(static_cast<std::uint32_t>(INT_MAX) + 1));
    EXPECT_FALSE(windows::killProcess(static_cast<std::uint32_t>(INT_MAX)));
    EXPECT_EQ(log.count("TerminateProcess fail; Reason: error code:"), 3);

    pid_t pid = children.start(sleeper("okv-kill"), {"300"});
    EXPECT_TRUE(windows::killProcess(static_cast<std::uint32_t>(pid)));
    EXPECT_TRUE(children.killedBySignal(pid));
}

TEST(ProcessKillSelf, OwnProcessEndsWithTheGivenExitCode) {
    EXPECT_EXIT(windows::killProcess(static_cast<std::uint32_t>(::getpid()), 7), ::testing::ExitedWithCode(7),
                "");
    EXPECT_EXIT(windows::killProcess(static_cast<std::uint32_t>(::getpid()), -1),
                ::testing::ExitedWithCode(255), "");
}

TEST_F(ProcessTest, StartWaitsAndLogsTheExitCode) {
    EXPECT_TRUE(startwithCurrentUser("/bin/sh -c 'exit 3'", true));
    EXPECT_TRUE(log.contains("start process:/bin/sh -c 'exit 3'"));
    EXPECT_TRUE(log.contains("[Tag null]"));
    EXPECT_TRUE(log.contains("ExitCode:3"));
    EXPECT_TRUE(log.contains("CreateProcessAsUser:/bin/sh -c 'exit 3' success"));

    fs::path made = dir.path() / "made";
    EXPECT_TRUE(startwithCurrentUser("/bin/touch " + made.string(), false));  // returns without waiting
    EXPECT_TRUE(eventually([&] { return fs::exists(made); }));
    EXPECT_EQ(log.count("ExitCode:"), 1);
}

TEST_F(ProcessTest, StartedCommandRunsInItsOwnSessionWithAFreshEnvironmentAndSignals) {
    fs::path out = dir.path() / "probe";
    // Blocked signals of the caller must not reach the command.
    sigset_t block;
    sigset_t previous;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &previous), 0);
    ::setenv("OKAVEL_TEST_SECRET", "leaked", 1);
    // The mask is read with shell builtins first: the shell blocks signals itself while it waits for a child.
    const std::string probe = out.string();
    bool started = startwithCurrentUser(
        "/bin/sh -c 'while read -r key value; do if [ \"$key\" = SigBlk: ]; then echo \"$value\" > " + probe +
            "; fi; done < /proc/$$/status; echo \"$HOME|$USER|${OKAVEL_TEST_SECRET:-none}\" >> " + probe +
            "; cut -d\" \" -f1,6 /proc/$$/stat >> " + probe + "'",
        true);
    ::unsetenv("OKAVEL_TEST_SECRET");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(started);

    std::istringstream lines(talvern::test::readFile(out));
    std::string environment;
    std::string session;
    std::string blocked;
    std::getline(lines, blocked);
    std::getline(lines, environment);
    std::getline(lines, session);
    passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(environment, std::string(me->pw_dir) + "|" + me->pw_name + "|none");
    std::istringstream ids(session);
    std::string pid;
    std::string sid;
    ids >> pid >> sid;
    EXPECT_EQ(pid, sid) << "the command leads a session of its own";
    EXPECT_EQ(blocked, "0000000000000000");
}

TEST_F(ProcessTest, StartRefusesWhatCannotRun) {
    std::string missing = (dir.path() / "no-such-program").string();
    EXPECT_FALSE(startwithCurrentUser(missing + " --x", true));
    EXPECT_TRUE(log.contains("CreateProcessAsUser:" + missing + " --x failed; Reason: error code:2"));
    EXPECT_TRUE(log.contains("start process with current user fail,app:" + missing + " --x"));

    EXPECT_FALSE(startwithCurrentUser(missing, false)) << "also reported when not waiting";

    fs::path witness = dir.path() / "witness";
    EXPECT_FALSE(startwithCurrentUser("/bin/touch $(echo " + witness.string() + ")", true));
    EXPECT_FALSE(startwithCurrentUser("/bin/touch " + witness.string() + "; /bin/true", true));
    EXPECT_FALSE(startwithCurrentUser("/bin/touch '" + witness.string(), true));
    EXPECT_FALSE(startwithCurrentUser("", true));
    EXPECT_FALSE(fs::exists(witness));
    EXPECT_TRUE(log.contains("command substitution is not allowed"));
}

TEST(ProcessPath, ErrorCategorySpotCheck) {
    EXPECT_EQ(envProviderCategory().message(-65521), "get process path failed");
    EXPECT_EQ(envProviderCategory().message(-65509), "bad argument");
}

TEST(ProcessPath, OwnExecutable) {
    std::error_code ec;
    std::string path = talvern::process::processpath(static_cast<std::uint32_t>(::getpid()), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(path, std::filesystem::read_symlink("/proc/self/exe").string());
}

TEST(ProcessPath, DeletedExecutableFails) {
    talvern::test::TempDir dir;
    auto copy = dir / "sleeper";
    std::filesystem::copy_file("/bin/sleep", copy);
    pid_t child = ::fork();
    if (child == 0) {
        ::execl(copy.c_str(), "sleeper", "30", nullptr);
        ::_exit(127);
    }
    // Wait until the child runs the copy, then delete it under the running process.
    ASSERT_TRUE(eventually([&] { return exeOf(child) == copy.string(); }));
    std::filesystem::remove(copy);
    std::error_code ec;
    std::string path = talvern::process::processpath(static_cast<std::uint32_t>(child), ec);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(ec.value(), -65521);
    EXPECT_EQ(path, "");
}
