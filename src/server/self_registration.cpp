#include "server/self_registration.h"

#include <oleauto.h>
#include <cstdio>
#include <olectl.h>

#include <plume.h>

#include "bstr.h"
#include "com_error.h"
#include "com_ptr.h"
#include "proc_address.h"
#include "log.h"
#include "server/module.h"
#include "unique_any.h"

namespace plume {
namespace {

struct ClassKey {
    const CLSID& clsid;
    const char* name;
    const char* progId;
};

// Registration order.
const ClassKey kClassKeys[] = {
    {CLSID_OEMenuItem, "OEMenuItem", "PLUME.OEMenuItem"}, {CLSID_OEMsgWnd, "OEMsgWnd", "PLUME.OEMsgWnd"},
    {CLSID_OEMenu, "OEMenu", "PLUME.OEMenu"},             {CLSID_OEButton, "OEButton", "PLUME.OEButton"},
    {CLSID_OEToolbar, "OEToolbar", "PLUME.OEToolbar"},    {CLSID_PLUMEObj, "PLUMEObj", "PLUME.PLUMEObj"},
};

std::string GuidText(const GUID& guid) {
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return WideToAnsi(text);
}

void SetValue(const std::string& path, const std::string& value) {
    unique_hkey key;
    LONG r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (r == ERROR_SUCCESS)
        r = RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
    if (r != ERROR_SUCCESS) throw_com_error(HRESULT_FROM_WIN32(r), AnsiToWide(("Cannot write " + path).c_str()));
}

std::string NeutralLocaleKey(const TLIBATTR& attr) {
    char version[32];
    snprintf(version, sizeof version, "\\%x.%x\\0", attr.wMajorVerNum, attr.wMinorVerNum);
    return "TypeLib\\" + GuidText(attr.guid) + version;
}

}  // namespace

HRESULT RegisterPlumeTypeLib(const wchar_t* path) {
    com_ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(path, lib.put());
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(lib.get(), const_cast<wchar_t*>(path), nullptr);
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const std::string key = NeutralLocaleKey(*attr) + (attr->syskind == SYS_WIN64 ? "\\win64" : "\\win32");
    lib->ReleaseTLibAttr(attr);
    try {
        SetValue(key, WideToAnsi(path));
    } catch (const com_error& e) {
        return e.hr();
    }
    return S_OK;
}

HRESULT UnregisterPlumeTypeLib(const wchar_t* path) {
    com_ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(path, lib.put());
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const std::string neutral = NeutralLocaleKey(*attr);
    for (const char* kind : {"\\win32", "\\win64", ""})
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (neutral + kind).c_str());
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return hr;
}

std::string GetOEFullPath() {
    unique_hkey key;
    bool windowsMail = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Mail", 0, KEY_QUERY_VALUE,
                                     key.put()) == ERROR_SUCCESS;
    if (!windowsMail && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Outlook Express", 0,
                                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return {};
    char root[2048];
    DWORD size = sizeof root;
    LONG r = RegQueryValueExA(key.get(), "InstallRoot", nullptr, nullptr, reinterpret_cast<BYTE*>(root), &size);
    if (r != ERROR_SUCCESS) {
        Log(0, "GetOEFullPath: Error RegQueryValueEx: %ld.\n", r);
        return {};
    }
    root[sizeof root - 1] = '\0';
    char expanded[2048];
    if (!ExpandEnvironmentStringsA(root, expanded, 2047)) return {};
    return std::string(expanded) + (windowsMail ? "\\WinMail.EXE" : "\\MSIMN.EXE");
}

void RegisterClassKeys(bool unregister, const CLSID& clsid, const std::string& serverPath, const char* className,
                       const char* progId, const GUID& libId) {
    const std::string c = "CLSID\\" + GuidText(clsid);
    const std::string prog = progId;
    if (unregister) {
        for (const std::string& key : {c + "\\LocalServer32", c + "\\Programmable", c + "\\TypeLib", c + "\\ProgID",
                                       prog + "\\CLSID", prog, c})
            RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
        return;
    }
    SetValue(c + "\\LocalServer32", serverPath);
    SetValue(c + "\\Programmable", "");
    SetValue(c + "\\TypeLib", GuidText(libId));
    SetValue(c + "\\ProgID", prog);
    SetValue(prog + "\\CLSID", GuidText(clsid));
    SetValue(prog, className);
    SetValue(c, className);
}

HRESULT RegisterServer() {
    const std::string typeLibKey = "TypeLib\\" + GuidText(LIBID_PLUME);
    {
        unique_hkey old;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, typeLibKey.c_str(), 0, KEY_ALL_ACCESS, old.put()) == ERROR_SUCCESS) {
            unique_hmodule shlwapi(LoadLibraryA("Shlwapi"));
            if (auto deleteKey = GetProcAs<DWORD(WINAPI*)(HKEY, LPCSTR)>(shlwapi.get(), "SHDeleteKeyA"))
                deleteKey(old.get(), "");
        }
    }
    char modulePath[2048];
    if (!GetModuleFileNameA(ModuleInstance(), modulePath, 2047)) {
        Log(0, "DllRegisterServer: Error GetModuleFileName.\n");
        return E_FAIL;
    }
    const std::string client = GetOEFullPath();
    if (client.empty()) {
        Log(0, "DllRegisterServer: Error GetOEFullPath.\n");
        return E_FAIL;
    }
    wchar_t widePath[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, modulePath, -1, widePath, MAX_PATH - 1);
    if (FAILED(RegisterPlumeTypeLib(widePath))) return SELFREG_E_TYPELIB;
    try {
        for (const ClassKey& k : kClassKeys) RegisterClassKeys(false, k.clsid, client, k.name, k.progId, LIBID_PLUME);
    } catch (const com_error& e) {
        return e.hr();
    } catch (const std::exception& e) {
        OutputDebugStringA(e.what());
        return E_FAIL;
    }
    return S_OK;
}

HRESULT UnregisterServer() {
    char modulePath[1039];
    if (!GetModuleFileNameA(ModuleInstance(), modulePath, sizeof modulePath)) {
        Log(0, "UnregisterServer: Error GetModuleFileName.\n");
        return E_FAIL;
    }
    wchar_t widePath[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, modulePath, -1, widePath, MAX_PATH - 1);
    HRESULT hr = UnregisterPlumeTypeLib(widePath);
    if (FAILED(hr)) {
        Log(0, "UnregisterServer: Error perform.\n");
        return hr;
    }
    const std::string client = GetOEFullPath();
    if (client.empty()) {
        Log(0, "UnregisterServer: Can't get full path.\n");
        return E_FAIL;
    }
    for (const ClassKey& k : kClassKeys) RegisterClassKeys(true, k.clsid, client, k.name, k.progId, LIBID_PLUME);
    return S_OK;
}

}  // namespace plume
