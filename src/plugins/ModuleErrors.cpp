#include "plugins/ModuleErrors.h"

namespace talvern::details {

std::string module_category::message(int code) const {
    switch (code) {
        case 1:
            return "lack of constructor";
        case 2:
            return "lack of destructor";
        case 3:
            return "interface type mismatched";
        case 4:
            return "library has loaded";
        default:
            return "unknown error";
    }
}

std::string module_load_error_category::message(int code) const {
    return code == -1 ? "dll signature verification failed or was filtered" : "Unknown error";
}

const std::error_category& moduleCategory() {
    static const module_category category;
    return category;
}

const std::error_category& moduleLoadErrorCategory() {
    static const module_load_error_category category;
    return category;
}

std::error_code make_error_code(module_errc code) { return {static_cast<int>(code), moduleCategory()}; }

std::error_code make_error_code(module_load_errc code) {
    return {static_cast<int>(code), moduleLoadErrorCategory()};
}

}  // namespace talvern::details
