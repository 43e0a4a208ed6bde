#pragma once

// The records exchanged with the browser portal, the local user interface and the plug-ins. They are
// plain data; their reflection registration lives in PortalMessages.cpp and their JSON form is
// produced by the generic encoder of portal/Json.h.

#include <cstdint>
#include <string>
#include <vector>

namespace talvern::portal {

namespace event_req {
struct Data {
    std::int64_t fromId = 0;   ///< first event id wanted; 0 asks only for events still to come
    std::int64_t timeout = 0;  ///< long-poll wait in milliseconds; 0 means the default wait
};
struct EventReq {
    std::string sdpTraceId;
    std::string type;
    std::string lang;
    std::string guid;
    std::string addr;
    std::string token;
    Data data;
};
}  // namespace event_req

namespace detect_req {
struct DetectReq {
    std::string sdpTraceId;
    std::string type;
    std::string lang;
    std::string guid;
    std::string addr;
    std::string token;
};
}  // namespace detect_req

namespace ws_events_req {
struct Data {
    std::int64_t fromId = 0;  ///< first stored event id to replay; 0 replays nothing
    std::int64_t pid = 0;     ///< agent process id the client last talked to
};
struct WsEventsReq {
    std::string mode;
    std::string type;
    std::string path;
    std::string sdpTraceId;
    std::string from;
    Data data;
};
}  // namespace ws_events_req

namespace ws_general_req {
/// The common head of every WebSocket message.
struct WsGeneralReq {
    std::string mode;
    std::string type;
    std::string path;
    std::string sdpTraceId;
    std::string from;
};
}  // namespace ws_general_req

namespace get_service_port_req {
struct Data {
    std::string serviceName;
};
struct GetServicePortReq {
    std::string sdpTraceId;
    std::string addr;
    std::string type;
    std::string guid;
    std::string lang;
    std::string token;
    Data data;
};
}  // namespace get_service_port_req

namespace general_resp {
struct GeneralResp {
    std::int64_t code = 0;
    std::string message;
};
}  // namespace general_resp

namespace event_resp {
struct Data {
    std::int64_t id = 0;  ///< the id to ask for next
};
struct EventResp {
    std::int64_t code = 0;
    std::string message;
    Data data;
};
}  // namespace event_resp

namespace detect_resp {
struct Data {
    std::string pubkey;
};
struct DetectResp {
    std::int64_t code = 0;
    std::string message;
    Data data;
};
}  // namespace detect_resp

namespace get_service_port_resp {
struct Data {
    std::string addr;
    std::int64_t port = 0;
};
struct GetServicePortResp {
    std::int64_t code = 0;
    std::string message;
    Data data;
};
}  // namespace get_service_port_resp

}  // namespace talvern::portal

namespace talvern::common::plugins_feature {

/// One admitted plug-in file.
struct Plugins {
    std::string name;
    std::string md5;
    std::int64_t fileSize = 0;
};

/// The signed plug-in allow-list.
struct PluginsFeature {
    std::vector<Plugins> plugins;
    std::string sign;
};

}  // namespace talvern::common::plugins_feature
