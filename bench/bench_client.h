// What the benchmark programs share as clients: late-bound calls, a bounded
// message pump, and the baseline server (bench_bare_server.exe) started for
// the run.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <functional>
#include <string>

#include "bench_server.h"
#include "com_ptr.h"
#include "standin_process.h"
#include "unique_any.h"

namespace plume::bench {

// Dispatches this thread's messages until `done` or `timeoutMs`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
}

inline DISPID IdOf(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
}

// A late-bound method call with the arguments in reverse order, as DISPPARAMS holds them.
inline HRESULT InvokeLate(IDispatch* object, DISPID id, VARIANT* args = nullptr, UINT count = 0) {
    if (args && !count) count = 1;
    DISPPARAMS params = {args, nullptr, count, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    return hr;
}

// The baseline server, started for the run.
class BareServer {
public:
    BareServer() {
        const std::string tag = std::to_string(GetCurrentProcessId());
        const std::string readyName = "PLUME_BENCH_READY_" + tag, quitName = "PLUME_BENCH_QUIT_" + tag;
        ready_.reset(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
        quit_.reset(CreateEventA(nullptr, TRUE, FALSE, quitName.c_str()));
        const std::wstring path = plume::test::OwnFolder() + L"bench_bare_server.exe";
        std::wstring command = L"\"" + path + L"\" " + std::wstring(readyName.begin(), readyName.end()) + L" " +
                               std::wstring(quitName.begin(), quitName.end());
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            process_.reset(pi.hProcess);
            CloseHandle(pi.hThread);
            HANDLE both[] = {ready_.get(), process_.get()};
            up_ = WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
        }
    }
    ~BareServer() {
        SetEvent(quit_.get());
        if (process_ && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    }
    BareServer(const BareServer&) = delete;
    BareServer& operator=(const BareServer&) = delete;
    bool up() const { return up_; }
    template <typename T>
    com_ptr<T> Create(const IID& iid) {
        com_ptr<T> object;
        CoCreateInstance(CLSID_BenchBare, nullptr, CLSCTX_LOCAL_SERVER, iid, object.put_void());
        return object;
    }

private:
    unique_handle ready_, quit_, process_;
    bool up_ = false;
};

// Asks the bare server to keep `sink` for its fan-out.
inline void GiveToBare(IDispatch* bare, IDispatch* sink) {
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = sink;
    InvokeLate(bare, kBareKeepSink, &arg);
}

}  // namespace plume::bench
