// Forces the client variant for one test and asks the system again after it.
#pragma once

#include "client_variant.h"

namespace plume::test {

struct VariantScope {
    explicit VariantScope(bool windowsMail) { SetWindowsMailForTesting(windowsMail ? 1 : 0); }
    ~VariantScope() { SetWindowsMailForTesting(-1); }
    VariantScope(const VariantScope&) = delete;
    VariantScope& operator=(const VariantScope&) = delete;
};

}  // namespace plume::test
