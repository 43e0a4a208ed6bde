#include "controller/EventForwardingRule.h"

#include <rapidjson/document.h>

#include <regex>
#include <set>

namespace talvern::sdp {
namespace {

// Events that carry data meant for the suite's own processes only.
const std::set<std::string>& blockedTopics() {
    static const std::set<std::string> topics{
        "uemVirtualNetEvent|notifyVirtualNetInfo",
        "uemCommonEvent|notifyUemConfigChanged",
        "uemSandboxEvent|uemACLPolicyChanged",
        "uemSandboxEvent|triggerACLWorkSpaceInfo",
        "aclEvent|aclUemStatusOnline",
        "aclEvent|aclUemStatusOffline",
        "aclEvent|aclUemFeatureStatusChange",
        "uemSandboxEvent|requestUpdateClientResource",
    };
    return topics;
}

// Events whose content web clients read as it is, JSON or not.
const std::set<std::string>& alwaysForwardedTopics() {
    static const std::set<std::string> topics{
        "uemVirtualNetEvent|notifyVirtualNetPolicyReady",
        "uemCommonEvent|routerChanged",
        "uemCommonEvent|appFilterPolicyChanged",
        "statusEvent|uemInfo",
        "statusEvent|uemStatus",
        "statusEvent|uemStatusV2",
        "statusEvent|supportWorkspace",
        "uemVirtualNetEvent|currVirtualNetChanged",
    };
    return topics;
}

const std::regex& webTopicPattern() {
    static const std::regex pattern(
        "^((mirnEvent|updateEvent|diagnosis|DeviceChanged|uemVirtualNetEvent|websocketEvent|"
        "coreStateChangeEvent|Forwarding)\\|(.+))|(statusEvent\\|(?:resourceReady|uemStatus|uemStatusV2|"
        "uemInfo|ready|login|online|offline|logout|disconnect|tunnelAvailable|tunnelUnavailable|"
        "tunnelPreparing|supportWorkspace))$",
        std::regex::ECMAScript);
    return pattern;
}

}  // namespace

EventForwardingRule::Verdict EventForwardingRule::judge(const std::string& topic,
                                                        const std::string& content) {
    if (blockedTopics().count(topic) != 0) {
        return Verdict::blocked;
    }
    if (alwaysForwardedTopics().count(topic) != 0) {
        return Verdict::always;
    }
    if (!std::regex_match(topic, webTopicPattern())) {
        return Verdict::unlisted;
    }
    rapidjson::Document document;
    document.Parse(content.data(), content.size());
    if (document.HasParseError()) {
        return Verdict::notJson;
    }
    if (!document.IsObject()) {
        return Verdict::badEventField;
    }
    auto event = document.FindMember("event");
    if (event == document.MemberEnd() || !event->value.IsString() || event->value.GetStringLength() == 0) {
        return Verdict::badEventField;
    }
    return Verdict::forward;
}

}  // namespace talvern::sdp
