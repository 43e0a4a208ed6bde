#pragma once

#include <string>

#include "eventbus/EventTypes.h"

// The texts the bus writes to its log for its structures, e.g.
// "BroadcastPushEvent(body:BroadcastBody(topic:a|b;content:{}),
// origin:BroadcastIdentify(channelID:c;eventID:1))".
namespace talvern::eventbus {

std::string toLogText(const BroadcastBody& body);
std::string toLogText(const BroadcastIdentify& identify);
std::string toLogText(const BroadcastPushEvent& event);

}  // namespace talvern::eventbus
