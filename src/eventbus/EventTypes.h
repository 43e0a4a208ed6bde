#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bus's own picture of an event, independent of the wire format that carries it. The RPC handler
// translates between these and the generated Thrift structures of the same names.
namespace talvern::eventbus {

/// What happened: a topic ("category|name") and its content, a JSON text.
struct BroadcastBody {
    std::string topic;
    std::string content;
    bool operator==(const BroadcastBody&) const = default;
};

/// A channel (one per connected process) and an event number whose meaning depends on the use.
struct BroadcastIdentify {
    std::string channelID;
    int64_t eventID = 0;
    bool operator==(const BroadcastIdentify&) const = default;
};

/// One event with who raised it and its number in that sender's sequence.
struct BroadcastPushEvent {
    BroadcastBody body;
    BroadcastIdentify origin;
    bool operator==(const BroadcastPushEvent&) const = default;
};

/// The answer to a pull: the server's channel with the id to ask for next, and the events, oldest first.
struct BroadcastPullEvent {
    BroadcastIdentify identify;
    std::vector<BroadcastPushEvent> data;
    bool operator==(const BroadcastPullEvent&) const = default;
};

/// One accepted event as the bus keeps it: its global id and a full copy of what was pushed.
struct EventRawData {
    int64_t id = 0;
    BroadcastPushEvent event;
};

}  // namespace talvern::eventbus
