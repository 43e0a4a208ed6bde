#include <rapidjson/document.h>
#include <rapidjson/schema.h>

#include <gtest/gtest.h>

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

TEST(RouteSchemas, DetectWantsAClientAndAnHttpAddress) {
    const std::string& schema = talvern::sdp::v1::kDetectSchema;
    EXPECT_TRUE(
        accepts(schema, R"({"type":"web","lang":"en-US","guid":"g","addr":"https://p","token":"t"})"));
    EXPECT_FALSE(accepts(schema, R"({"type":"web","lang":"en-US","guid":"g","addr":"ftp://p","token":"t"})"));
    EXPECT_FALSE(
        accepts(schema, R"({"type":"tv","lang":"en-US","guid":"g","addr":"https://p","token":"t"})"));
    EXPECT_FALSE(accepts(schema, R"({"type":"web","lang":"en-US","addr":"https://p","token":"t"})"));
}

TEST(RouteSchemas, ServicePortWantsAServiceName) {
    const std::string& schema = talvern::sdp::v1::kGetServicePortSchema;
    const char* good =
        R"({"type":"cs","lang":"zh-CN","guid":"g","addr":"x","token":"t","data":{"serviceName":"s"}})";
    EXPECT_TRUE(accepts(schema, good));
    EXPECT_FALSE(
        accepts(schema, R"({"type":"cs","lang":"zh-CN","guid":"g","addr":"x","token":"t","data":{}})"));
}

TEST(RouteSchemas, EventsWantIntegerCursorAndTimeout) {
    const std::string& schema = talvern::sdp::v1::kServiceEventsSchema;
    EXPECT_TRUE(accepts(schema, R"({"type":"sdk","lang":"en-US","guid":"g","addr":"http://p","token":"t",
                                   "data":{"fromId":3,"timeout":10}})"));
    EXPECT_FALSE(accepts(schema, R"({"type":"sdk","lang":"en-US","guid":"g","addr":"http://p","token":"t",
                                    "data":{"fromId":"3","timeout":10}})"));
}
