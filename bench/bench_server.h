// What the benchmarks share about the baseline server (bench_bare_server.exe).
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <plume.h>

#include "com_ptr.h"

namespace plume::bench {

// {B3A7E1C2-5D4F-4A8B-9C6E-1F2A3B4C5D6E}: registered only while the server runs.
const CLSID CLSID_BenchBare = {0xB3A7E1C2, 0x5D4F, 0x4A8B, {0x9C, 0x6E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x6E}};
constexpr DISPID kBareKeepSink = 100, kBareFire = 101, kBareDropSinks = 102;

// The virtual-table position of method `name` of `iid`, from the registered
// type library; -1 when it is not there.
inline int SlotOf(const IID& iid, const wchar_t* name) {
    com_ptr<ITypeLib> lib;
    if (FAILED(LoadRegTypeLib(LIBID_PLUME, 2, 6, 0, lib.put()))) return -1;
    com_ptr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfoOfGuid(iid, info.put()))) return -1;
    // A dual interface: its vtable half carries the positions.
    HREFTYPE ref = 0;
    com_ptr<ITypeInfo> vtable;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
        info = vtable;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return -1;
    int slot = -1;
    for (UINT i = 0; i < attr->cFuncs && slot < 0; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        BSTR fname = nullptr;
        if (SUCCEEDED(info->GetDocumentation(f->memid, &fname, nullptr, nullptr, nullptr)) && fname &&
            lstrcmpW(fname, name) == 0)
            slot = f->oVft / static_cast<int>(sizeof(void*));
        SysFreeString(fname);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    return slot;
}

}  // namespace plume::bench
