// Where a fault happened: the modules of the faulting code and of its
// callers, for naming the plug-in a crash belongs to.
#pragma once

#include <windows.h>

#include <vector>

namespace plume {

// The module of the faulting address first, then those of up to
// `frames` callers (unwound from the fault's context), without repeats.
// Safe to call from an exception filter.
std::vector<HMODULE> FaultModules(const EXCEPTION_POINTERS* fault, int frames = 32);

// True for the exceptions that end a process when nothing handles them and
// that no program raises on purpose (access violations and the like).
bool IsFatalFault(DWORD code);

}  // namespace plume
