#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "unit/websecurity/SecurityFakes.h"
#include "websecurity/HttpSecure.h"
#include "websecurity/SdpHttpAntiPhishing.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern::test {
namespace {

class Through : public HttpServerFilter {
public:
    void doFilter(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest>,
                  std::shared_ptr<IResponse>) override {
        ++passed;
    }
    std::atomic<int> passed{0};
};

// Modules change the whitelist and the authorised origins change on disk while requests are tested: a
// request from the tray always passes, one for a path that was never whitelisted never does, and the
// whitelisted path passes at least while it stays on the list.
TEST(RequestSecurityConcurrency, WhitelistAndOriginsChangeWhileRequestsAreFiltered) {
    TempDir dir;
    const std::string file = (dir / "authorizedUrls.json").string();
    auto context = std::make_shared<SdpHttpServerContext>();
    auto preprocessor = std::make_shared<SdpHttpSecurePreprocessor>("", std::make_unique<HttpSecure>(file));
    auto filter = std::make_shared<SdpHttpAntiPhishing>();
    auto through = std::make_shared<Through>();
    filter->setNext(through);

    constexpr int kRounds = 300;
    std::atomic<bool> done{false};
    std::atomic<int> wrongOutcomes{0};

    std::thread modules([&] {
        for (int i = 0; !done; ++i) {
            context->addRefererWhitelist(
                std::vector<std::string>{"/v1/toggled", "/v1/other" + std::to_string(i % 7)}, "module");
            context->clearRefererWhitelist();
        }
    });
    std::thread files([&] {
        for (int i = 0; !done; ++i) {
            std::ofstream(file, std::ios::trunc) << (i % 2 ? R"(["https://a.example"])" : "[");
        }
    });
    auto requests = [&](const std::string& path, const std::string& userAgent, bool mustPass, bool mustFail) {
        for (int i = 0; i < kRounds; ++i) {
            auto request = std::make_shared<SecRequest>(
                path, std::map<std::string, std::string>{{"Origin", "https://b.example"},
                                                         {"User-Agent", userAgent}});
            auto response = std::make_shared<SecResponse>();
            preprocessor->doPreprocess(context, request, response);
            filter->doFilter(context, request, response);
            const bool refused = response->status == 403;
            if ((mustPass && refused) || (mustFail && !refused)) {
                ++wrongOutcomes;
            }
        }
    };
    std::thread stays([&] { requests("/v1/never", "oKavelTray/1.0", true, false); });
    std::thread never([&] { requests("/v1/never", "Mozilla/5.0", false, true); });
    std::thread toggled([&] { requests("/V1/Toggled", "Mozilla/5.0", false, false); });
    stays.join();
    never.join();
    toggled.join();
    done = true;
    modules.join();
    files.join();
    EXPECT_EQ(wrongOutcomes, 0);
    EXPECT_GE(through->passed, kRounds);
    // Once the modules are done, the list answers for what is on it.
    context->addRefererWhitelist(std::string("/v1/toggled"), "module");
    auto request = std::make_shared<SecRequest>("/V1/TOGGLED");
    auto response = std::make_shared<SecResponse>();
    filter->doFilter(context, request, response);
    EXPECT_EQ(response->sends, 0);
}

}  // namespace
}  // namespace talvern::test
