#pragma once

// The generic JSON encoder of reflected records. Any record registered with the reflection library
// (the portal messages, the plug-in feature list, the debug options) is written and read by walking
// its registered properties; no record carries JSON code of its own.
//
//     talvern::portal::event_resp::EventResp reply;
//     std::string text = talvern::portal::to_json(reply);    // {"code":0,"message":"","data":{"id":0}}
//     talvern::portal::from_json(text, reply);

#include <rttr/type>

#include <memory>
#include <string>

namespace talvern::portal {

/// Compact JSON text of the record the instance refers to (object, pointer or wrapper such as
/// std::shared_ptr); keys in registration order. An instance that refers to nothing gives "".
/// A property that cannot be written is reported on standard error; a wholesale failure gives "".
std::string to_json(rttr::instance obj);

/// Fills the record from JSON text: every property whose key is present and whose value converts.
/// Returns false, leaving the record unchanged, when the text is not JSON. Keys without a property
/// are ignored; a root that is not an object fills nothing. Never throws.
bool from_json(const std::string& json, rttr::instance obj);

/// Pointers are checked here: the reflection library must never be handed a null pointer or an
/// empty shared pointer (it would look through it). Either refers to nothing and gives "" / false.
template <typename T>
std::string to_json(T* record) {
    return record != nullptr ? to_json(rttr::instance(*record)) : std::string();
}
template <typename T>
std::string to_json(const std::shared_ptr<T>& record) {
    return record ? to_json(rttr::instance(*record)) : std::string();
}
template <typename T>
bool from_json(const std::string& json, T* record) {
    return record != nullptr && from_json(json, rttr::instance(*record));
}
template <typename T>
bool from_json(const std::string& json, const std::shared_ptr<T>& record) {
    return record && from_json(json, rttr::instance(*record));
}

namespace detail {
void linkPortalRecords();
}

}  // namespace talvern::portal
