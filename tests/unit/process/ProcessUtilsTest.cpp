#include "process/ProcessUtils.h"

#include "process/EnvProviderErrors.h"
#include "process/ProcessPath.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <boost/process/child.hpp>

#include <climits>
#include <filesystem>
#include <string>

#include "support/Args.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"

namespace bp = boost::process;
namespace fs = std::filesystem;
using talvern::test::eventually;
using talvern::test::LogCapture;
using talvern::test::TempDir;
using namespace talvern::process;

namespace {

std::uint32_t pidOf(const bp::child& child) { return static_cast<std::uint32_t>(child.id()); }

// True when the child was ended by SIGKILL (and reaps it).
bool killedBySignal(bp::child& child) {
    child.wait();
    const int status = child.native_exit_code();
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

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
};

}  // namespace

TEST_F(ProcessTest, TerminateByCommandLineKillsOnlyTheMatchingProcess) {
    // The name is this run's own: a look-up by command line reaches every process of the machine.
    const std::string name = "okv-target-" + std::to_string(::getpid());
    std::string program = sleeper(name);
    bp::child match(program, "300");
    bp::child otherArgument(program, "301");
    bp::child longer(program, "300", "1");
    bp::child otherProgram("/bin/sleep", "300");

    std::string result = windows::terminateProcessByCmdLine("/somewhere/else/" + name + "   300");
    EXPECT_TRUE(killedBySignal(match));
    EXPECT_TRUE(otherArgument.running());
    EXPECT_TRUE(longer.running());
    EXPECT_TRUE(otherProgram.running());
    EXPECT_NE(
        result.find("terminated 1 process(es) running '" + name + " 300': pid " + std::to_string(match.id())),
        std::string::npos)
        << result;

    EXPECT_EQ(windows::terminateProcessByCmdLine(name + " 302"), "no process runs '" + name + " 302'");
    EXPECT_EQ(windows::terminateProcessByCmdLine("   "), "nothing terminated: the command line is empty");
    EXPECT_TRUE(otherArgument.running());
}

TEST_F(ProcessTest, KillSameNameChildrenLeavesOthersAlone) {
    std::string program = sleeper("okv-child");
    bp::child first(program, "300");
    bp::child second(program, "301");
    bp::child unrelated("/bin/sleep", "300");
    // A process of the same name whose parent is not us: a grandchild under a shell.
    bp::child shell("/bin/sh", "-c", program + " 302 & wait");
    std::uint32_t grandchild = 0;
    ASSERT_TRUE(eventually([&] {
        detail::enumProcess([&](const detail::ProcessEntry& entry) {
            if (entry.parentPid == pidOf(shell) && entry.imageName == "okv-child") {
                grandchild = entry.pid;
                return detail::CTRL_SEMENTIC::STOP;
            }
            return detail::CTRL_SEMENTIC::CONTINUE;
        });
        return grandchild != 0;
    }));

    EXPECT_TRUE(windows::killSameNameChildProc("okv-child", static_cast<std::uint32_t>(::getpid())));
    EXPECT_TRUE(killedBySignal(first));
    EXPECT_TRUE(killedBySignal(second));
    EXPECT_TRUE(unrelated.running());
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

    bp::child child(sleeper("okv-kill"), "300");
    EXPECT_TRUE(windows::killProcess(pidOf(child)));
    EXPECT_TRUE(killedBySignal(child));
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
    // Shell builtins only: a shell blocks signals itself while it waits for a child.
    bool started = startwithCurrentUser(
        "/bin/sh -c 'while read -r key value; do if [ \"$key\" = SigBlk: ]; then blocked=$value; fi; done < "
        "/proc/$$/status; read -r pid name state ppid group session rest < /proc/$$/stat; if [ \"$pid\" = "
        "\"$session\" ]; then leads=leader; fi; echo "
        "\"$blocked|$HOME|$USER|${OKAVEL_TEST_SECRET:-none}|$leads\" > " +
            out.string() + "'",
        true);
    ::unsetenv("OKAVEL_TEST_SECRET");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(started);
    passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(talvern::test::readFile(out),
              "0000000000000000|" + std::string(me->pw_dir) + "|" + me->pw_name + "|none|leader\n");
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

TEST(ProcessPath, DeletedExecutableFails) {
    talvern::test::TempDir dir;
    auto copy = dir / "sleeper";
    fs::copy_file("/bin/sleep", copy);
    bp::child child(copy.string(), "30");  // runs the copy once constructed
    fs::remove(copy);                      // deleted under the running process
    std::error_code ec;
    std::string path = talvern::process::processpath(pidOf(child), ec);
    EXPECT_EQ(ec.value(), -65521);
    EXPECT_EQ(path, "");
}
