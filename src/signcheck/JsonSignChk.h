#pragma once

// JSON documents that carry their own RSA signature: the member "sign" holds the Base64 RSA PKCS #1
// v1.5 SHA-256 signature of the document's compact serialisation without "sign" (no white space,
// members in their order of appearance).

#include <string>

namespace talvern::JsonSignChk {

/// True when the document's "sign" verifies under the program's compiled-in feature-list key.
bool jsonSignCheck(const std::string& text);

/// The same check under another public key (PEM SubjectPublicKeyInfo).
bool jsonSignCheck(const std::string& text, const std::string& publicKey);

/// The program's compiled-in feature-list public key (PEM).
std::string programPublicKey();

/// Signs a JSON object with a private key: removes any "sign", signs the compact serialisation of the
/// rest and appends "sign". The result is indented for people when pretty, compact otherwise. False with
/// a reason when the text is not a JSON object or the key cannot sign.
bool jsonSign(const std::string& text, const std::string& privateKey, bool pretty, std::string& signedText,
              std::string& reason);

}  // namespace talvern::JsonSignChk
