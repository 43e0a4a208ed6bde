#pragma once

// Appends (or replaces) the maker's signature on a file: used by the okavel-sign tool and by tests.

#include <ctime>
#include <optional>
#include <string>
#include <system_error>

namespace talvern::signCheck {

// Every member has an initialiser, so that callers may name only the ones they set.
struct SignOptions {
    std::string certificatePath{};  ///< PEM signer certificate
    std::string keyPath{};          ///< PEM private key of that certificate
    std::string chainPath{};        ///< optional PEM intermediates to carry in the signature
    /// The signing-time attribute; now when not given.
    std::optional<std::time_t> signingTime{};
};

/// Signs path in place: its content (without any signature it already carries) followed by a detached
/// CMS SignedData (SHA-256, with a signing-time attribute), its length and the magic. The file is
/// replaced atomically and keeps its permissions. False with the reason (ec and a readable detail).
bool signFile(const std::string& path, const SignOptions& options, std::error_code& ec, std::string& detail);

/// Removes the signature of path in place; true when the file ends unsigned (also when it was).
bool stripSignature(const std::string& path, std::error_code& ec, std::string& detail);

}  // namespace talvern::signCheck
