#pragma once

// The debug options record: switches for support and testing. Registered for reflection in
// DebugRecords.cpp, so portal/Json.h writes and reads it (enumerations by name).

namespace talvern {

/// Which RPC transport the bus client tries first ("all": the last one that worked).
enum class Transport { all = 0, tcp = 1, pipe = 2 };

/// Which USB-key engine family other components may use.
enum class EngineSpecification { all = 0, skf = 1, pkcs11 = 2 };

struct Thrift {
    Transport transport = Transport::all;
};

struct Ukey {
    EngineSpecification engineSpecification = EngineSpecification::all;
};

struct Debug {
    Thrift thrift;
    Ukey ukey;
};

namespace detail {
void linkDebugRecords();
}

}  // namespace talvern
