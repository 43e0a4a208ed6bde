#include "eventbus/ThriftConvert.h"

namespace talvern::eventbus {

BroadcastBody fromThrift(const rpc::thrift::BroadcastBody& body) { return {body.topic, body.content}; }

BroadcastIdentify fromThrift(const rpc::thrift::BroadcastIdentify& identify) {
    return {identify.channelID, identify.eventID};
}

BroadcastPushEvent fromThrift(const rpc::thrift::BroadcastPushEvent& event) {
    return {fromThrift(event.body), fromThrift(event.origin)};
}

BroadcastPullEvent fromThrift(const rpc::thrift::BroadcastPullEvent& pulled) {
    BroadcastPullEvent result;
    result.identify = fromThrift(pulled.identify);
    result.data.reserve(pulled.data.size());
    for (const auto& event : pulled.data) {
        result.data.push_back(fromThrift(event));
    }
    return result;
}

rpc::thrift::BroadcastBody toThrift(const BroadcastBody& body) {
    rpc::thrift::BroadcastBody result;
    result.topic = body.topic;
    result.content = body.content;
    return result;
}

rpc::thrift::BroadcastIdentify toThrift(const BroadcastIdentify& identify) {
    rpc::thrift::BroadcastIdentify result;
    result.channelID = identify.channelID;
    result.eventID = identify.eventID;
    return result;
}

rpc::thrift::BroadcastPushEvent toThrift(const BroadcastPushEvent& event) {
    rpc::thrift::BroadcastPushEvent result;
    result.body = toThrift(event.body);
    result.origin = toThrift(event.origin);
    return result;
}

rpc::thrift::BroadcastPullEvent toThrift(BroadcastPullEvent&& pulled) {
    rpc::thrift::BroadcastPullEvent result;
    result.identify = toThrift(pulled.identify);
    result.data.reserve(pulled.data.size());
    for (auto& event : pulled.data) {
        rpc::thrift::BroadcastPushEvent converted;
        converted.body.topic = std::move(event.body.topic);
        converted.body.content = std::move(event.body.content);
        converted.origin.channelID = std::move(event.origin.channelID);
        converted.origin.eventID = event.origin.eventID;
        result.data.push_back(std::move(converted));
    }
    return result;
}

}  // namespace talvern::eventbus
