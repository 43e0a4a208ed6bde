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

}  // namespace
}  // namespace talvern
