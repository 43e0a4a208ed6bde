#pragma once

// Texts compiled in at build time (sources generated from the files named by the CMake cache
// variables OKAVEL_TRUST_ANCHOR_BUNDLE and OKAVEL_FEATURE_LIST_PUBLIC_KEY).
namespace talvern::signCheck::embedded {

/// PEM certificates trusted as code-signing roots.
const char* trustAnchorBundlePem();

/// The PEM public key (SubjectPublicKeyInfo) that verifies the plug-in feature list.
const char* featureListPublicKeyPem();

}  // namespace talvern::signCheck::embedded
