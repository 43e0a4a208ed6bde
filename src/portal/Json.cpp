#include "portal/Json.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <rttr/type>

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

namespace talvern::portal {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

// ---------------------------------------------------------------------------------------------
// Writing

void writeObject(const rttr::instance& object, Writer& writer);
bool writeValue(const rttr::variant& value, Writer& writer);

void writeKey(std::string_view key, Writer& writer) {
    writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()), true);
}

// The value as T when the variant holds exactly T. The common scalar types are read so rather than through
// the reflection library's conversions, which recognise only the library's own built-in types: a clang
// build names some of them differently from the g++ build of the library (the fuzz build is clang).
template <typename T, typename Write>
bool writeExact(const rttr::type& t, const rttr::variant& value, Write write) {
    if (t != rttr::type::get<T>()) {
        return false;
    }
    write(value.get_value<T>());
    return true;
}

// Numbers, booleans, enumerations and strings. False when the type is none of these.
bool writeAtomic(const rttr::type& t, const rttr::variant& value, Writer& writer) {
    if (writeExact<bool>(t, value, [&](bool v) { writer.Bool(v); }) ||
        writeExact<std::int32_t>(t, value, [&](std::int32_t v) { writer.Int(v); }) ||
        writeExact<std::int64_t>(t, value, [&](std::int64_t v) { writer.Int64(v); }) ||
        writeExact<std::uint32_t>(t, value, [&](std::uint32_t v) { writer.Uint(v); }) ||
        writeExact<std::uint64_t>(t, value, [&](std::uint64_t v) { writer.Uint64(v); }) ||
        writeExact<double>(t, value, [&](double v) { writer.Double(v); }) ||
        writeExact<std::string>(t, value, [&](const std::string& v) { writer.String(v); })) {
        return true;
    }
    if (t.is_arithmetic()) {
        if (t == rttr::type::get<char>()) {
            writer.Bool(value.to_bool());
        } else if (t == rttr::type::get<std::int8_t>() || t == rttr::type::get<std::int16_t>()) {
            writer.Int(value.to_int32());
        } else if (t == rttr::type::get<std::uint8_t>() || t == rttr::type::get<std::uint16_t>()) {
            writer.Uint(value.to_uint32());
        } else {
            // float and any other arithmetic type the compiler knows (long long, long double ...)
            writer.Double(value.to_double());
        }
        return true;
    }
    if (t.is_enumeration()) {
        const rttr::string_view name = t.get_enumeration().value_to_name(value);
        if (!name.empty()) {
            writer.String(name.data(), static_cast<rapidjson::SizeType>(name.size()));
            return true;
        }
        bool ok = false;
        std::uint64_t number = value.to_uint64(&ok);
        if (ok) {
            writer.Uint64(number);
        } else {
            writer.Null();
        }
        return true;
    }
    return false;
}

bool isAtomic(const rttr::type& t) {
    return t.is_arithmetic() || t.is_enumeration() || t == rttr::type::get<std::string>();
}

void writeSequence(const rttr::variant_sequential_view& view, Writer& writer) {
    writer.StartArray();
    for (const auto& item : view) {
        if (item.is_sequential_container()) {
            writeSequence(item.create_sequential_view(), writer);
            continue;
        }
        rttr::variant element = item.extract_wrapped_value();
        rttr::type elementType = element.get_type();
        if (isAtomic(elementType)) {
            writeAtomic(elementType, element, writer);
        } else {
            writeObject(element, writer);
        }
    }
    writer.EndArray();
}

void writeAssociative(const rttr::variant_associative_view& view, Writer& writer) {
    writer.StartArray();
    if (view.is_key_only_type()) {
        for (const auto& item : view) {
            writeValue(item.first, writer);
        }
    } else {
        for (const auto& item : view) {
            writer.StartObject();
            writeKey("key", writer);
            writeValue(item.first, writer);
            writeKey("value", writer);
            writeValue(item.second, writer);
            writer.EndObject();
        }
    }
    writer.EndArray();
}

// False when the value could only be written as a failed text conversion.
bool writeValue(const rttr::variant& value, Writer& writer) {
    rttr::type valueType = value.get_type();
    const bool wrapped = valueType.is_wrapper();
    rttr::type plainType = wrapped ? valueType.get_wrapped_type() : valueType;
    rttr::variant plain = wrapped ? value.extract_wrapped_value() : value;

    if (writeAtomic(plainType, plain, writer)) {
        return true;
    }
    if (value.is_sequential_container()) {
        writeSequence(value.create_sequential_view(), writer);
        return true;
    }
    if (value.is_associative_container()) {
        writeAssociative(value.create_associative_view(), writer);
        return true;
    }
    if (!plainType.get_properties().empty()) {
        writeObject(plain, writer);
        return true;
    }
    bool ok = false;
    std::string text = value.to_string(&ok);
    writer.String(text);
    return ok;
}

rttr::instance unwrap(const rttr::instance& object) {
    return object.get_type().get_raw_type().is_wrapper() ? object.get_wrapped_instance() : object;
}

void writeObject(const rttr::instance& wrappedObject, Writer& writer) {
    writer.StartObject();
    rttr::instance object = unwrap(wrappedObject);
    for (const auto& property : object.get_derived_type().get_properties()) {
        if (property.get_metadata("NO_SERIALIZE")) {
            continue;
        }
        rttr::variant value = property.get_value(object);
        if (!value) {
            continue;
        }
        const auto name = property.get_name();
        writeKey(std::string_view(name.data(), name.size()), writer);
        if (!writeValue(value, writer)) {
            std::cerr << "cannot serialize property: " << name << std::endl;
        }
    }
    writer.EndObject();
}

// ---------------------------------------------------------------------------------------------
// Reading

void fillObject(rttr::instance object, rapidjson::Value& json);

// A JSON scalar as the nearest C++ value; objects, arrays and null give an empty variant.
rttr::variant takeScalar(const rapidjson::Value& json) {
    switch (json.GetType()) {
        case rapidjson::kStringType:
            return std::string(json.GetString(), json.GetStringLength());
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return json.GetBool();
        case rapidjson::kNumberType:
            if (json.IsInt()) {
                return json.GetInt();
            }
            if (json.IsDouble()) {
                return json.GetDouble();
            }
            if (json.IsUint()) {
                return json.GetUint();
            }
            if (json.IsInt64()) {
                return json.GetInt64();
            }
            if (json.IsUint64()) {
                return json.GetUint64();
            }
            return {};
        case rapidjson::kNullType:
        case rapidjson::kObjectType:
        case rapidjson::kArrayType:
            return {};
    }
    return {};
}

// The JSON value as T when it is exactly representable so (the value the library's conversion gives,
// without the conversion; see writeExact).
template <typename T, typename Is, typename Get>
bool takeExact(const rapidjson::Value& json, const rttr::type& target, Is is, Get get, rttr::variant& out) {
    if (target != rttr::type::get<T>() || !(json.*is)()) {
        return false;
    }
    out = static_cast<T>((json.*get)());
    return true;
}

// A JSON scalar as the target type; empty when it does not convert.
rttr::variant takeScalarAs(const rapidjson::Value& json, const rttr::type& target) {
    using V = rapidjson::Value;
    rttr::variant out;
    if (takeExact<bool>(json, target, &V::IsBool, &V::GetBool, out) ||
        takeExact<std::int32_t>(json, target, &V::IsInt, &V::GetInt, out) ||
        takeExact<std::int64_t>(json, target, &V::IsInt64, &V::GetInt64, out) ||
        takeExact<std::uint32_t>(json, target, &V::IsUint, &V::GetUint, out) ||
        takeExact<std::uint64_t>(json, target, &V::IsUint64, &V::GetUint64, out) ||
        takeExact<double>(json, target, &V::IsNumber, &V::GetDouble, out)) {
        return out;
    }
    if (target == rttr::type::get<std::string>() && json.IsString()) {
        return std::string(json.GetString(), json.GetStringLength());
    }
    if (target.is_enumeration() && json.IsString()) {
        out = target.get_enumeration().name_to_value(
            rttr::string_view(json.GetString(), json.GetStringLength()));
        if (out) {
            return out;
        }
    }
    out = takeScalar(json);
    return out.convert(target) ? out : rttr::variant();
}

// A scalar converted to the target type, or an object filled into a new instance of it.
rttr::variant takeValue(rapidjson::Value& json, const rttr::type& target) {
    if (rttr::variant value = takeScalarAs(json, target)) {
        return value;
    }
    if (!json.IsObject()) {
        return {};
    }
    rttr::variant created = target.create();
    if (!created || created.get_type() != target) {
        return {};
    }
    fillObject(created, json);
    return created;
}

// The sequence is rebuilt from the array: every element starts at its default, so nothing of the
// previous content leaks into entries the array describes only partly.
void fillSequence(rttr::variant_sequential_view& view, rapidjson::Value& array) {
    view.clear();
    view.set_size(array.Size());
    const rttr::type elementType = view.get_rank_type(1);
    for (rapidjson::SizeType i = 0; i < array.Size(); ++i) {
        rapidjson::Value& item = array[i];
        if (item.IsArray()) {
            // Only a nested sequence descends: the depth is bounded by the type, not by the text.
            rttr::variant nested = view.get_value(i);
            auto nestedView = nested.create_sequential_view();
            if (nestedView.is_valid()) {
                fillSequence(nestedView, item);
            }
        } else if (item.IsObject()) {
            rttr::variant element = view.get_value(i).extract_wrapped_value();
            fillObject(element, item);
            view.set_value(i, element);
        } else {
            if (rttr::variant element = takeScalarAs(item, elementType)) {
                view.set_value(i, element);
            }
        }
    }
}

void fillAssociative(rttr::variant_associative_view& view, rapidjson::Value& array) {
    for (rapidjson::SizeType i = 0; i < array.Size(); ++i) {
        rapidjson::Value& item = array[i];
        if (item.IsObject()) {
            auto key = item.FindMember("key");
            auto value = item.FindMember("value");
            if (key == item.MemberEnd() || value == item.MemberEnd()) {
                continue;
            }
            rttr::variant keyValue = takeValue(key->value, view.get_key_type());
            rttr::variant mappedValue = takeValue(value->value, view.get_value_type());
            if (keyValue && mappedValue) {
                view.insert(keyValue, mappedValue);
            }
        } else {
            if (rttr::variant keyValue = takeScalarAs(item, view.get_key_type())) {
                view.insert(keyValue);
            }
        }
    }
}

void fillObject(rttr::instance wrappedObject, rapidjson::Value& json) {
    if (!json.IsObject()) {
        return;
    }
    rttr::instance object = unwrap(wrappedObject);
    for (const auto& property : object.get_derived_type().get_properties()) {
        const auto name = property.get_name();
        rapidjson::Value key(
            rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size())));
        auto member = json.FindMember(key);
        if (member == json.MemberEnd()) {
            continue;
        }
        const rttr::type propertyType = property.get_type();
        if (!propertyType.is_valid()) {
            continue;
        }
        rapidjson::Value& value = member->value;
        switch (value.GetType()) {
            case rapidjson::kObjectType: {
                rttr::variant current = property.get_value(object);
                if (!current) {
                    break;
                }
                fillObject(current, value);
                property.set_value(object, current);
                break;
            }
            case rapidjson::kArrayType: {
                if (propertyType.is_sequential_container()) {
                    rttr::variant current = property.get_value(object);
                    auto view = current.create_sequential_view();
                    fillSequence(view, value);
                    property.set_value(object, current);
                } else if (propertyType.is_associative_container()) {
                    rttr::variant current = property.get_value(object);
                    auto view = current.create_associative_view();
                    fillAssociative(view, value);
                    property.set_value(object, current);
                }
                break;
            }
            case rapidjson::kNullType:
                break;
            default: {
                if (rttr::variant taken = takeScalarAs(value, propertyType)) {
                    property.set_value(object, taken);
                }
                break;
            }
        }
    }
}

}  // namespace

std::string to_json(rttr::instance obj) {
    detail::linkPortalRecords();
    try {
        if (!obj.is_valid() || !unwrap(obj).is_valid()) {
            return {};
        }
        rapidjson::StringBuffer buffer;
        Writer writer(buffer);
        writeObject(obj, writer);
        return std::string(buffer.GetString(), buffer.GetSize());
    } catch (...) {
        std::cerr << "Error: Unknow Exception in to_json" << std::endl;
        return {};
    }
}

bool from_json(const std::string& json, rttr::instance obj) {
    detail::linkPortalRecords();
    try {
        // The iterative parser accepts exactly the same texts but keeps its state on the heap, so
        // deeply nested input cannot exhaust the stack.
        rapidjson::Document document;
        if (document.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size()).HasParseError()) {
            return false;
        }
        fillObject(obj, document);
        return true;
    } catch (...) {
        std::cerr << "Error: Unknow Exception in from_json" << std::endl;
        return false;
    }
}

}  // namespace talvern::portal
