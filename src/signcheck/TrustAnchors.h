#pragma once

#include <string>

#include "signcheck/OpenSsl.h"

namespace talvern::signCheck {

/// The environment variable naming an extra PEM bundle of trust anchors.
inline constexpr const char* kTrustAnchorsVariable = "OKAVEL_TRUST_ANCHORS";

/// The code-signing trust store: the bundle compiled in at build time plus $OKAVEL_TRUST_ANCHORS.
/// An unreadable extra bundle is logged and skipped. Null (with a description) when no anchor at all
/// could be loaded.
X509StorePtr loadTrustAnchors(std::string& problem);

/// Adds every certificate of a PEM text to store; returns how many were added.
int addPemCertificates(X509_STORE* store, const std::string& pem);

}  // namespace talvern::signCheck
