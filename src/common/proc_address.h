// Typed lookup of an exported function.
#pragma once

#include <windows.h>

namespace plume {

// The export `name` of `module` as a pointer of type F, or null.
template <typename F>
F GetProcAs(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace plume
