// Libraries that break the plug-in contract in one way each, chosen by BROKEN_KIND.
#include "talvern/IModule.h"

namespace {

class NotAModule : public talvern::IObject {};

}  // namespace

#if BROKEN_KIND != 1
extern "C" __attribute__((visibility("default"))) talvern::IObject* CreateInstance() {
    return new NotAModule();
}
#endif

#if BROKEN_KIND != 2
extern "C" __attribute__((visibility("default"))) void FreeInstance(talvern::IObject* object) {
    delete object;
}
#endif
