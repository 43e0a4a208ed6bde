#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "websecurity/HttpSecure.h"

namespace talvern::test {
namespace {

namespace fs = std::filesystem;

class HttpSecureFile : public ::testing::Test {
protected:
    // Writes the file and moves its time on, so that a rewrite of the same size is seen as a change.
    void write(const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
    }
    bool authorised(const std::string& url, bool reload = true) {
        std::error_code error;
        bool result = secure.isAuthorizdUrl(url, error, reload);
        EXPECT_FALSE(error) << url;
        return result;
    }

    TempDir dir;
    std::string file = (dir / "authorizedUrls.json").string();
    HttpSecure secure{file};

private:
    int m_writes = 0;
};

TEST_F(HttpSecureFile, MissingFileAuthorisesNothingAndIsReportedOnce) {
    LogCapture log;
    EXPECT_FALSE(authorised("https://portal.example.com:443"));
    EXPECT_FALSE(authorised("https://portal.example.com:443"));
    EXPECT_EQ(log.count({"[warning]", "no web origin is authorised", "does not exist"}), 1) << log.text();
}

TEST_F(HttpSecureFile, EntriesAreOriginsInAnyCaseWithDefaultPorts) {
    write(
        R"(["https://Portal.Example.com", "http://127.0.0.1:8080/", "http://[::1]", 42, "", "ftp://x.example"])");
    EXPECT_TRUE(authorised("https://portal.example.com:443"));
    EXPECT_TRUE(authorised("HTTPS://PORTAL.EXAMPLE.COM"));
    EXPECT_TRUE(authorised("http://127.0.0.1:8080"));
    EXPECT_TRUE(authorised("http://[::1]:80"));
    EXPECT_FALSE(authorised("http://127.0.0.1:8081"));
    EXPECT_FALSE(authorised("http://portal.example.com:443"));
    EXPECT_FALSE(authorised(""));
    EXPECT_FALSE(authorised("42"));
}

TEST_F(HttpSecureFile, MalformedFileFailsClosed) {
    LogCapture log;
    for (const char* text :
         {"", "[\"https://a.example\"", R"({"origins":["https://a.example"]})", "\"https://a.example\""}) {
        write(R"(["https://a.example"])");
        ASSERT_TRUE(authorised("https://a.example:443"));
        write(text);
        EXPECT_FALSE(authorised("https://a.example:443")) << text;
    }
    EXPECT_EQ(log.count({"[warning]", "no web origin is authorised"}), 4) << log.text();
}

TEST_F(HttpSecureFile, ChangedFileIsPickedUp) {
    write(R"(["https://one.example"])");
    EXPECT_TRUE(authorised("https://one.example:443"));
    EXPECT_FALSE(authorised("https://two.example:443"));
    write(R"(["https://two.example"])");                        // same size: only the time tells
    EXPECT_TRUE(authorised("https://one.example:443", false));  // answers from what it read last
    EXPECT_TRUE(authorised("https://two.example:443"));
    EXPECT_FALSE(authorised("https://one.example:443"));
    fs::remove(file);
    EXPECT_FALSE(authorised("https://two.example:443"));
    write(R"(["https://two.example"])");
    EXPECT_TRUE(authorised("https://two.example:443"));
}

}  // namespace
}  // namespace talvern::test
