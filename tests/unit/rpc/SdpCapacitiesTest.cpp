// The capacities document built from the agent's description and the modules' capacity texts.

#include <gtest/gtest.h>

#include <stdexcept>

#include "rpc/SdpCapacities.h"
#include "rpc/SdpCapacitiesService.h"
#include "support/LogCapture.h"

using talvern::SdpCapacities;
using talvern::SdpCapacitiesService;

namespace {
const std::string kAgent =
    R"({"name":"oKavelAgent","version":"2.3.10.73","custom":{"code":"","version":""},"description":"First release"})";
}

TEST(SdpCapacities, WithoutAValidModuleTheDocumentIsTheAgentAloneAndCompact) {
    for (const auto& modules :
         {std::vector<std::string>{}, std::vector<std::string>{"{", R"({"name":"x"})"}}) {
        SdpCapacities capacities;
        capacities.updateSubCapacities(modules);
        EXPECT_EQ(capacities.text(), kAgent);
    }
    std::string out;
    SdpCapacitiesService service;
    service.getCapacities(out);
    EXPECT_EQ(out, kAgent);
    EXPECT_TRUE(service.IsRpcStatusNormal());
}

TEST(SdpCapacities, ValidModulesAppearWholeUnderDependencyInOrderAndInvalidOnesAreLogged) {
    talvern::test::LogCapture log;
    SdpCapacities capacities;
    capacities.updateSubCapacities({
        R"({"name":"vpn","version":"1.0","features":["a","b"],"extra":{"x":1}})",
        "not json",
        R"({"name":"noversion"})",
        R"(["name","version"])",
        R"({ "version" : "2", "name" : "dns" })",
    });
    EXPECT_EQ(capacities.text(),
              kAgent.substr(0, kAgent.size() - 1) +
                  R"(,"dependency":[{"name":"vpn","version":"1.0","features":["a","b"],"extra":{"x":1}},)"
                  R"({"version":"2","name":"dns"}]})");
    EXPECT_TRUE(log.contains("Parser submodule of oKavelAgent.exe capability error. content: not json"));
    EXPECT_EQ(log.count("The module capacity is lack of the key of 'name' or 'version'."), 2);
}
