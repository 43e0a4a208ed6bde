// Feeds arbitrary text to the signed-JSON check (the plug-in feature list is read from disk).

#include <cstddef>
#include <cstdint>
#include <string>

#include "signcheck/JsonSignChk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvern::JsonSignChk::jsonSignCheck(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
