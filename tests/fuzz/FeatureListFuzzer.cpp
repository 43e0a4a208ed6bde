// Feeds arbitrary JSON to the plug-in feature list, as the file next to the agent. Each input is read
// twice: as it is (the signature check must hold) and signed with the build's list key, so that the
// decoder and the admission test of a plug-in see every shape a list can take. Whatever the signer
// accepts, the reader must accept too.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "controller/SdpAgentController.h"
#include "harness/FuzzSandbox.h"
#include "signcheck/JsonSignChk.h"

namespace {

struct Setup {
    Setup() {
        std::ifstream file(OKAVEL_FUZZ_FEATURE_LIST_KEY);
        std::stringstream key;
        key << file.rdbuf();
        privateKey = key.str();
        if (privateKey.empty()) {
            std::abort();
        }
        talvern::sdp::SdpOption option;
        option.enableEventBus = true;
        controller = std::make_shared<talvern::sdp::SdpAgentController>(option);
        plugin =
            talvern::fuzz::FuzzSandbox::instance().write("plugins/listed.so", "a plug-in the list names");
    }
    std::string privateKey;
    std::shared_ptr<talvern::sdp::SdpAgentController> controller;
    std::string plugin;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup* setup = new Setup();
    const auto& sandbox = talvern::fuzz::FuzzSandbox::instance();
    const std::string text(reinterpret_cast<const char*>(data), size);
    setup->controller->initPluginsFeature(sandbox.write("plugins_feature.json", text));
    std::string signedText;
    std::string reason;
    if (!talvern::JsonSignChk::jsonSign(text, setup->privateKey, size % 2 == 0, signedText, reason)) {
        return 0;
    }
    if (!setup->controller->initPluginsFeature(sandbox.write("plugins_feature.json", signedText))) {
        std::abort();
    }
    setup->controller->moduleLoadFilter(setup->plugin);
    return 0;
}
