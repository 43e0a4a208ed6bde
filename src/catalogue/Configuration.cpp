#include "catalogue/Configuration.h"

#include <rapidjson/document.h>

#include <system_error>

#include "log/Log.h"
#include "platform/Paths.h"
#include "support/ReadFile.h"

namespace talvern::utilities {
namespace {

constexpr const char* kTag = "common";
constexpr const char* kRelativePath = "var/conf/localConfig.json";

std::string defaultFilePath() {
    std::string dir;
    std::error_code ec;
    if (!platform::sharedDataDir(dir, ec)) {
        // The file is then looked for relative to the working directory, the executable's directory.
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: error code:{}, error message:{}", "getSharedDataPath fail",
                          ec.value(), ec.message());
        dir.clear();
    }
    return dir + kRelativePath;
}

}  // namespace

Configuration::Configuration() : m_filePath(defaultFilePath()) {}

Configuration::Configuration(std::string filePath) : m_filePath(std::move(filePath)) {}

bool Configuration::readKeyVaule(const std::string& key, std::string& value) const {
    std::string content;
    std::error_code ec;
    if (!readWholeFile(m_filePath, content, ec)) {
        OKV_LOG_TAG_ERROR(kTag, "Failed to read file localConfig.json. reason: category:{} code:{} msg:{}",
                          ec.category().name(), ec.value(), ec.message());
        return false;
    }
    rapidjson::Document document;
    if (document.Parse<rapidjson::kParseIterativeFlag>(content.data(), content.size()).HasParseError()) {
        OKV_LOG_TAG_ERROR(kTag,
                          "Failed to read field {} in the localConfig.json file({}); Reason: Parsing failed. "
                          "error code:{}; HowTo: {}",
                          key, m_filePath, static_cast<int>(document.GetParseError()), "please check json");
        return false;
    }
    const rapidjson::Value* member = nullptr;
    if (document.IsObject()) {
        auto found = document.FindMember(
            rapidjson::StringRef(key.data(), static_cast<rapidjson::SizeType>(key.size())));
        if (found != document.MemberEnd()) {
            member = &found->value;
        }
    }
    if (member == nullptr) {
        OKV_LOG_TAG_ERROR(kTag, "Failed to read field {} in the localConfig.json file({}); Reason: {}", key,
                          m_filePath, "The field does not exist");
        return false;
    }
    if (!member->IsString()) {
        OKV_LOG_TAG_ERROR(kTag, "Failed to read field {} in the localConfig.json file({}); Reason: {}", key,
                          m_filePath, "The field is not a string");
        return false;
    }
    value.assign(member->GetString(), member->GetStringLength());
    return true;
}

}  // namespace talvern::utilities
