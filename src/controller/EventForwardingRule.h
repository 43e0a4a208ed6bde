#pragma once

#include <string>

namespace talvern::sdp {

/// Which bus events reach web clients. Some topics never do, a few always do whatever their content,
/// and the rest only when the topic is one of the web categories and the content is a JSON object whose
/// "event" member is a non-empty string. The topic tables and the pattern are built once.
class EventForwardingRule {
public:
    enum class Verdict {
        blocked,        ///< a topic that is never forwarded
        always,         ///< a topic forwarded without looking at its content
        unlisted,       ///< a topic outside the web categories
        notJson,        ///< the content is not JSON
        badEventField,  ///< the content has no non-empty string member "event"
        forward,        ///< passes every check
    };

    static Verdict judge(const std::string& topic, const std::string& content);

    /// True for the verdicts that forward the event.
    static bool forwards(Verdict verdict) {
        return verdict == Verdict::always || verdict == Verdict::forward;
    }
};

}  // namespace talvern::sdp
