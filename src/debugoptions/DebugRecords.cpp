#include "debugoptions/DebugRecords.h"

#include <rttr/registration>

RTTR_REGISTRATION {
    using rttr::registration;
    using rttr::value;

    registration::enumeration<talvern::Transport>("talvern::Transport")(
        value("all", talvern::Transport::all), value("tcp", talvern::Transport::tcp),
        value("pipe", talvern::Transport::pipe));
    registration::enumeration<talvern::EngineSpecification>("talvern::EngineSpecification")(
        value("all", talvern::EngineSpecification::all), value("skf", talvern::EngineSpecification::skf),
        value("pkcs11", talvern::EngineSpecification::pkcs11));

    registration::class_<talvern::Thrift>("talvern::Thrift")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("transport", &talvern::Thrift::transport);
    registration::class_<talvern::Ukey>("talvern::Ukey")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("engineSpecification", &talvern::Ukey::engineSpecification);
    registration::class_<talvern::Debug>("talvern::Debug")
        .constructor<>()(rttr::policy::ctor::as_object)
        .property("thrift", &talvern::Debug::thrift)
        .property("ukey", &talvern::Debug::ukey);
}

namespace talvern::detail {

// Referenced by SdpDebugOptions so that linking it always links these registrations.
void linkDebugRecords() {}

}  // namespace talvern::detail
