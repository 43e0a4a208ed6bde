#pragma once

#include <functional>
#include <memory>
#include <string>
#include <system_error>

namespace talvern {

class IModule;

/// Loads one plug-in library and creates its module; an empty pointer with the reason on failure.
std::shared_ptr<IModule> loadModuleLibrary(const std::string& path, std::error_code& ec);

/// The category of a refused path (code -1: "dll signature verification failed or was filtered").
const std::error_category& moduleLoadErrorCategoryRef();

/// Holds at most one module loaded from a plug-in library. The library stays loaded exactly as long as
/// its module is referenced; copies of a broker share the module.
template <class Module>
class ModuleBroker {
public:
    using ResultCallback = std::function<void(const std::error_code&, const std::string&)>;
    using Filter = std::function<bool(const std::string&)>;

    ModuleBroker() = default;
    /// A broker of a module that is already loaded.
    explicit ModuleBroker(std::shared_ptr<Module> module) : m_module(std::move(module)) {}

    /// Loads path into this broker unless filter refuses it; onResult hears once about the path.
    void prepare(const std::string& path, ResultCallback onResult, Filter filter);

    const std::shared_ptr<Module>& module() const { return m_module; }
    explicit operator bool() const { return m_module != nullptr; }

private:
    std::shared_ptr<Module> m_module;
};

template <class Module>
void ModuleBroker<Module>::prepare(const std::string& path, ResultCallback onResult, Filter filter) {
    std::error_code ec;
    if (filter && !filter(path)) {
        ec = std::error_code(-1, moduleLoadErrorCategoryRef());
        if (onResult) {
            onResult(ec, path);
        }
        return;
    }
    std::shared_ptr<Module> module = loadModuleLibrary(path, ec);
    if (onResult) {
        onResult(ec, path);
    }
    if (!ec) {
        m_module = std::move(module);
    }
}

}  // namespace talvern
