#include "plugins/ModuleBroker.h"

#include <dlfcn.h>

#include <boost/dll/shared_library.hpp>

#include <iostream>

#include "plugins/ModuleErrors.h"
#include "talvern/IModule.h"

namespace talvern {
namespace {

// The library of one module and its two exports. Destroying the loader unloads the library.
struct ModuleLoader_ {
    boost::dll::shared_library library;
    TalvernCreateInstanceFn createInstance = nullptr;
    TalvernFreeInstanceFn freeInstance = nullptr;
};

// Frees the module through its own library, then lets the library go.
struct ModuleDeleter {
    std::shared_ptr<ModuleLoader_> loader;
    IObject* object;

    void operator()(IModule*) {
        if (loader) {
            loader->freeInstance(object);
            loader.reset();
        }
    }
};

}  // namespace

const std::error_category& moduleLoadErrorCategoryRef() { return details::moduleLoadErrorCategory(); }

std::shared_ptr<IModule> loadModuleLibrary(const std::string& path, std::error_code& ec) {
    ec.clear();
    auto loader = std::make_shared<ModuleLoader_>();
    if (loader->library.is_loaded()) {
        ec = details::make_error_code(details::module_errc::already_loaded);
        return nullptr;
    }
    boost::system::error_code loadEc;
    ::dlerror();  // the loader's message must be this load's
    loader->library.load(path, boost::dll::load_mode::default_mode, loadEc);
    if (loadEc) {
        // The library wrapper only says "bad file descriptor"; the loader knows what is wrong.
        const char* reason = ::dlerror();
        ec = reason != nullptr ? details::makeLoaderError(reason)
                               : std::error_code(loadEc.value(), std::system_category());
        std::cerr << path << "  error: " << ec.message() << std::endl;
        return nullptr;
    }
    if (!loader->library.has("CreateInstance")) {
        ec = details::make_error_code(details::module_errc::lack_of_constructor);
        return nullptr;
    }
    if (!loader->library.has("FreeInstance")) {
        ec = details::make_error_code(details::module_errc::lack_of_destructor);
        return nullptr;
    }
    loader->createInstance = loader->library.get<IObject*()>("CreateInstance");
    loader->freeInstance = loader->library.get<void(IObject*)>("FreeInstance");
    IObject* object = loader->createInstance();
    auto* module = dynamic_cast<IModule*>(object);
    if (module == nullptr) {
        if (object != nullptr) {
            loader->freeInstance(object);
        }
        ec = details::make_error_code(details::module_errc::interface_mismatch);
        return nullptr;
    }
    return std::shared_ptr<IModule>(module, ModuleDeleter{std::move(loader), object});
}

}  // namespace talvern
