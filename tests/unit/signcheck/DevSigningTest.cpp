// The development build's own chain: keys made at build time, the root compiled in, and a library
// signed after link by okavel_sign_target(), with no extra trust anchors.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "signcheck/SignCheck.h"

namespace {

TEST(DevSigningTest, ModuleSignedAfterLinkIsAcceptedByTheCompiledInAnchorAndStillLoads) {
    if (!OKAVEL_DEV_CHAIN) {
        GTEST_SKIP() << "the build signs or trusts with material other than the development keys";
    }
    ::unsetenv("OKAVEL_TRUST_ANCHORS");
    EXPECT_TRUE(talvern::signCheck::windows::hasTalvernSignA(OKAVEL_SIGNED_MODULE));

    void* handle = ::dlopen(OKAVEL_SIGNED_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto answer = reinterpret_cast<int (*)()>(::dlsym(handle, "okavelSignedModuleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    ::dlclose(handle);
}

}  // namespace
