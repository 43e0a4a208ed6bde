#include "eventbus/EventText.h"

#include <sstream>

namespace talvern::eventbus {

std::string toLogText(const BroadcastBody& body) {
    std::ostringstream out;
    out << "BroadcastBody("
        << "topic:" << body.topic << ";content:" << body.content << ")";
    return out.str();
}

std::string toLogText(const BroadcastIdentify& identify) {
    std::ostringstream out;
    out << "BroadcastIdentify("
        << "channelID:" << identify.channelID << ";eventID:" << identify.eventID << ")";
    return out.str();
}

std::string toLogText(const BroadcastPushEvent& event) {
    std::ostringstream out;
    out << "BroadcastPushEvent("
        << "body:" << toLogText(event.body) << ", origin:" << toLogText(event.origin) << ")";
    return out.str();
}

}  // namespace talvern::eventbus
