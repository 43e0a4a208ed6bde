// The event bus: a process identifies itself once, pushes the events it raises and pulls the events
// that others raised. Every field is required on the wire.

namespace cpp talvern.rpc.thrift

struct BroadcastBody {
    1: required string topic,
    2: required string content,
}

struct BroadcastIdentify {
    1: required string channelID,
    2: required i64 eventID,
}

struct BroadcastPushEvent {
    1: required BroadcastBody body,
    2: required BroadcastIdentify origin,
}

struct BroadcastPullEvent {
    1: required BroadcastIdentify identify,
    2: required list<BroadcastPushEvent> data,
}

service SdpBroadcast {
    // Liveness probe: always true.
    bool IsRpcStatusNormal(),
    // The server's channel and the id the next event will get.
    BroadcastIdentify identify(),
    // The events numbered identify.eventID and later, waiting up to timeout milliseconds for one.
    BroadcastPullEvent pull(1: BroadcastIdentify identify, 2: i32 timeout),
    // Hands one event to the bus; true when it was accepted.
    bool push(1: BroadcastPushEvent event),
}
