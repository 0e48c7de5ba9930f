#include "server/type_info_cache.h"

#include <map>

#include "com_ptr.h"
#include "com_error.h"
#include "sync.h"

namespace plume {

const GUID kPlumeLibId = {0x54B89298, 0x879A, 0x4086, {0xB0, 0x82, 0x85, 0x4D, 0x3E, 0xBF, 0xDC, 0xC3}};

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct Cache {
    critical_section lock;
    std::map<GUID, ITypeInfo*, GuidLess> infos;  // one reference each, never released
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // outlives every object; kept until unload
    return *cache;
}

}  // namespace

HRESULT LoadPlumeTypeLib(ITypeLib** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = LoadRegTypeLib(kPlumeLibId, kPlumeLibMajor, kPlumeLibMinor, 0, out);
    // Wine registers the library under its own locale only and does not fall
    // back from locale 0 to it.
    if (hr == TYPE_E_LIBNOTREGISTERED)
        hr = LoadRegTypeLib(kPlumeLibId, kPlumeLibMajor, kPlumeLibMinor, kPlumeLibLcid, out);
    return hr;
}

HRESULT GetCachedTypeInfo(const GUID& guid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Cache& cache = TheCache();
    cs_lock hold(cache.lock);
    auto it = cache.infos.find(guid);
    if (it == cache.infos.end()) {
        com_ptr<ITypeLib> lib;
        PLUME_RETURN_IF_FAILED(LoadPlumeTypeLib(lib.put()));
        ITypeInfo* info = nullptr;
        PLUME_RETURN_IF_FAILED(lib->GetTypeInfoOfGuid(guid, &info));
        it = cache.infos.emplace(guid, info).first;
    }
    *out = it->second;
    (*out)->AddRef();
    return S_OK;
}

HRESULT CheckArgumentCount(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params) {
    if (!info || !params || !(flags & DISPATCH_METHOD)) return S_OK;
    com_ptr<ITypeInfo2> info2;
    UINT index = 0;
    if (FAILED(info->QueryInterface(IID_ITypeInfo2, info2.put_void())) ||
        FAILED(info2->GetFuncIndexOfMemId(id, INVOKE_FUNC, &index)))
        return S_OK;
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(index, &func))) return S_OK;
    UINT takes = 0;
    for (SHORT i = 0; i < func->cParams; ++i)
        if (!(func->lprgelemdescParam[i].paramdesc.wParamFlags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID))) ++takes;
    info->ReleaseFuncDesc(func);
    return params->cArgs > takes ? DISP_E_BADPARAMCOUNT : S_OK;
}

}  // namespace plume
