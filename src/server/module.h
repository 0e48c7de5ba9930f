// This library's module instance, stored when the process attaches.
#pragma once

#include <windows.h>

namespace plume {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// A reference on this library for a thread that may outlive its unloading
// (a call that returns late still has code to return to). Null when the
// code is part of the program itself (the tests). The thread lets go with
// FreeLibraryAndExitThread.
inline HMODULE HoldLibrary() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HoldLibrary), &module);
    return module == GetModuleHandleW(nullptr) ? nullptr : module;
}

}  // namespace plume
