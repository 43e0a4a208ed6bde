#include <rapidjson/document.h>
#include <rapidjson/schema.h>

#include <gtest/gtest.h>

#include <tuple>

#include "web/v1/MessageHandlers.h"

namespace {

// True when body satisfies the schema text (which must itself be valid JSON).
bool accepts(const std::string& schemaText, const char* body) {
    rapidjson::Document schemaJson;
    EXPECT_FALSE(schemaJson.Parse(schemaText.c_str()).HasParseError()) << schemaText;
    rapidjson::SchemaDocument schema(schemaJson);
    rapidjson::SchemaValidator validator(schema);
    rapidjson::Document document;
    document.Parse(body);
    return !document.HasParseError() && document.Accept(validator);
}

}  // namespace

// Detect wants a known client and an HTTP address, the port look-up a service name, the events an
// integer cursor.
TEST(RouteSchemas, EachRouteRefusesWhatItsHandlerCannotUse) {
    namespace v1 = talvern::sdp::v1;
    const std::string head = R"({"lang":"en-US","guid":"g","token":"t",)";
    const std::tuple<const std::string&, std::string, bool> cases[] = {
        {v1::kDetectSchema, head + R"("type":"web","addr":"https://p"})", true},
        {v1::kDetectSchema, head + R"("type":"web","addr":"ftp://p"})", false},
        {v1::kDetectSchema, head + R"("type":"tv","addr":"https://p"})", false},
        {v1::kDetectSchema, R"({"type":"web","lang":"en-US","addr":"https://p","token":"t"})", false},
        {v1::kGetServicePortSchema, head + R"("type":"cs","addr":"x","data":{"serviceName":"s"}})", true},
        {v1::kGetServicePortSchema, head + R"("type":"cs","addr":"x","data":{}})", false},
        {v1::kServiceEventsSchema,
         head + R"("type":"sdk","addr":"http://p","data":{"fromId":3,"timeout":10}})", true},
        {v1::kServiceEventsSchema,
         head + R"("type":"sdk","addr":"http://p","data":{"fromId":"3","timeout":10}})", false},
    };
    for (const auto& [schema, body, ok] : cases) {
        EXPECT_EQ(accepts(schema, body.c_str()), ok) << body;
    }
}
