// Turning errors raised inside automation methods into HRESULTs with COM
// error information.
#pragma once

#include <windows.h>
#include <new>
#include <stdexcept>

#include "com_error.h"

namespace plume {

// Sets the thread's error information: description, source and interface.
void SetErrorInfoFor(HRESULT hr, const wchar_t* description, const char* source, const IID& iid);

// Maps the exception in flight (call only inside a catch block) to its
// HRESULT and sets error information with `source` and `iid`.
HRESULT ErrorFromCurrentException(const char* source, const IID& iid);

// For a failed call of another of the library's own methods: raises its
// HRESULT with the description that call left in the error information, so
// that the outer method passes on why.
void ThrowIfFailedKeepingDescription(HRESULT hr);

// Runs `body` inside the catch-all every automation method uses.
template <typename Body>
HRESULT GuardedCall(const char* source, const IID& iid, Body&& body) {
    try {
        body();
        return S_OK;
    } catch (...) {
        return ErrorFromCurrentException(source, iid);
    }
}

}  // namespace plume
