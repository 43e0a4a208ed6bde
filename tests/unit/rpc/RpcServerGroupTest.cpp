// The RPC server group: candidate ports, port-file rules, random fallback, the local socket and the
// two starts together. Every test uses kernel-chosen ports and its own runtime directory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "rpc/NetworkPortDetector.h"
#include "rpc/RpcServerGroup.h"
#include "support/LogCapture.h"
#include "support/PortFileStore.h"
#include "support/TempDir.h"
#include "unit/rpc/RpcTestSupport.h"

using talvern::rpc::RpcServerGroup;
using talvern::test::freeTcpPort;
using talvern::test::RpcConnection;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;
using talvern::utilities::NetworkPortDetector;
using talvern::utilities::PortFileStore;
namespace fs = std::filesystem;

namespace {

class RpcGroup : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv runtime{"OKAVEL_RUNTIME_DIR", (dir / "run").string()};
    std::shared_ptr<PortFileStore> portFiles =
        std::make_shared<PortFileStore>((dir / "var" / "run").string());
    talvern::test::LogCapture log;
    RpcServerGroup group{portFiles};
    const uint16_t start = freeTcpPort();

    // A free port other than `start`.
    uint16_t otherFreePort() const {
        uint16_t port = freeTcpPort();
        while (port == start) {
            port = freeTcpPort();
        }
        return port;
    }
    uint16_t readPortFile() const {
        uint16_t port = 0;
        EXPECT_TRUE(portFiles->read("plugins/test/thrift", port));
        return port;
    }
};

}  // namespace

TEST_F(RpcGroup, ABusyPortFilePortFallsBackToTheCandidatesAndIsReplaced) {
    const uint16_t filed = otherFreePort();
    NetworkPortDetector busy;
    std::error_code ec;
    ASSERT_TRUE(busy.open("127.0.0.1", filed, ec));
    ASSERT_TRUE(portFiles->write("plugins/test/thrift", filed, ec));

    ASSERT_TRUE(group.startTcpServer("plugins/test/thrift", start));
    EXPECT_EQ(group.tcpPort(), start);
    EXPECT_EQ(readPortFile(), start);
    EXPECT_TRUE(log.contains("start tcp-rpc server for 127.0.0.1:" + std::to_string(filed) +
                             " finish, the result is failed."));
}

TEST_F(RpcGroup, TheLocalSocketReplacesAStaleFileIsOpenToAllAndGoesAwayOnStop) {
    const std::string path = (dir / "run" / "okavel-test.sock").string();
    fs::create_directories(dir / "run");
    std::ofstream(path) << "left behind";
    std::ofstream(path + ".binding") << "left behind";
    ASSERT_TRUE(group.startPipeServer("okavel-test"));
    EXPECT_EQ(group.pipeSocketPath(), path);
    EXPECT_FALSE(fs::exists(path + ".binding"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    RpcConnection::unixSocket(path);
    EXPECT_TRUE(log.contains("RPC(Pipe) Service start success, the pipe name is okavel-test"));
    group.stop();
    EXPECT_FALSE(fs::exists(path));
    group.stop();  // stopping twice is harmless
}

TEST_F(RpcGroup, ALiveSocketOfAnotherServerIsNotTakenOver) {
    RpcServerGroup first(portFiles);
    ASSERT_TRUE(first.startPipeServer("okavel-shared"));
    RpcServerGroup second(portFiles);
    EXPECT_FALSE(second.startPipeServer("okavel-shared"));
    EXPECT_TRUE(log.contains("Start the named pipeline RPC service failure; Reason: another process serves " +
                             first.pipeSocketPath()));
    RpcConnection::unixSocket(first.pipeSocketPath());  // still the first one's
    second.stop();
    EXPECT_TRUE(fs::exists(first.pipeSocketPath()));
}
