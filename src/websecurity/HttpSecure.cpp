#include "websecurity/HttpSecure.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>

#include "http/HttpServerContext.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "support/TextCase.h"

namespace talvern {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAuthorizedUrlsFile = "var/conf/authorizedUrls.json";
constexpr const char* kNothingAuthorised = "no web origin is authorised";

class HttpSecureCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "HttpSecure"; }
    std::string message(int value) const override {
        return value == 1 ? "the authorisation check could not run" : "unknown HttpSecure error";
    }
};

// "https://Portal.Example" and "https://portal.example:443" are one origin.
std::string canonicalOrigin(const std::string& text) {
    try {
        return HttpServerContext().originOf(text);
    } catch (const std::exception&) {
        return utilities::lowerCase(text);
    }
}

}  // namespace

struct HttpSecure::State {
    // What the origins were last read from: the file's modification time and size.
    struct Stamp {
        fs::file_time_type modified;
        std::uintmax_t size = 0;
        bool operator==(const Stamp& other) const { return modified == other.modified && size == other.size; }
    };
    enum class Problem { none, noFile, unreadable, malformed };

    explicit State(std::string path) : filePath(std::move(path)) {}

    // Reads the file again when it changed; the caller holds the mutex.
    void refreshLocked();
    // Forgets every origin; says why when the problem is new (or, for a changed file, every time).
    void failClosedLocked(Problem problem, const std::string& reason, bool reportAgain = false);
    void loadLocked();

    const std::string filePath;
    std::mutex mutex;            // guards everything below
    std::optional<Stamp> stamp;  // of the file the origins come from; empty when none was read
    Problem problem = Problem::none;
    bool reportedNoPath = false;
    std::set<std::string> origins;
};

void HttpSecure::State::failClosedLocked(Problem newProblem, const std::string& reason, bool reportAgain) {
    origins.clear();
    if (problem != newProblem || reportAgain) {
        OKV_LOG_WARN("{}; Reason: {}; HowTo: {}", kNothingAuthorised, reason,
                     "write the authorised origins as a JSON array of texts into " + filePath);
    }
    problem = newProblem;
}

void HttpSecure::State::refreshLocked() {
    if (filePath.empty()) {
        if (!reportedNoPath) {
            OKV_LOG_WARN("{}; Reason: {}", kNothingAuthorised, "the shared data directory is unknown");
            reportedNoPath = true;
        }
        return;
    }
    std::error_code ec;
    if (!fs::is_regular_file(filePath, ec)) {
        stamp.reset();
        failClosedLocked(Problem::noFile, "the file(" + filePath + ") does not exist");
        return;
    }
    Stamp now;
    now.modified = fs::last_write_time(filePath, ec);
    if (!ec) {
        now.size = fs::file_size(filePath, ec);
    }
    if (ec) {
        stamp.reset();
        failClosedLocked(Problem::unreadable, "the file(" + filePath + ") cannot be read: " + ec.message());
        return;
    }
    if (stamp && *stamp == now) {
        return;
    }
    stamp = now;  // a malformed file is not parsed again until it changes
    loadLocked();
}

void HttpSecure::State::loadLocked() {
    std::ifstream in(filePath, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    if (!in) {
        failClosedLocked(Problem::unreadable, "the file(" + filePath + ") cannot be read");
        return;
    }
    rapidjson::Document document;
    const std::string text = content.str();
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError()) {
        failClosedLocked(
            Problem::malformed,
            fmt::format("the file({}) is not JSON: {} at offset {}", filePath,
                        rapidjson::GetParseError_En(document.GetParseError()), document.GetErrorOffset()),
            true);
        return;
    }
    if (!document.IsArray()) {
        failClosedLocked(Problem::malformed, "the file(" + filePath + ") does not hold a JSON array", true);
        return;
    }
    std::set<std::string> loaded;
    for (const auto& entry : document.GetArray()) {
        if (!entry.IsString() || entry.GetStringLength() == 0) {
            OKV_LOG_WARN("{}; Reason: {}", "an entry of the authorised origins is ignored",
                         "it is not a non-empty text");
            continue;
        }
        loaded.insert(canonicalOrigin(std::string(entry.GetString(), entry.GetStringLength())));
    }
    origins = std::move(loaded);
    problem = Problem::none;
    OKV_LOG_INFO("{} authorised web origin(s) read from {}", origins.size(), filePath);
}

HttpSecure::HttpSecure() : HttpSecure(defaultFilePath()) {}

HttpSecure::HttpSecure(std::string filePath) : m_state(std::make_unique<State>(std::move(filePath))) {}

HttpSecure::~HttpSecure() = default;

bool HttpSecure::isAuthorizdUrl(const std::string& url, std::error_code& error, bool reloadIfChanged) {
    try {
        // No origin is never authorised: requests without one (native clients) cost no look at the file.
        if (url.empty()) {
            return false;
        }
        std::lock_guard lock(m_state->mutex);
        if (reloadIfChanged) {
            m_state->refreshLocked();
        }
        return m_state->origins.count(canonicalOrigin(url)) != 0;
    } catch (const std::exception& e) {
        error = std::error_code(1, http_secure_category());
        OKV_LOG_ERROR("{}; Reason: {}", "the authorisation check failed", e.what());
    } catch (...) {
        error = std::error_code(1, http_secure_category());
        OKV_LOG_ERROR("{}; Reason: {}", "the authorisation check failed", "unknown exception");
    }
    return false;
}

const std::string& HttpSecure::filePath() const { return m_state->filePath; }

std::string HttpSecure::defaultFilePath() {
    std::string dir;
    std::error_code ec;
    if (!platform::sharedDataDir(dir, ec)) {
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "the shared data directory is unknown",
                      ec.value(), ec.message());
        return {};
    }
    return dir + kAuthorizedUrlsFile;
}

const std::error_category& http_secure_category() {
    static const HttpSecureCategory category;
    return category;
}

}  // namespace talvern
