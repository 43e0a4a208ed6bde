// The capacities document built from the agent's description and the modules' capacity texts.

#include <gtest/gtest.h>

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
