#pragma once

#include <cstddef>

namespace talvern {

/// Results of getUniqueKey.
inline constexpr int kUniqueKeyOk = 0;
inline constexpr int kUniqueKeyBadBuffer = 1;    ///< no buffer, or shorter than 16
inline constexpr int kUniqueKeyNoMachineId = 2;  ///< no readable, non-empty machine id
inline constexpr int kUniqueKeyNoDigest = 3;     ///< the digest could not be computed

/// A key bound to this device and to `kind`: 16 lower-case hexadecimal characters of SHA-256 over
/// "okavel-device-key:" + kind + ":" + the machine id, written to `buffer` (zero-terminated when the
/// buffer has room for it). The machine id is the content of $OKAVEL_MACHINE_ID_FILE when that is set,
/// else of /etc/machine-id, else of /var/lib/dbus/machine-id, without trailing white space. Returns 0,
/// or one of the non-zero results above.
int getUniqueKey(char* buffer, std::size_t size, int kind);

}  // namespace talvern
