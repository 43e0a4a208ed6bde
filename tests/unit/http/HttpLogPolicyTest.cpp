#include <gtest/gtest.h>

#include "http/HttpLogPolicy.h"

namespace talvern {
namespace {

TEST(HttpLogPolicyTest, MasksSensitiveStringsAtEveryDepth) {
    const std::string body =
        R"({"TOK":"t","Passport":"p","SN":"upper sn stays","sn":"s","pin":1234,"pubkey":"k",)"
        R"("nested":{"deviceid":"d","deeper":{"sig":"x","keep":"y"}},)"
        R"("list":[{"cert":"c"},{"address":"a"},"plain"],"randoms":["r1","r2",{"os_pid":"7"}],)"
        R"("appInfo":{"sid":"kept","address":"kept too"},"other":{"appInfo":"string","csrftoken":"z"}})";
    const std::string masked = HttpLogPolicy::maskBody(body);
    EXPECT_EQ(
        masked,
        R"({"TOK":"****","Passport":"****","SN":"upper sn stays","sn":"****","pin":1234,"pubkey":"****",)"
        R"("nested":{"deviceid":"****","deeper":{"sig":"****","keep":"y"}},)"
        R"("list":[{"cert":"****"},{"address":"****"},"plain"],"randoms":["****","****",{"os_pid":"****"}],)"
        R"("appInfo":{"sid":"kept","address":"kept too"},"other":{"appInfo":"string","csrftoken":"****"}})");
}

TEST(HttpLogPolicyTest, EmptyHugeAndNonJsonBodies) {
    EXPECT_EQ(HttpLogPolicy::maskBody(""), "");
    EXPECT_EQ(HttpLogPolicy::maskBody("not json \"pin\":\"1\""), "not json \"pin\":\"1\"");
    EXPECT_EQ(HttpLogPolicy::maskBody("\"pin\""), "\"pin\"");
    const std::string atLimit = "[\"" + std::string(8 * 1024 * 1024 - 4, 'a') + "\"]";
    EXPECT_EQ(HttpLogPolicy::maskBody(atLimit).size(), atLimit.size());
    EXPECT_EQ(HttpLogPolicy::maskBody(atLimit + " "), "");  // one byte over 8 MiB
}

TEST(HttpLogPolicyTest, RecordsFollowTheUrlLists) {
    auto& policy = HttpLogPolicy::instance();
    policy.reset();
    const auto t0 = std::chrono::system_clock::now();
    const auto t1 = t0 + std::chrono::milliseconds(12);
    const std::chrono::milliseconds cost(12);
    EXPECT_EQ(policy.record("/base/printLog", t0, t1, cost, "{}", "{}"), "");

    const std::string first =
        policy.record("/v1/getServicePort", t0, t1, cost, R"({"tok":"x"})", R"({"port":1})");
    EXPECT_NE(first.find(R"("costTime":"12ms")"), std::string::npos);
    EXPECT_NE(first.find(R"("reqBody":"{\"tok\":\"****\"}")"), std::string::npos);
    EXPECT_NE(first.find(R"("resBody":"{\"port\":1}")"), std::string::npos);
    EXPECT_EQ(first.find("reqTime"), 2u);
    // The same answer again is skipped; a changed one is recorded.
    EXPECT_EQ(policy.record("/v1/getServicePort", t0, t1, cost, "{}", R"({"port":1})"), "");
    EXPECT_NE(policy.record("/v1/getServicePort", t0, t1, cost, "{}", R"({"port":2})"), "");
    // Other URLs are recorded every time.
    EXPECT_NE(policy.record("/v1/detect", t0, t1, cost, "{}", "{}"), "");
    EXPECT_NE(policy.record("/v1/detect", t0, t1, cost, "{}", "{}"), "");

    EXPECT_TRUE(HttpLogPolicy::isDebugUrl("/v1/detect"));
    EXPECT_FALSE(HttpLogPolicy::isDebugUrl("/v1/detect/"));
    EXPECT_FALSE(HttpLogPolicy::isRecordedOnChangeUrl("/v1/detect"));
    policy.reset();
}

}  // namespace
}  // namespace talvern
