#pragma once

// The process-wide debug options: a built-in default document, overridden by the optional file
// "var/conf/debug.json" under the shared data directory when that file satisfies the built-in schema.
// Built once, never reloaded; every problem with the file falls back to the defaults with a log line
// under the tag "SdpDebugOptions".
//
//     if (talvern::SdpDebugOptions::shared()()->thrift.transport == talvern::Transport::pipe) { ... }

#include <memory>
#include <string>

#include "debugoptions/DebugRecords.h"

namespace talvern {

class SdpDebugOptions {
public:
    /// The single instance, reading the real file on first use.
    static SdpDebugOptions& shared();

    /// Reads "<sharedDataDir>var/conf/debug.json" (relative to the working directory when the directory
    /// is empty). For tests and for hosts with their own layout.
    explicit SdpDebugOptions(const std::string& sharedDataDir);

    SdpDebugOptions(const SdpDebugOptions&) = delete;
    SdpDebugOptions& operator=(const SdpDebugOptions&) = delete;

    /// The options in force.
    std::shared_ptr<Debug> operator()() const;

    /// The file that was looked at.
    const std::string& filePath() const { return m_filePath; }

    /// The built-in documents.
    static const char* builtInDebugJson();
    static const char* builtInSchemaJson();

private:
    std::string m_filePath;
    std::shared_ptr<Debug> m_options;
};

}  // namespace talvern
