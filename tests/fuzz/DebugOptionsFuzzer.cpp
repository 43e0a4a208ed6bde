// Feeds arbitrary text to the debug-options file. Whatever it holds, the options in force are usable
// (known enumeration values), and the options written back as a file read into the same options.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "debugoptions/SdpDebugOptions.h"
#include "harness/FuzzSandbox.h"
#include "portal/Json.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string optionsFrom(const std::string& file) {
    const auto& sandbox = talvern::fuzz::FuzzSandbox::instance();
    sandbox.write("debug/var/conf/debug.json", file);
    talvern::SdpDebugOptions options((sandbox.path() / "debug/").string());
    const auto debug = options();
    require(debug != nullptr);
    require(debug->thrift.transport >= talvern::Transport::all &&
            debug->thrift.transport <= talvern::Transport::pipe);
    require(debug->ukey.engineSpecification >= talvern::EngineSpecification::all &&
            debug->ukey.engineSpecification <= talvern::EngineSpecification::pkcs11);
    return talvern::portal::to_json(debug);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string inForce = optionsFrom(std::string(reinterpret_cast<const char*>(data), size));
    require(!inForce.empty() && optionsFrom(inForce) == inForce);
    return 0;
}
