#include "support/Url.h"

#include <gtest/gtest.h>

#include <string>

using talvern::net::Url;

namespace {

// The message of the parse_error a text raises, or "" when it parses.
std::string errorOf(const std::string& text) {
    try {
        Url(text).parse();
    } catch (const Url::parse_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Url, FullUrlIsSplitAndDecoded) {
    Url url("https://user:pw@example.com:8443/a%20b/c?x=1&y=two#fr%41g");
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_EQ(url.userInfo(), "user:pw");
    EXPECT_EQ(url.host(), "example.com");
    EXPECT_EQ(url.hostKind(), Url::kRegisteredName);
    EXPECT_EQ(url.port(), "8443");
    EXPECT_EQ(url.path(), "/a b/c");
    EXPECT_EQ(url.query(), (Url::Query{{"x", "1"}, {"y", "two"}}));
    EXPECT_EQ(url.fragment(), "frAg");
}

TEST(Url, LengthLimitIsEightThousand) {
    const std::string head = "http://h/";
    const std::string exact = head + std::string(Url::kMaxLength - head.size(), 'a');
    ASSERT_EQ(exact.size(), 8000u);
    EXPECT_EQ(Url(exact).path().size(), 8000u - 8u);
    EXPECT_EQ(errorOf(exact + "a"), "URI is longer than 8000 characters");
}

TEST(Url, HostKinds) {
    Url v6("https://[::1]:8443/");
    EXPECT_EQ(v6.host(), "::1");
    EXPECT_EQ(v6.hostKind(), Url::kIpv6);
    EXPECT_EQ(v6.port(), "8443");
    EXPECT_EQ(errorOf("https://[::1:8443/"), "Missing ] in 'https://[::1:8443/'");

    EXPECT_EQ(Url("http://127.0.0.1/").hostKind(), Url::kIpv4);
    // The IPv4 test looks at the alphabet and length only.
    EXPECT_EQ(Url("http://999.1.2/").hostKind(), Url::kIpv4);
    // Too short for the IPv4 test: still a valid registered name.
    EXPECT_EQ(Url("http://999.1/").hostKind(), Url::kRegisteredName);
    EXPECT_EQ(Url("http://" + std::string(254, '1') + "/").hostKind(), Url::kIpv4);
    EXPECT_EQ(Url("http://" + std::string(255, '1') + "/").hostKind(), Url::kRegisteredName);
    EXPECT_EQ(Url("http://a|b/").hostKind(), Url::kRegisteredName);
    EXPECT_EQ(Url("/only/a/path").hostKind(), Url::kNoHost);

    Url future("http://[v1f.addr:x]/");
    EXPECT_EQ(future.hostKind(), 0x1f);
    EXPECT_EQ(future.host(), "v1f.addr:x");
    EXPECT_EQ(Url("http://[v7.x]/").hostKind(), 7);
    EXPECT_EQ(errorOf("http://[v80.x]/"), "Host address in 'http://[v80.x]/' is invalid");
    EXPECT_EQ(errorOf("http://[v1.a%41]/"), "Host address in 'http://[v1.a%41]/' is invalid");
    EXPECT_EQ(errorOf("http://[v1.a/b]/"), "Missing ] in 'http://[v1.a/b]/'");
}

TEST(Url, Ports) {
    EXPECT_EQ(Url("http://h:65535/").port(), "65535");
    EXPECT_EQ(Url("http://h:0080").port(), "0080");
    EXPECT_EQ(Url("http://[::1]:1").port(), "1");
    for (const char* port : {"65536", "99999999999999999999", "", "80:81", "-1"}) {
        const std::string text = std::string("http://h:") + port + "/";
        EXPECT_EQ(errorOf(text), std::string("Port '") + port + "' in '" + text + "' is invalid");
    }
}

TEST(Url, SchemeAndUserInfo) {
    EXPECT_EQ(Url("a+b-c.d:rest").scheme(), "a+b-c.d");
    EXPECT_EQ(errorOf("1http://h/"), "Scheme in '1http://h/' is invalid");
    EXPECT_EQ(errorOf(":x"), "Scheme in ':x' is invalid");
    EXPECT_EQ(errorOf("ht_tp://h/"), "Scheme in 'ht_tp://h/' is invalid");
    EXPECT_EQ(errorOf("http://us/er@h/"), "");  // the authority ends at the first slash
    EXPECT_EQ(errorOf("http://us er@h/"), "User info in 'http://us er@h/' is invalid");
    // The user information admits no escapes.
    EXPECT_EQ(errorOf("http://us%65r@h/"), "User info in 'http://us%65r@h/' is invalid");
    // Colons of the user information do not start the port.
    Url url("http://a:b:c@h:1/");
    EXPECT_EQ(url.userInfo(), "a:b:c");
    EXPECT_EQ(url.port(), "1");
}

TEST(Url, QuerySplittingAndDecoding) {
    EXPECT_EQ(Url("http://h/?a=1+2&b=%41").query(), (Url::Query{{"a", "1 2"}, {"b", "A"}}));
    EXPECT_EQ(Url("http://h/?a;b=&c=d=e&&").query(), (Url::Query{{"a", ""}, {"b", ""}, {"c", "d=e"}}));
    EXPECT_EQ(Url("http://h/?k|ey=v").query(), (Url::Query{{"k|ey", "v"}}));
    EXPECT_EQ(Url("http://h/?a%2Bb=c#f").query(), (Url::Query{{"a+b", "c"}}));
    EXPECT_EQ(errorOf("http://h/?a b=1"), "Query key 'a b' in 'http://h/?a b=1' is invalid");
    EXPECT_EQ(errorOf("http://h/?a=1 2"), "Query value '1 2' in 'http://h/?a=1 2' is invalid");
}

TEST(Url, PercentDecoding) {
    EXPECT_EQ(Url::decode("%41%6a%4A+"), "AjJ+");
    EXPECT_EQ(Url::decodeQuery("%41+b"), "A b");
    EXPECT_EQ(Url::decode("%00").size(), 1u);
    for (const char* text : {"http://h/x%4", "http://h/x%", "http://h/x%g1", "http://h/x%1g",
                             "http://h/?a=%2", "http://h/#%zz"}) {
        EXPECT_EQ(errorOf(text), "Invalid percent encoding") << text;
    }
}
