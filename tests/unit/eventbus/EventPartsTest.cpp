// The bus's building blocks that its own tests do not reach: stopping the task queue and the schema
// check. The ring, the repeat check and the Thrift conversion are covered through the bus and the wire.

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "eventbus/EventSchemaChecker.h"
#include "eventbus/TaskQueue.h"

using namespace talvern::eventbus;

namespace {
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
