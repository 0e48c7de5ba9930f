#include "fault_site.h"

#include <algorithm>

namespace plume {
namespace {

HMODULE ModuleAt(DWORD64 address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const char*>(address), &module);
    return module;
}

}  // namespace

std::vector<HMODULE> FaultModules(const EXCEPTION_POINTERS* fault, int frames) {
    std::vector<HMODULE> modules;
    if (!fault || !fault->ExceptionRecord) return modules;
    auto add = [&](DWORD64 address) {
        HMODULE module = ModuleAt(address);
        if (module && std::find(modules.begin(), modules.end(), module) == modules.end()) modules.push_back(module);
    };
    add(reinterpret_cast<DWORD64>(fault->ExceptionRecord->ExceptionAddress));
    if (!fault->ContextRecord) return modules;
    CONTEXT context = *fault->ContextRecord;
    for (int i = 0; i < frames && context.Rip; ++i) {
        DWORD64 base = 0;
        RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData, &establisher,
                             nullptr);
        } else {
            // A leaf function: its return address is on top of the stack.
            if (!context.Rsp) break;
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
        }
        if (context.Rip) add(context.Rip);
    }
    return modules;
}

bool IsFatalFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
        return true;
    default:
        return false;
    }
}

}  // namespace plume
