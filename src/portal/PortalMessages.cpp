#include "portal/PortalMessages.h"

#include <rttr/registration>

#include "portal/Json.h"

// The key order of the JSON text is the order in which the properties are registered here.
RTTR_REGISTRATION {
    using rttr::registration;
    namespace portal = talvern::portal;
    namespace feature = talvern::common::plugins_feature;

    registration::class_<portal::event_req::Data>("talvern::portal::event_req::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("fromId", &portal::event_req::Data::fromId)
        .property("timeout", &portal::event_req::Data::timeout);
    registration::class_<portal::event_req::EventReq>("talvern::portal::event_req::EventReq")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("sdpTraceId", &portal::event_req::EventReq::sdpTraceId)
        .property("type", &portal::event_req::EventReq::type)
        .property("lang", &portal::event_req::EventReq::lang)
        .property("guid", &portal::event_req::EventReq::guid)
        .property("addr", &portal::event_req::EventReq::addr)
        .property("token", &portal::event_req::EventReq::token)
        .property("data", &portal::event_req::EventReq::data);

    registration::class_<portal::detect_req::DetectReq>("talvern::portal::detect_req::DetectReq")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("sdpTraceId", &portal::detect_req::DetectReq::sdpTraceId)
        .property("type", &portal::detect_req::DetectReq::type)
        .property("lang", &portal::detect_req::DetectReq::lang)
        .property("guid", &portal::detect_req::DetectReq::guid)
        .property("addr", &portal::detect_req::DetectReq::addr)
        .property("token", &portal::detect_req::DetectReq::token);

    registration::class_<portal::ws_events_req::Data>("talvern::portal::ws_events_req::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("fromId", &portal::ws_events_req::Data::fromId)
        .property("pid", &portal::ws_events_req::Data::pid);
    registration::class_<portal::ws_events_req::WsEventsReq>("talvern::portal::ws_events_req::WsEventsReq")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("mode", &portal::ws_events_req::WsEventsReq::mode)
        .property("type", &portal::ws_events_req::WsEventsReq::type)
        .property("path", &portal::ws_events_req::WsEventsReq::path)
        .property("sdpTraceId", &portal::ws_events_req::WsEventsReq::sdpTraceId)
        .property("from", &portal::ws_events_req::WsEventsReq::from)
        .property("data", &portal::ws_events_req::WsEventsReq::data);

    registration::class_<portal::ws_general_req::WsGeneralReq>(
        "talvern::portal::ws_general_req::WsGeneralReq")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("mode", &portal::ws_general_req::WsGeneralReq::mode)
        .property("type", &portal::ws_general_req::WsGeneralReq::type)
        .property("path", &portal::ws_general_req::WsGeneralReq::path)
        .property("sdpTraceId", &portal::ws_general_req::WsGeneralReq::sdpTraceId)
        .property("from", &portal::ws_general_req::WsGeneralReq::from);

    registration::class_<portal::get_service_port_req::Data>("talvern::portal::get_service_port_req::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("serviceName", &portal::get_service_port_req::Data::serviceName);
    registration::class_<portal::get_service_port_req::GetServicePortReq>(
        "talvern::portal::get_service_port_req::GetServicePortReq")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("sdpTraceId", &portal::get_service_port_req::GetServicePortReq::sdpTraceId)
        .property("addr", &portal::get_service_port_req::GetServicePortReq::addr)
        .property("type", &portal::get_service_port_req::GetServicePortReq::type)
        .property("guid", &portal::get_service_port_req::GetServicePortReq::guid)
        .property("lang", &portal::get_service_port_req::GetServicePortReq::lang)
        .property("token", &portal::get_service_port_req::GetServicePortReq::token)
        .property("data", &portal::get_service_port_req::GetServicePortReq::data);

    registration::class_<portal::general_resp::GeneralResp>("talvern::portal::general_resp::GeneralResp")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("code", &portal::general_resp::GeneralResp::code)
        .property("message", &portal::general_resp::GeneralResp::message);

    registration::class_<portal::event_resp::Data>("talvern::portal::event_resp::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("id", &portal::event_resp::Data::id);
    registration::class_<portal::event_resp::EventResp>("talvern::portal::event_resp::EventResp")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("code", &portal::event_resp::EventResp::code)
        .property("message", &portal::event_resp::EventResp::message)
        .property("data", &portal::event_resp::EventResp::data);

    registration::class_<portal::detect_resp::Data>("talvern::portal::detect_resp::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("pubkey", &portal::detect_resp::Data::pubkey);
    registration::class_<portal::detect_resp::DetectResp>("talvern::portal::detect_resp::DetectResp")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("code", &portal::detect_resp::DetectResp::code)
        .property("message", &portal::detect_resp::DetectResp::message)
        .property("data", &portal::detect_resp::DetectResp::data);

    registration::class_<portal::get_service_port_resp::Data>("talvern::portal::get_service_port_resp::Data")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("addr", &portal::get_service_port_resp::Data::addr)
        .property("port", &portal::get_service_port_resp::Data::port);
    registration::class_<portal::get_service_port_resp::GetServicePortResp>(
        "talvern::portal::get_service_port_resp::GetServicePortResp")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("code", &portal::get_service_port_resp::GetServicePortResp::code)
        .property("message", &portal::get_service_port_resp::GetServicePortResp::message)
        .property("data", &portal::get_service_port_resp::GetServicePortResp::data);

    registration::class_<feature::Plugins>("talvern::common::plugins_feature::Plugins")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("name", &feature::Plugins::name)
        .property("md5", &feature::Plugins::md5)
        .property("fileSize", &feature::Plugins::fileSize);
    registration::class_<feature::PluginsFeature>("talvern::common::plugins_feature::PluginsFeature")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("plugins", &feature::PluginsFeature::plugins)
        .property("sign", &feature::PluginsFeature::sign);
}

namespace talvern::portal::detail {

// Referenced by the encoder so that linking the encoder always links these registrations.
void linkPortalRecords() {}

}  // namespace talvern::portal::detail
