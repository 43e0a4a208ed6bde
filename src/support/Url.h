#pragma once

// Splits a URL text into its components and checks each against fixed character classes:
//
//     talvern::net::Url url("https://[::1]:8443/v1/detect?a=1+2");
//     url.host();      // "::1"          url.hostKind();  // 6
//     url.port();      // "8443"         url.query();     // {{"a", "1 2"}}
//
// The text is parsed on the first use of an accessor. A malformed URL throws Url::parse_error whose
// message names the faulty component; nothing is stored from a text that fails. An object is not
// meant to be shared between threads while it may still parse.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace talvern::net {

class Url {
public:
    class parse_error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    using Query = std::vector<std::pair<std::string, std::string>>;

    /// Host kinds: no host, a registered name, IPv4, IPv6; a future-format address gives its version.
    static constexpr std::int8_t kNoHost = -1;
    static constexpr std::int8_t kRegisteredName = 0;
    static constexpr std::int8_t kIpv4 = 4;
    static constexpr std::int8_t kIpv6 = 6;

    /// Longest text accepted.
    static constexpr std::size_t kMaxLength = 8000;

    explicit Url(std::string text);

    /// The text as given.
    const std::string& str() const { return m_text; }

    const std::string& scheme() const;
    const std::string& userInfo() const;
    const std::string& host() const;
    std::int8_t hostKind() const;
    /// The port digits as written (no default port is filled in).
    const std::string& port() const;
    const std::string& path() const;
    /// Key/value pairs in the order of the text, decoded ('+' is a space).
    const Query& query() const;
    const std::string& fragment() const;

    /// Parses now when not yet done. Throws parse_error.
    void parse() const;

    /// "%41" -> "A"; throws parse_error("Invalid percent encoding") on a bad escape.
    static std::string decode(const std::string& text);
    /// As decode, after turning every '+' into a space.
    static std::string decodeQuery(const std::string& text);

    struct Components {
        std::string scheme;
        std::string userInfo;
        std::string host;
        std::int8_t hostKind = kNoHost;
        std::string port;
        std::string path;
        Query query;
        std::string fragment;
    };

private:
    std::string m_text;
    mutable Components m_components;
    mutable bool m_parsed = false;
};

}  // namespace talvern::net
