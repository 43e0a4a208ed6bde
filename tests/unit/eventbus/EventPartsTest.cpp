// The bus's building blocks that its own tests do not reach: stopping the task queue and the schema
// check. The ring, the repeat check and the Thrift conversion are covered through the bus and the wire.

#include <gtest/gtest.h>

#include <thread>

#include "eventbus/EventSchemaChecker.h"
#include "eventbus/TaskQueue.h"

using namespace talvern::eventbus;

namespace {}  // namespace

TEST(TaskQueue, StopEndsAnIdleRunAndAPause) {
    TaskQueue tasks;
    std::thread runner([&] { tasks.run(); });
    tasks.stop();
    runner.join();
    tasks.pauseUnlessStopped(std::chrono::hours(1));  // returns at once: already stopped
    EXPECT_TRUE(tasks.stopped());
}
