// The registered PLUME type library and the type information of its
// interfaces, fetched once per process.
#pragma once

#include <oaidl.h>

namespace plume {

extern const GUID kPlumeLibId;
constexpr WORD kPlumeLibMajor = 2;
constexpr WORD kPlumeLibMinor = 6;
constexpr LCID kPlumeLibLcid = 0x0409;

// Loads the registered library (locale 0, falling back to the library's own
// locale where the registry holds only that one). Caller releases.
HRESULT LoadPlumeTypeLib(ITypeLib** out);

// Cached type information for `guid`; the cache keeps a reference for the life
// of the process, the caller gets one of its own.
HRESULT GetCachedTypeInfo(const GUID& guid, ITypeInfo** out);

// DISP_E_BADPARAMCOUNT when a late-bound call of method `id` passes more
// arguments than the method takes (its [out, retval] pointer not counted);
// S_OK otherwise, also for members that are not methods (Invoke decides).
// Wine's ITypeInfo::Invoke runs a method without a retval with any number
// of extra arguments, where Windows refuses them.
HRESULT CheckArgumentCount(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params);

}  // namespace plume
