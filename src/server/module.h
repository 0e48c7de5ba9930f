// This library's module instance, stored when the process attaches.
#pragma once

#include <windows.h>

namespace plume {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

}  // namespace plume
