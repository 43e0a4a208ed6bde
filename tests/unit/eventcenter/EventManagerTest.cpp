#include <gtest/gtest.h>

#include "eventcenter/EventManager.h"

namespace talvern::details {
namespace {

std::vector<std::int64_t> idsOf(const std::vector<std::shared_ptr<Event>>& events) {
    std::vector<std::int64_t> ids;
    for (const auto& event : events) {
        ids.push_back(event->id);
    }
    return ids;
}

TEST(EventManagerTest, TheRingKeepsTheLast256AndOrderSurvivesWrapping) {
    EventManager manager;
    for (int i = 1; i <= 257; ++i) {
        manager.add("t", "{}");
    }
    EXPECT_EQ(manager.size(), 256u);
    auto all = manager.since(0);
    ASSERT_EQ(all.size(), 256u);
    EXPECT_EQ(all.front()->id, 2) << "the 257th event overwrote the first";
    EXPECT_EQ(all.back()->id, 257);
    EXPECT_EQ(manager.newest()->id, 257);
    EXPECT_EQ(idsOf(manager.since(256)), (std::vector<std::int64_t>{256, 257}));

    // A small ring shows the wrap for several turns.
    EventManager small(3);
    for (int i = 1; i <= 10; ++i) {
        small.add("t", "{}");
        auto ids = idsOf(small.since(0));
        ASSERT_TRUE(std::is_sorted(ids.begin(), ids.end()));
        EXPECT_EQ(ids.back(), i);
        EXPECT_EQ(small.newest()->id, i);
    }
    EXPECT_EQ(idsOf(small.since(0)), (std::vector<std::int64_t>{8, 9, 10}));
}

}  // namespace
}  // namespace talvern::details
