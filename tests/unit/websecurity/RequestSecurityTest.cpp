#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "log/Check.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "unit/websecurity/SecurityFakes.h"
#include "websecurity/HttpSecure.h"
#include "websecurity/RequestDebugString.h"
#include "websecurity/SdpHttpAntiPhishing.h"
#include "websecurity/SdpHttpSecurePreprocessor.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern::test {
namespace {

namespace fs = std::filesystem;

/// Answers with a fixed result, or fails.
class ScriptedSecure : public HttpSecure {
public:
    explicit ScriptedSecure(bool result, bool fails = false)
        : HttpSecure(std::string()), m_result(result), m_fails(fails) {}
    bool isAuthorizdUrl(const std::string&, std::error_code& error, bool) override {
        if (m_fails) {
            error = std::make_error_code(std::errc::io_error);
            return false;
        }
        return m_result;
    }

private:
    bool m_result;
    bool m_fails;
};

/// The filter after the anti-phishing filter: counts what got through.
class PassCounter : public HttpServerFilter {
public:
    void doFilter(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest>,
                  std::shared_ptr<IResponse>) override {
        ++passed;
    }
    std::atomic<int> passed{0};
};

// ---- trust marks -----------------------------------------------------------------------------------

int marksFor(const std::map<std::string, std::string>& headers, bool authorised, int initialTag = 0) {
    SdpHttpSecurePreprocessor preprocessor("", std::make_unique<ScriptedSecure>(authorised));
    auto request = std::make_shared<SecRequest>("/v1/hello", headers);
    request->setTag(initialTag);
    EXPECT_TRUE(preprocessor.doPreprocess(std::make_shared<SdpHttpServerContext>(), request,
                                          std::make_shared<FakeResponse>()));
    return request->tag();
}

TEST(SecurePreprocessorTest, UserAgentRules) {
    struct Case {
        const char* userAgent;
        bool trusted;
    } cases[] = {
        {"Mozilla/5.0 (X11; Linux) oKavelTray/3.2 (embedded) Chrome/120", true},
        {"oKavelTray", true},
        {"oKavelTrayHelper", true},
        {"oKavelCSSDK", true},
        {"oKavelCSSDK/1.0", false},
        {" oKavelCSSDK", false},
        {"cpp-httplib/0.9", true},
        {"cpp-httplib/0.9.1", false},
        {"cpp-httplib/0.1", false},
        {"okaveltray", false},  // the names are case-sensitive
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(marksFor({{"User-Agent", c.userAgent}}, false), c.trusted ? kTrustedUserAgentMark : 0)
            << c.userAgent;
    }
    EXPECT_FALSE(SdpHttpSecurePreprocessor::isTrustedUserAgent(nullptr));
}

TEST(SecurePreprocessorTest, MarksAreRecomputedAndOtherBitsKept) {
    // Stale marks are cleared when the headers no longer earn them; bits outside the marks stay.
    EXPECT_EQ(marksFor({}, false, 0x11), 0);
    EXPECT_EQ(marksFor({}, false, 0x100 | 0x11), 0x100);
    EXPECT_EQ(marksFor({{"User-Agent", "oKavelTray"}, {"Referer", "https://a.example/"}}, true),
              kTrustedUserAgentMark | kValidRefererMark);
}

TEST(SecurePreprocessorTest, OriginAloneEarnsTheRefererMark) {
    TempDir dir;
    writeFile(dir / "authorizedUrls.json", R"(["https://Portal.Example.com"])");
    SdpHttpSecurePreprocessor preprocessor(
        "", std::make_unique<HttpSecure>((dir / "authorizedUrls.json").string()));
    auto context = std::make_shared<SdpHttpServerContext>();
    auto mark = [&](const std::map<std::string, std::string>& headers) {
        auto request = std::make_shared<SecRequest>("/v1/hello", headers);
        preprocessor.doPreprocess(context, request, nullptr);
        return request->tag();
    };
    EXPECT_EQ(mark({{"Origin", "https://portal.example.com"}}), kValidRefererMark);
    EXPECT_EQ(mark({{"Referer", "HTTPS://portal.example.com:443/page?q=1"}}), kValidRefererMark);
    // The Referer is looked at first; the Origin is only its stand-in.
    EXPECT_EQ(mark({{"Referer", "https://evil.example/"}, {"Origin", "https://portal.example.com"}}), 0);
    EXPECT_EQ(mark({{"Origin", "http://portal.example.com"}}), 0);  // another scheme is another origin
    EXPECT_EQ(mark({{"Origin", "https://portal.example.com:8443"}}), 0);
    EXPECT_EQ(mark({{"Origin", "null"}}), 0);
    EXPECT_EQ(mark({{"Referer", "not a url at all"}}), 0);
    EXPECT_EQ(mark({}), 0);
}

// ---- whitelist ------------------------------------------------------------------------------------

// ---- the filter -----------------------------------------------------------------------------------

class AntiPhishingTest : public ::testing::Test {
protected:
    AntiPhishingTest() { filter->setNext(after); }

    // The display language comes from the shared data directory's localConfig.json.
    void setLanguage(const std::string& lang) {
        writeFile(dir / "var/conf/localConfig.json", R"({"lang":")" + lang + R"("})");
    }

    // Runs the filter; true when the request got through.
    bool filtered(const std::shared_ptr<SecRequest>& request, const std::shared_ptr<FakeResponse>& response) {
        int before = after->passed;
        filter->doFilter(context, request, response);
        return after->passed == before + 1;
    }

    TempDir dir;
    ScopedEnv sharedDir{"OKAVEL_SHARED_DATA_DIR", dir.str() + "/"};
    std::shared_ptr<SdpHttpServerContext> context = std::make_shared<SdpHttpServerContext>();
    std::shared_ptr<SdpHttpAntiPhishing> filter = std::make_shared<SdpHttpAntiPhishing>();
    std::shared_ptr<PassCounter> after = std::make_shared<PassCounter>();
};

// The language comes from the real configuration file, edited between requests.
TEST_F(AntiPhishingTest, UnmarkedRequestOutsideTheWhitelistIs403InTheDisplayLanguageOfTheMoment) {
    auto request = std::make_shared<SecRequest>("/v1/hello");
    for (const auto& [lang, message] :
         {std::pair{"en-US", "Invalid request."}, std::pair{"zh-CN", "请求非法"}}) {
        setLanguage(lang);
        auto response = std::make_shared<FakeResponse>();
        EXPECT_FALSE(filtered(request, response));
        EXPECT_EQ(response->status, 403);
        EXPECT_EQ(
            response->bodies(),
            std::vector<std::string>{std::string(R"({"code":11119003,"message":")") + message + R"("})"});
        EXPECT_EQ(response->finished(), 1);
    }
}

TEST_F(AntiPhishingTest, EitherMarkOrTheWhitelistLetsTheRequestThrough) {
    for (int tag : {kTrustedUserAgentMark, kValidRefererMark, kTrustMarks, 0x111}) {
        auto request = std::make_shared<SecRequest>("/v1/hello");
        request->setTag(tag);
        auto response = std::make_shared<FakeResponse>();
        EXPECT_TRUE(filtered(request, response)) << tag;
        EXPECT_TRUE(response->bodies().empty());
    }
    auto otherBits = std::make_shared<SecRequest>("/v1/hello");
    otherBits->setTag(0x100 | 0x02 | 0x20);
    EXPECT_FALSE(filtered(otherBits, std::make_shared<FakeResponse>()));

    context->addRefererWhitelist(std::string("/v1/update/status"), "trustUpdate");
    auto upper = std::make_shared<SecRequest>("/V1/Update/STATUS");
    auto response = std::make_shared<FakeResponse>();
    EXPECT_TRUE(filtered(upper, response));
    EXPECT_TRUE(response->bodies().empty());
    EXPECT_FALSE(
        filtered(std::make_shared<SecRequest>("/v1/update/status/x"), std::make_shared<FakeResponse>()));
}

TEST_F(AntiPhishingTest, ProgrammingErrorsAreFatalChecksAndNothingGetsThrough) {
    int aborts = 0;
    check::setFatalActions([&] { ++aborts; }, nullptr);
    auto response = std::make_shared<FakeResponse>();
    filter->doFilter(context, nullptr, response);  // no request
    filter->doFilter(std::make_shared<HttpServerContext>(), std::make_shared<SecRequest>("/"),
                     response);  // plain context
    auto socketLike = std::make_shared<SecRequest>("/");
    socketLike->useOtherOrigin();
    filter->doFilter(context, socketLike, response);  // not an HTTP origin
    EXPECT_EQ(toDebugString(nullptr), "");
    EXPECT_EQ(toDebugString(socketLike), "");
    // Without an x-sdp-traceid header (its id came from the body) the request's own id is named.
    EXPECT_EQ(toDebugString(std::make_shared<SecRequest>("/v1/hello")),
              "IRequest(url = 127.0.0.1:54630, referer = , useragent = , traceid = 00000000)");

    SdpHttpSecurePreprocessor preprocessor("", std::make_unique<ScriptedSecure>(true));
    auto request =
        std::make_shared<SecRequest>("/", std::map<std::string, std::string>{{"User-Agent", "oKavelTray"}});
    EXPECT_TRUE(preprocessor.doPreprocess(std::make_shared<HttpServerContext>(), request, response));
    EXPECT_EQ(request->tag(), 0);
    EXPECT_FALSE(preprocessor.isRefererValid(nullptr, request));
    EXPECT_FALSE(preprocessor.isRefererValid(context, nullptr));
    check::setFatalActions(nullptr, nullptr);
    EXPECT_EQ(aborts, 8);
    EXPECT_EQ(after->passed, 0);
    EXPECT_TRUE(response->bodies().empty());
}

// Modules change the whitelist and the authorised origins change on disk while requests are tested: a
// request from the tray always passes, one for a path that was never whitelisted never does, and the
// whitelisted path passes at least while it stays on the list.
TEST(RequestSecurityConcurrency, WhitelistAndOriginsChangeWhileRequestsAreFiltered) {
    TempDir dir;
    const std::string file = (dir / "authorizedUrls.json").string();
    auto context = std::make_shared<SdpHttpServerContext>();
    auto preprocessor = std::make_shared<SdpHttpSecurePreprocessor>("", std::make_unique<HttpSecure>(file));
    auto filter = std::make_shared<SdpHttpAntiPhishing>();
    auto through = std::make_shared<PassCounter>();
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
            auto response = std::make_shared<FakeResponse>();
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
    auto response = std::make_shared<FakeResponse>();
    filter->doFilter(context, std::make_shared<SecRequest>("/V1/TOGGLED"), response);
    EXPECT_TRUE(response->bodies().empty());
}

}  // namespace
}  // namespace talvern::test
