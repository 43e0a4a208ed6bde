#include "support/Url.h"

#include <array>
#include <string_view>

#include "support/HexDigit.h"

namespace talvern::net {
namespace {

using utilities::hexValue;

// Character classes, one bit each.
constexpr std::uint8_t kUnreserved = 0x01;  // letters, digits, -._~!$&'()*+,;= and '|'
constexpr std::uint8_t kAt = 0x02;
constexpr std::uint8_t kColon = 0x04;
constexpr std::uint8_t kSlash = 0x08;
constexpr std::uint8_t kQuestion = 0x10;
constexpr std::uint8_t kPercent = 0x20;

constexpr std::uint8_t kUserInfoMask = kUnreserved | kColon;
constexpr std::uint8_t kPathMask = kUnreserved | kAt | kColon | kSlash | kPercent;
constexpr std::uint8_t kFragmentMask = kPathMask | kQuestion;
constexpr std::uint8_t kAnyClass = kFragmentMask;

constexpr std::array<std::uint8_t, 256> makeClasses() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) {
        table[c] = kUnreserved;
    }
    for (int c = 'A'; c <= 'Z'; ++c) {
        table[c] = kUnreserved;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = kUnreserved;
    }
    for (unsigned char c : std::string_view("!$&'()*+,-.;=_~|")) {
        table[c] = kUnreserved;
    }
    table['@'] = kAt;
    table[':'] = kColon;
    table['/'] = kSlash;
    table['?'] = kQuestion;
    table['%'] = kPercent;
    return table;
}

constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

bool inMask(std::string_view text, std::uint8_t mask) {
    for (unsigned char c : text) {
        if ((kClasses[c] & mask) == 0) {
            return false;
        }
    }
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// These tests look at the alphabet and the length only; the socket layer rejects impossible values.
bool looksLikeIpv4(std::string_view host) {
    if (host.size() < 7 || host.size() > 254) {
        return false;
    }
    for (char c : host) {
        if (!isDigit(c) && c != '.') {
            return false;
        }
    }
    return true;
}

bool looksLikeIpv6(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.size() < 2 || host.size() > 254) {
        return false;
    }
    for (char c : host) {
        if (hexValue(c) < 0 && c != ':') {
            return false;
        }
    }
    return true;
}

bool validScheme(std::string_view scheme) {
    if (scheme.empty() || !isAlpha(scheme.front())) {
        return false;
    }
    for (char c : scheme.substr(1)) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

bool validPort(std::string_view port) {
    if (port.empty()) {
        return false;
    }
    unsigned long value = 0;
    for (char c : port) {
        if (!isDigit(c)) {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) {
            return false;
        }
    }
    return true;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            throw Url::parse_error("Invalid percent encoding");
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

class Parser {
public:
    explicit Parser(const std::string& text) : m_s(text) {}

    Url::Components run() {
        if (m_s.empty()) {
            return {};
        }
        if (m_s.size() > Url::kMaxLength) {
            throw Url::parse_error("URI is longer than 8000 characters");
        }
        std::size_t pos = m_s.find_first_of(":/?#");
        if (pos == std::string_view::npos) {
            checkPath(m_s);
            m_out.path = m_s;
            return finish();
        }
        std::size_t cur = 0;
        if (m_s[pos] == ':') {
            if (!validScheme(m_s.substr(0, pos))) {
                throw Url::parse_error("Scheme in " + quoted(m_s) + " is invalid");
            }
            m_out.scheme = m_s.substr(0, pos);
            cur = pos + 1;
        }
        if (m_s.compare(cur, 2, "//") == 0) {
            std::size_t end = m_s.find_first_of("/?#", cur + 2);
            if (end == std::string_view::npos) {
                end = m_s.size();
            }
            parseAuthority(m_s.substr(cur + 2, end - cur - 2));
            cur = end;
        }
        std::size_t pathEnd = m_s.find_first_of("?#", cur);
        if (pathEnd == std::string_view::npos) {
            pathEnd = m_s.size();
        }
        m_out.path = m_s.substr(cur, pathEnd - cur);
        checkPath(m_out.path);
        cur = pathEnd;
        std::string_view queryText;
        if (cur < m_s.size() && m_s[cur] == '?') {
            std::size_t queryEnd = m_s.find('#', cur + 1);
            if (queryEnd == std::string_view::npos) {
                queryEnd = m_s.size();
            }
            queryText = m_s.substr(cur + 1, queryEnd - cur - 1);
            cur = queryEnd;
        }
        if (cur < m_s.size() && m_s[cur] == '#') {
            std::string_view fragment = m_s.substr(cur + 1);
            if (!inMask(fragment, kFragmentMask)) {
                throw Url::parse_error("Fragment " + quoted(fragment) + " in " + quoted(m_s) + " is invalid");
            }
            m_out.fragment = fragment;
        }
        splitQuery(queryText);
        return finish();
    }

private:
    void checkPath(std::string_view path) const {
        if (!inMask(path, kPathMask)) {
            throw Url::parse_error("Path " + quoted(path) + " in " + quoted(m_s) + " is invalid");
        }
    }

    [[noreturn]] void badHost() const {
        throw Url::parse_error("Host address in " + quoted(m_s) + " is invalid");
    }

    void parseAuthority(std::string_view authority) {
        std::size_t hostStart = 0;
        std::size_t at = authority.find('@');
        if (at != std::string_view::npos) {
            if (!inMask(authority.substr(0, at), kUserInfoMask)) {
                throw Url::parse_error("User info in " + quoted(m_s) + " is invalid");
            }
            m_out.userInfo = authority.substr(0, at);
            hostStart = at + 1;
        }
        std::size_t afterHost;
        if (hostStart < authority.size() && authority[hostStart] == '[') {
            std::size_t close = authority.find(']', hostStart);
            if (close == std::string_view::npos) {
                throw Url::parse_error("Missing ] in " + quoted(m_s));
            }
            parseBracketedHost(authority.substr(hostStart + 1, close - hostStart - 1));
            afterHost = close + 1;
            if (afterHost < authority.size() && authority[afterHost] != ':') {
                badHost();
            }
        } else {
            afterHost = authority.find(':', hostStart);
            if (afterHost == std::string_view::npos) {
                afterHost = authority.size();
            }
            std::string_view host = authority.substr(hostStart, afterHost - hostStart);
            if (looksLikeIpv4(host)) {
                m_out.hostKind = Url::kIpv4;
            } else if (inMask(host, kUnreserved)) {
                m_out.hostKind = Url::kRegisteredName;
            } else {
                badHost();
            }
            m_out.host = host;
        }
        if (afterHost < authority.size()) {
            std::string_view port = authority.substr(afterHost + 1);
            if (!validPort(port)) {
                throw Url::parse_error("Port " + quoted(port) + " in " + quoted(m_s) + " is invalid");
            }
            m_out.port = port;
        }
    }

    // "v" + one or two hexadecimal digits + "." starts a future-format address; its version is the
    // host kind, so versions that do not fit the kind (above 0x7F) are refused.
    void parseBracketedHost(std::string_view content) {
        if (content.size() >= 3 && content[0] == 'v' && hexValue(content[1]) >= 0) {
            std::size_t dot = hexValue(content[2]) >= 0 ? 3 : 2;
            if (dot < content.size() && content[dot] == '.') {
                int version = hexValue(content[1]);
                if (dot == 3) {
                    version = version * 16 + hexValue(content[2]);
                }
                if (version > 0x7F || !inMask(content.substr(dot + 1), kUserInfoMask)) {
                    badHost();
                }
                m_out.hostKind = static_cast<std::int8_t>(version);
                m_out.host = content;
                return;
            }
        }
        if (!looksLikeIpv6(content)) {
            badHost();
        }
        m_out.hostKind = Url::kIpv6;
        m_out.host = content;
    }

    void splitQuery(std::string_view text) {
        std::size_t begin = 0;
        while (begin <= text.size()) {
            std::size_t end = text.find_first_of(";&", begin);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            std::string_view item = text.substr(begin, end - begin);
            if (!item.empty()) {
                addQueryItem(item);
            }
            begin = end + 1;
        }
    }

    void addQueryItem(std::string_view item) {
        std::size_t eq = item.find('=');
        std::string_view key = item.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        if (!inMask(key, kAnyClass)) {
            throw Url::parse_error("Query key " + quoted(key) + " in " + quoted(m_s) + " is invalid");
        }
        if (!inMask(value, kFragmentMask)) {
            throw Url::parse_error("Query value " + quoted(value) + " in " + quoted(m_s) + " is invalid");
        }
        m_out.query.emplace_back(Url::decodeQuery(std::string(key)), Url::decodeQuery(std::string(value)));
    }

    Url::Components finish() {
        m_out.userInfo = percentDecode(m_out.userInfo);
        m_out.host = percentDecode(m_out.host);
        m_out.path = percentDecode(m_out.path);
        m_out.fragment = percentDecode(m_out.fragment);
        return std::move(m_out);
    }

    std::string_view m_s;
    Url::Components m_out;
};

}  // namespace

Url::Url(std::string text) : m_text(std::move(text)) {}

void Url::parse() const {
    if (m_parsed) {
        return;
    }
    m_components = Parser(m_text).run();
    m_parsed = true;
}

const std::string& Url::scheme() const {
    parse();
    return m_components.scheme;
}

const std::string& Url::userInfo() const {
    parse();
    return m_components.userInfo;
}

const std::string& Url::host() const {
    parse();
    return m_components.host;
}

std::int8_t Url::hostKind() const {
    parse();
    return m_components.hostKind;
}

const std::string& Url::port() const {
    parse();
    return m_components.port;
}

const std::string& Url::path() const {
    parse();
    return m_components.path;
}

const Url::Query& Url::query() const {
    parse();
    return m_components.query;
}

const std::string& Url::fragment() const {
    parse();
    return m_components.fragment;
}

std::string Url::decode(const std::string& text) { return percentDecode(text); }

std::string Url::decodeQuery(const std::string& text) {
    std::string plain = text;
    for (char& c : plain) {
        if (c == '+') {
            c = ' ';
        }
    }
    return percentDecode(plain);
}

}  // namespace talvern::net
