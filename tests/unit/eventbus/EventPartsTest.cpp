// The bus's building blocks: the event ring, the per-channel repeat check, the task queue, the schema
// check and the log texts.

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "eventbus/ClientChannelManager.h"
#include "eventbus/EventQueue.h"
#include "eventbus/EventSchemaChecker.h"
#include "eventbus/EventText.h"
#include "eventbus/TaskQueue.h"
#include "eventbus/ThriftConvert.h"

using namespace talvern::eventbus;

namespace {
std::shared_ptr<EventRawData> rawEvent(const std::string& topic) {
    auto data = std::make_shared<EventRawData>();
    data->event.body.topic = topic;
    return data;
}

// What a check of content against schema raised: "" when it passed, "parse error: " and the parser's
// text for a syntax error, otherwise the checker's message.
std::string failureOf(const EventSchemaChecker& checker, const std::string& schema,
                      const std::string& content) {
    try {
        checker.check(schema, content);
    } catch (const std::system_error& e) {
        EXPECT_STREQ(e.code().category().name(), "jsonchecker_category");
        EXPECT_EQ(e.what(), e.code().message());
        return "parse error: " + e.code().message();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}
}  // namespace

TEST(EventQueue, NumbersEntriesFromZeroAndKeepsOnlyTheNewestCapacityEntries) {
    EventQueue queue(4);
    EXPECT_FALSE(queue.newestId().has_value());
    EXPECT_TRUE(queue.collectFrom(0).empty());
    for (int i = 0; i < 6; ++i) {
        auto stored = queue.append(rawEvent("t|" + std::to_string(i)));
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->id, i);
    }
    EXPECT_EQ(queue.size(), 4u);
    EXPECT_EQ(*queue.newestId(), 5);
    auto held = queue.collectFrom(0);
    ASSERT_EQ(held.size(), 4u);
    EXPECT_EQ(held.front()->id, 2);
    EXPECT_EQ(held.front()->event.body.topic, "t|2");
    EXPECT_EQ(held.back()->id, 5);
    EXPECT_EQ(queue.collectFrom(4).size(), 2u);
    EXPECT_EQ(queue.collectFrom(-7).size(), 4u);
    EXPECT_TRUE(queue.collectFrom(6).empty());
    EXPECT_EQ(queue.append(nullptr), nullptr);
    EXPECT_EQ(*queue.newestId(), 5);
}

TEST(EventQueue, ConcurrentAppendsGetDistinctConsecutiveIds) {
    EventQueue queue(1000);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                queue.append(rawEvent("t|x"));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    auto held = queue.collectFrom(0);
    ASSERT_EQ(held.size(), 800u);
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(held[i]->id, static_cast<int64_t>(i));
    }
}

TEST(ClientChannelManager, AnIdNotAboveTheLastAcceptedOneIsARepeatPerChannel) {
    ClientChannelManager channels;
    EXPECT_FALSE(channels.isRepeat("a", 0));
    channels.update("a", 5);
    EXPECT_TRUE(channels.isRepeat("a", 5));
    EXPECT_TRUE(channels.isRepeat("a", 4));
    EXPECT_FALSE(channels.isRepeat("a", 6));
    EXPECT_FALSE(channels.isRepeat("b", 1));
    channels.update("a", 2);  // overwritten, not maximised
    EXPECT_FALSE(channels.isRepeat("a", 3));
}

TEST(TaskQueue, RunsTasksInOrderAndKeepsWorkingAfterATaskThrows) {
    TaskQueue tasks;
    std::vector<int> ran;
    tasks.post([&] { ran.push_back(1); });
    tasks.post([] { throw std::runtime_error("boom"); });
    tasks.post([&] { ran.push_back(3); });
    tasks.post([&] { tasks.stop(); });
    EXPECT_THROW(tasks.run(), std::runtime_error);
    EXPECT_EQ(ran, std::vector<int>{1});
    tasks.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_TRUE(tasks.stopped());

    // Stopped: queued tasks wait for the next run.
    tasks.post([&] { ran.push_back(4); });
    tasks.run();
    EXPECT_EQ(tasks.pending(), 1u);
    tasks.restart();
    tasks.post([&] { tasks.stop(); });
    tasks.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
}

TEST(TaskQueue, StopEndsAnIdleRunAndAPause) {
    TaskQueue tasks;
    std::thread runner([&] { tasks.run(); });
    tasks.stop();
    runner.join();
    tasks.pauseUnlessStopped(std::chrono::hours(1));  // returns at once: already stopped
    EXPECT_TRUE(tasks.stopped());
}

TEST(EventSchemaChecker, EachContentPassesOrFailsWithItsOwnError) {
    const std::string missingEvent =
        "Invalid schema: \r\nInvalid keyword: required\r\nInvalid document: \r\n";
    struct Case {
        const char* schema;
        const char* content;
        std::string failure;
    };
    const Case cases[] = {
        {"event", R"({"event":"ready","data":{"x":1},"extra":true})", ""},
        {"event", R"({"origin":"core"})", missingEvent},
        {"event", R"({"event":"x","data":[1]})",
         "Invalid schema: /properties/data\r\nInvalid keyword: type\r\nInvalid document: /data\r\n"},
        {"event", "", missingEvent},  // checked as an empty object
        {"event", "{not json", "parse error: Missing a name for object member."},
        {"nosuch", "{}", "not found key: nosuch"},
        // A syntax error after a schema violation, or with an unknown schema, is reported as a parse error.
        {"event", R"({"event": 5, broken)", "parse error: Missing a name for object member."},
        {"nosuch", "[1,", "parse error: Invalid value."},
        // The reused validator starts clean after the failures.
        {"event", R"({"event":"fine"})", ""},
    };
    EventSchemaChecker checker;
    for (const Case& c : cases) {
        EXPECT_EQ(failureOf(checker, c.schema, c.content), c.failure) << c.schema << ": " << c.content;
    }
    EXPECT_THROW(checker.addSchema("broken", "{"), std::runtime_error);
}

TEST(ThriftConvert, RoundTripsEveryFieldAndTheGeneratedFormsStayTheGenerators) {
    BroadcastPullEvent pulled;
    pulled.identify = {"server", 9};
    pulled.data.push_back({{"a|b", "{}"}, {"c1", 3}});
    pulled.data.push_back({{"x|y", R"({"event":"z"})"}, {"c2", -4}});
    const BroadcastPullEvent copy = pulled;
    auto wire = toThrift(BroadcastPullEvent(pulled));
    EXPECT_EQ(fromThrift(wire), copy);
    EXPECT_EQ(fromThrift(toThrift(copy.data[1])), copy.data[1]);

    std::ostringstream printed;
    printed << wire.identify;
    EXPECT_EQ(printed.str(), "BroadcastIdentify(channelID=server, eventID=9)");
    EXPECT_TRUE(wire.data[0] == toThrift(copy.data[0]));
    EXPECT_FALSE(wire.data[0] == wire.data[1]);
}
