#include "app/service/ServiceUnit.h"
#include "app/service/ServiceWatchdog.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/Eventually.h"

using talvern::ServiceWatchdog;

// The manager hears from the service only while the probe says the agent works; a stuck agent gets no
// notice, so the manager restarts it.
TEST(ServiceWatchdog, NotifiesEveryIntervalOnlyWhileTheProbeAnswers) {
    std::atomic<bool> answering{true};
    std::atomic<int> probes{0};
    std::atomic<int> notices{0};
    ServiceWatchdog watchdog(
        std::chrono::milliseconds(5),
        [&](std::chrono::milliseconds limit) {
            EXPECT_EQ(limit, std::chrono::milliseconds(5));
            ++probes;
            return answering.load();
        },
        [&] { ++notices; });
    watchdog.start();
    ASSERT_TRUE(talvern::test::eventually([&] { return notices >= 3; }));
    answering = false;
    const int before = notices + 1;  // a probe may have answered just before the switch
    const int probed = probes;
    ASSERT_TRUE(talvern::test::eventually([&] { return probes >= probed + 3; }));
    watchdog.stop();
    EXPECT_LE(notices, before);
    const int afterStop = probes;
    watchdog.stop();  // idempotent, and no probe runs once stopped
    EXPECT_EQ(probes, afterStop);
}

// systemd splits ExecStart at blanks; the launch's own test covers a path without one.
TEST(ServiceUnit, AnExecutablePathWithABlankIsQuoted) {
    const std::string unit = talvern::serviceUnitText("d", "/opt/my agent/oKavelAgent", "/opt/my agent");
    EXPECT_NE(unit.find("\nExecStart=\"/opt/my agent/oKavelAgent\"\n"), std::string::npos) << unit;
}
