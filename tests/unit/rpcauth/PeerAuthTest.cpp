#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <boost/process/child.hpp>

#include <chrono>
#include <map>

#include "process/EnvProviderErrors.h"
#include "rpcauth/PeerIdentity.h"
#include "rpcauth/ProcessSignCache.h"
#include "support/ErrorCategories.h"
#include "support/LogCapture.h"
#include "support/ManualClock.h"
#include "support/PortOffset.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using talvern::rpc::PeerVerifier;
using talvern::rpc::ProcessSignCache;

namespace {

// A verifier over a fake process table whose signature checks are counted.
class VerifierTest : public ::testing::Test {
protected:
    std::shared_ptr<talvern::test::ManualClock> clock = std::make_shared<talvern::test::ManualClock>();
    ProcessSignCache cache{[clock = clock] { return clock->now(); }};
    std::map<std::uint32_t, std::string> paths{{100, "/opt/signed/tool"}, {200, "/opt/other/tool"}};
    std::map<std::string, bool> signedFiles{{"/opt/signed/tool", true}, {"/opt/other/tool", false}};
    int checks = 0;
    int pathReads = 0;
    PeerVerifier verifier = makeVerifier(PeerVerifier::kPathRecheck);

    PeerVerifier makeVerifier(std::chrono::steady_clock::duration pathRecheck) {
        return PeerVerifier(
            cache,
            [this](const std::string& path) {
                ++checks;
                return signedFiles[path];
            },
            [this](std::uint32_t pid, std::error_code& ec) {
                ++pathReads;
                auto it = paths.find(pid);
                if (it == paths.end()) {
                    ec = std::error_code(talvern::process::kGetProcessPathFailed,
                                         talvern::process::envProviderCategory());
                    return std::string();
                }
                ec.clear();
                return it->second;
            },
            [clock = clock] { return clock->now(); }, pathRecheck);
    }

    bool allowed(std::uint32_t pid) {
        std::error_code ec;
        return verifier.isTalvernProcess(pid, ec);
    }
};

// A socket listening on a loopback port of the kernel's choice; `address` is where it listens.
int loopbackListener(sockaddr_in& address) {
    const int fd = talvern::test::boundLoopbackSocket(0, address);
    EXPECT_EQ(::listen(fd, 1), 0);
    return fd;
}

}  // namespace

TEST_F(VerifierTest, SignedProcessIsCheckedOnceWithinThePeriodAndAgainAtItsEnd) {
    EXPECT_TRUE(allowed(100));
    clock->advance(299s);
    EXPECT_TRUE(allowed(100));
    EXPECT_EQ(checks, 1);
    clock->advance(1s);  // 300 s old: aged out
    EXPECT_TRUE(allowed(100));
    EXPECT_EQ(checks, 2);
    paths[100] = "/opt/other/tool";  // a reused pid with another executable is checked afresh
    EXPECT_FALSE(allowed(100));
    EXPECT_EQ(checks, 3);
}

TEST_F(VerifierTest, UnsignedProcessIsRefusedEveryTimeOwnProcessNeverAndVanishedOneWithoutACheck) {
    std::error_code ec;
    EXPECT_FALSE(verifier.isTalvernProcess(200, ec));
    EXPECT_EQ(ec.message(), "sign error");
    EXPECT_FALSE(allowed(200));
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_TRUE(allowed(static_cast<std::uint32_t>(::getpid())));
    EXPECT_FALSE(verifier.isTalvernProcess(999, ec));
    EXPECT_EQ(ec.value(), -65521);
    EXPECT_EQ(checks, 2);
}

TEST_F(VerifierTest, ConnectionRereadsItsPeersPathOnceTheRecheckIntervalHasPassed) {
    talvern::rpc::PeerRecord peer(100);
    std::error_code ec;
    EXPECT_TRUE(verifier.isTalvernPeer(peer, ec));
    clock->advance(500us);
    EXPECT_TRUE(verifier.isTalvernPeer(peer, ec));
    EXPECT_EQ(pathReads, 1);

    paths[100] = "/opt/other/tool";  // the process exec()s an unsigned program and keeps its connection
    clock->advance(500us);           // 1 ms since the reading
    EXPECT_FALSE(verifier.isTalvernPeer(peer, ec));
    EXPECT_EQ(ec.message(), "sign error");
    EXPECT_FALSE(verifier.isTalvernPeer(peer, ec));  // a refusal forgets the path
    EXPECT_EQ(pathReads, 3);
    EXPECT_EQ(checks, 3);

    EXPECT_TRUE(allowed(static_cast<std::uint32_t>(::getpid())));
    EXPECT_FALSE(allowed(100));
    EXPECT_FALSE(allowed(100));  // a process looked at on its own has its path read every time
    EXPECT_EQ(pathReads, 5);
}

TEST_F(VerifierTest, ConnectionStillLooksTheVerdictUpOnEveryCall) {
    PeerVerifier slowRereads = makeVerifier(24h);
    talvern::rpc::PeerRecord peer(100);
    std::error_code ec;
    EXPECT_TRUE(slowRereads.isTalvernPeer(peer, ec));
    clock->advance(300s);  // the verdict ages out although the path is still fresh
    EXPECT_TRUE(slowRereads.isTalvernPeer(peer, ec));
    EXPECT_EQ(pathReads, 1);
    EXPECT_EQ(checks, 2);
}

TEST(ProcessSignCacheTest, FiftyFirstEntryEvictsTheOldest) {
    auto clock = std::make_shared<talvern::test::ManualClock>();
    ProcessSignCache cache([clock] { return clock->now(); });
    for (std::uint32_t pid = 1; pid <= 50; ++pid) {
        cache.add({pid, "/bin/p"});
        clock->advance(1s);
    }
    EXPECT_EQ(cache.size(), 50u);
    cache.add({51, "/bin/p"});
    EXPECT_EQ(cache.size(), 50u);
    EXPECT_FALSE(cache.contains({1, "/bin/p"}));
    EXPECT_TRUE(cache.contains({2, "/bin/p"}));
    EXPECT_NE(cache.toString().find("maxSize:50,timeLimit:300"), std::string::npos);
}

TEST(TcpOwner, FindsTheProcessAtTheClientEndOfARealLoopbackConnectionOnly) {
    sockaddr_in server{}, elsewhere{};
    const int listener = loopbackListener(server);
    const int other = loopbackListener(elsewhere);
    // The client is another process: a shell that connects and then becomes a sleep holding the socket.
    boost::process::child client(
        "/bin/bash", "-c",
        "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(ntohs(server.sin_port)) + "; exec sleep 30");
    const int accepted = ::accept(listener, nullptr, nullptr);  // this process now holds the server's end
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(::getpeername(accepted, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    const std::uint16_t clientPort = ntohs(peer.sin_port);

    std::error_code ec;
    EXPECT_EQ(talvern::rpc::tcpPortOwnerPid(clientPort, ntohs(server.sin_port), ec),
              static_cast<std::uint32_t>(client.id()));
    EXPECT_FALSE(ec);
    // The same client port towards another server is not this connection.
    EXPECT_EQ(talvern::rpc::tcpPortOwnerPid(clientPort, ntohs(elsewhere.sin_port), ec), 0u);
    EXPECT_TRUE(ec);
    client.terminate();
    for (int fd : {accepted, listener, other}) {
        ::close(fd);
    }
}
