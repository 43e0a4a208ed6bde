#pragma once

// A private directory for one fuzz process: the agent's data, runtime and shared directories point into
// it, and the main logger writes there at every level, so every log call formats what an input put in it
// and nothing reaches the terminal or the user's files. Built on first use, removed at exit.

#include <filesystem>
#include <string>
#include <string_view>

namespace talvern::fuzz {

class FuzzSandbox {
public:
    static const FuzzSandbox& instance();

    const std::filesystem::path& path() const { return m_path; }
    /// Replaces the file at `relative` (directories made as needed) with the bytes; its path.
    std::string write(const std::string& relative, std::string_view bytes) const;

private:
    FuzzSandbox();
    std::filesystem::path m_path;
};

}  // namespace talvern::fuzz
