#include "harness/FuzzSandbox.h"

#include <cstdlib>
#include <fstream>

#include "log/Logger.h"

namespace talvern::fuzz {

namespace {
std::filesystem::path& sandboxPath() {
    static std::filesystem::path path;
    return path;
}
void removeSandbox() {
    std::error_code ec;
    std::filesystem::remove_all(sandboxPath(), ec);
}
}  // namespace

const FuzzSandbox& FuzzSandbox::instance() {
    // Never destroyed: threads of the agent may still log while the process exits.
    static const FuzzSandbox* sandbox = new FuzzSandbox();
    return *sandbox;
}

FuzzSandbox::FuzzSandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "okavel-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    m_path = pattern;
    sandboxPath() = m_path;
    std::atexit(removeSandbox);
    for (const char* name : {"XDG_DATA_HOME", "OKAVEL_SHARED_DATA_DIR", "OKAVEL_RUNTIME_DIR"}) {
        std::filesystem::create_directories(m_path / name);
        ::setenv(name, (m_path / name).c_str(), 1);
    }
    LoggerOptions options;
    options.filePath = (m_path / "fuzz.log").string();
    options.level = 0;
    options.flushEveryLine = false;
    options.debugMarkPath.clear();
    Logger::GetInstance().setOptions(options);
}

std::string FuzzSandbox::write(const std::string& relative, std::string_view bytes) const {
    const std::filesystem::path file = m_path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<long>(bytes.size()));
    return file.string();
}

}  // namespace talvern::fuzz
