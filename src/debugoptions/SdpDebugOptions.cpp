#include "debugoptions/SdpDebugOptions.h"

#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/schema.h>

#include <iostream>
#include <system_error>

#include "log/Check.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "portal/Json.h"
#include "support/ReadFile.h"

namespace talvern {
namespace {

constexpr const char* kTag = "SdpDebugOptions";
constexpr const char* kRelativePath = "var/conf/debug.json";

constexpr const char* kDebugJson = R"json({
    "$schema": "./debug.schema.json",
    "thrift": {
        "transport": "all"
    },
    "ukey": {
        "engineSpecification": "all"
    }
})json";

constexpr const char* kSchemaJson = R"json({
    "type": "object",
    "title": "empty object",
    "properties": {
        "thrift": {
            "type": "object",
            "properties": {
                "transport": {
                    "type": "string",
                    "enum": ["all", "tcp", "pipe"]
                }
            }
        },
        "ukey": {
            "type": "object",
            "properties": {
                "engineSpecification": {
                    "type": "string",
                    "enum": ["all", "skf", "pkcs11"]
                }
            }
        }
    }
})json";

// The compiled schema is immutable; each validation uses its own validator.
const rapidjson::SchemaDocument& schema() {
    static const rapidjson::SchemaDocument compiled = [] {
        rapidjson::Document document;
        document.Parse(kSchemaJson);
        return rapidjson::SchemaDocument(document);
    }();
    return compiled;
}

// The options are two levels deep; a file nested far deeper is refused before validation, whose cost
// grows with the square of the depth.
constexpr int kMaxNesting = 128;

// Counts the nesting of a SAX stream and stops it past kMaxNesting.
struct NestingLimit : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NestingLimit> {
    int depth = 0;
    bool Default() { return true; }
    bool StartObject() { return ++depth <= kMaxNesting; }
    bool EndObject(rapidjson::SizeType) {
        --depth;
        return true;
    }
    bool StartArray() { return ++depth <= kMaxNesting; }
    bool EndArray(rapidjson::SizeType) {
        --depth;
        return true;
    }
};

bool withinNestingLimit(const std::string& text) {
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    rapidjson::Reader reader;
    NestingLimit handler;
    return !reader.Parse<rapidjson::kParseIterativeFlag>(input, handler).IsError();
}

// True when the text is JSON that satisfies the built-in schema. Parsing and validation are iterative,
// so a deeply nested file cannot exhaust the stack.
bool satisfiesSchema(const std::string& text) {
    if (!withinNestingLimit(text)) {
        return false;
    }
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    rapidjson::SchemaValidatingReader<rapidjson::kParseIterativeFlag, decltype(input), rapidjson::UTF8<>>
        reader(input, schema());
    rapidjson::Document document;
    document.Populate(reader);
    return !reader.GetParseResult().IsError() && reader.IsValid();
}

}  // namespace

const char* SdpDebugOptions::builtInDebugJson() { return kDebugJson; }
const char* SdpDebugOptions::builtInSchemaJson() { return kSchemaJson; }

SdpDebugOptions& SdpDebugOptions::shared() {
    static SdpDebugOptions instance([] {
        std::string dir;
        std::error_code ec;
        if (!platform::sharedDataDir(dir, ec)) {
            std::cerr << "getSharedDataPath fail,error:" << ec.message() << std::endl;
            dir.clear();
        }
        return dir;
    }());
    return instance;
}

SdpDebugOptions::SdpDebugOptions(const std::string& sharedDataDir)
    : m_filePath(sharedDataDir + kRelativePath), m_options(std::make_shared<Debug>()) {
    detail::linkDebugRecords();

    const bool ok = satisfiesSchema(kDebugJson);
    OKV_ENSURE(ok, "Default debug configuration is illegal please check the built-in debug.json file ");

    Debug defaults;
    if (!portal::from_json(kDebugJson, defaults)) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "Serialization the built-in debug.json failure",
                          "The preable ensuer examination may be disabled ");
    }
    *m_options = defaults;

    std::string content;
    std::error_code ec;
    if (!utilities::readWholeFile(m_filePath, content, ec)) {
        OKV_LOG_TAG_INFO(kTag,
                         "The '{}' file does not exist and USES the default configuration, the using "
                         "options is: {}",
                         m_filePath, portal::to_json(defaults));
        return;
    }
    if (content.empty()) {
        OKV_LOG_TAG_INFO(kTag,
                         "The debug.json file content is empty and the default configuration is used, the "
                         "using options is: {}",
                         portal::to_json(defaults));
        return;
    }
    OKV_LOG_TAG_DEBUG(kTag, "debug config file content:{}", content);

    if (!satisfiesSchema(content)) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}",
                         fmt::format("Read the debug configuration format error from the file '{}', the "
                                     "using options is:",
                                     m_filePath),
                         "Please check the debug.json file with debug.schema.json");
        return;
    }
    Debug fromFile = defaults;
    const bool parsed = portal::from_json(content, fromFile);
    *m_options = fromFile;
    OKV_LOG_TAG_INFO(kTag,
                     "Parsing the external debugging configuration {} from '{}', the using options is: {}",
                     parsed ? "successfully" : "failure", m_filePath, portal::to_json(fromFile));
}

std::shared_ptr<Debug> SdpDebugOptions::operator()() const { return std::make_shared<Debug>(*m_options); }

}  // namespace talvern
