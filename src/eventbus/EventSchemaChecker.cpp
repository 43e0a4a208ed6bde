#include "eventbus/EventSchemaChecker.h"

#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/schema.h>
#include <rapidjson/stringbuffer.h>

#include <mutex>
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

// A parsed schema with one validator and reader kept for reuse: checking then allocates nothing once the
// validator's stacks have grown to the usual event size.
struct EventSchemaChecker::Schema {
    explicit Schema(const rapidjson::Document& document) : schema(document), validator(schema) {}
    rapidjson::SchemaDocument schema;
    std::mutex mutex;  // guards the validator and the reader, which keep state between calls
    rapidjson::SchemaValidator validator;
    rapidjson::Reader reader;
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
    static const std::string kEmptyObject = "{}";
    const std::string& text = content.empty() ? kEmptyObject : content;
    auto found = m_schemas.find(name);
    if (found == m_schemas.end()) {
        throwIfNotJson(text);
        throw std::runtime_error("not found key: " + name);
    }
    Schema& schema = *found->second;
    std::lock_guard<std::mutex> lock(schema.mutex);
    // Parse and validate in one pass, without building a document.
    schema.validator.Reset();
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    if (schema.reader.Parse(input, schema.validator)) {
        return;
    }
    if (schema.validator.IsValid()) {
        throw std::system_error(static_cast<int>(schema.reader.GetParseErrorCode()), jsonchecker_category());
    }
    // The validator stopped the parse: a syntax error further on still counts first.
    throwIfNotJson(text);
    throw std::runtime_error(
        "Invalid schema: " + pointerText(schema.validator.GetInvalidSchemaPointer()) + "\r\n" +
        "Invalid keyword: " + schema.validator.GetInvalidSchemaKeyword() + "\r\n" +
        "Invalid document: " + pointerText(schema.validator.GetInvalidDocumentPointer()) + "\r\n");
}

void EventSchemaChecker::throwIfNotJson(const std::string& text) {
    rapidjson::Reader reader;
    rapidjson::BaseReaderHandler<> ignore;
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    if (!reader.Parse(input, ignore)) {
        throw std::system_error(static_cast<int>(reader.GetParseErrorCode()), jsonchecker_category());
    }
}

}  // namespace talvern::eventbus
