#include "eventbus/EventSchemaChecker.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/schema.h>
#include <rapidjson/stringbuffer.h>

#include <stdexcept>

namespace talvern::eventbus {

namespace {

// The shape every bus event content is expected to have; only the log hears about deviations.
constexpr const char* kEventSchema = R"({
    "$schema": "http://json-schema.org/draft-04/schema#",
    "type": "object",
    "title": "empty object",
    "properties": {
        "event": {"type": "string"},
        "origin": {"type": "string"},
        "mirnguid": {"type": "string"},
        "data": {"type": "object", "properties": {}},
        "traceID": {"type": "string"}
    },
    "required": ["event"]
})";

class JsonCheckerCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "jsonchecker_category"; }
    std::string message(int code) const override {
        return rapidjson::GetParseError_En(static_cast<rapidjson::ParseErrorCode>(code));
    }
};

std::string pointerText(const rapidjson::Pointer& pointer) {
    rapidjson::StringBuffer buffer;
    pointer.Stringify(buffer);
    return buffer.GetString();
}

}  // namespace

const std::error_category& jsonchecker_category() {
    static const JsonCheckerCategory category;
    return category;
}

struct EventSchemaChecker::Schema {
    explicit Schema(const rapidjson::Document& document) : schema(document) {}
    rapidjson::SchemaDocument schema;
};

EventSchemaChecker::EventSchemaChecker() { addSchema("event", kEventSchema); }

EventSchemaChecker::~EventSchemaChecker() = default;

void EventSchemaChecker::addSchema(const std::string& name, const std::string& schemaText) {
    rapidjson::Document document;
    document.Parse(schemaText.c_str(), schemaText.size());
    if (document.HasParseError()) {
        throw std::runtime_error("the schema '" + name + "' does not parse: " +
                                 rapidjson::GetParseError_En(document.GetParseError()));
    }
    m_schemas[name] = std::make_unique<Schema>(document);
}

void EventSchemaChecker::check(const std::string& name, const std::string& content) const {
    const std::string& text = content.empty() ? std::string("{}") : content;
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError()) {
        throw std::system_error(static_cast<int>(document.GetParseError()), jsonchecker_category());
    }
    auto found = m_schemas.find(name);
    if (found == m_schemas.end()) {
        throw std::runtime_error("not found key: " + name);
    }
    rapidjson::SchemaValidator validator(found->second->schema);
    if (!document.Accept(validator)) {
        throw std::runtime_error("Invalid schema: " + pointerText(validator.GetInvalidSchemaPointer()) +
                                 "\r\n" + "Invalid keyword: " + validator.GetInvalidSchemaKeyword() + "\r\n" +
                                 "Invalid document: " + pointerText(validator.GetInvalidDocumentPointer()) +
                                 "\r\n");
    }
}

}  // namespace talvern::eventbus
