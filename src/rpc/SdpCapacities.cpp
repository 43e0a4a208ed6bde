#include "rpc/SdpCapacities.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "log/Log.h"

namespace talvern {

namespace {

constexpr const char* kDescriptionTemplate =
    R"({ "name": "%1%", "version": "%2%", "custom": { "code": "%3%", "version": "%4%" }, "description": "First release" })";
constexpr const char* kAgentName = "oKavelAgent";
constexpr const char* kAgentVersion = "2.3.10.73";

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

const std::string& SdpCapacities::agentDescription() {
    static const std::string description = [] {
        std::string text = kDescriptionTemplate;
        replaceAll(text, "%1%", kAgentName);
        replaceAll(text, "%2%", kAgentVersion);
        replaceAll(text, "%3%", "");
        replaceAll(text, "%4%", "");
        return text;
    }();
    return description;
}

SdpCapacities::SdpCapacities() : m_text(agentDescription()) {}

void SdpCapacities::updateSubCapacities(const std::vector<std::string>& moduleCapacities) {
    rapidjson::Document agent;
    const std::string& description = agentDescription();
    agent.Parse(description.c_str(), description.size());
    if (agent.HasParseError() || !agent.IsObject()) {
        OKV_LOG_ERROR("Parse capacities for oKavelAgent.exe error");
        if (!agent.IsObject()) {
            agent.SetObject();
        }
    }
    auto& allocator = agent.GetAllocator();

    rapidjson::Value dependency(rapidjson::kArrayType);
    for (const auto& text : moduleCapacities) {
        rapidjson::Document module;
        module.Parse(text.c_str(), text.size());
        if (module.HasParseError()) {
            OKV_LOG_ERROR("Parser submodule of oKavelAgent.exe capability error. content: {}{}", text,
                          std::string("; Reason: ") + rapidjson::GetParseError_En(module.GetParseError()));
            continue;
        }
        if (!module.IsObject() || !module.HasMember("name") || !module.HasMember("version")) {
            OKV_LOG_ERROR("The module capacity is lack of the key of 'name' or 'version'.{}",
                          " content: " + text);
            continue;
        }
        dependency.PushBack(rapidjson::Value(module, allocator), allocator);
    }
    if (!dependency.Empty()) {
        agent.AddMember("dependency", dependency, allocator);
    }

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    agent.Accept(writer);
    m_text.assign(buffer.GetString(), buffer.GetSize());
}

}  // namespace talvern
