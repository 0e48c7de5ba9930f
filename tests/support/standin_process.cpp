#include "standin_process.h"

#include <oleacc.h>

#include <stdexcept>

#include "bstr.h"

namespace plume::test {

const CLSID kClsidStandinClient = {0x5e1d2c3b, 0x7a4f, 0x4c1e, {0x9b, 0x2d, 0x8f, 0x6a, 0x0c, 0x1e, 0x3d, 0x71}};

namespace {

[[noreturn]] void Throw(const std::wstring& text) { throw std::runtime_error(WideToUtf8(text.c_str())); }

std::wstring HrText(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

IDispatch* ControlOf(DWORD pid) {
    // The client's message-only control window hands out the object; the
    // class registration is not used, so a client that died earlier in the
    // same Wine session does not get in the way.
    static const UINT getControl = RegisterWindowMessageA("PLUMEStandin.GetControl");
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, L"PLUMEStandin Control Window", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != pid) continue;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(w, getControl, 0, 0, SMTO_ABORTIFHUNG, 3000, &result) || !result) return nullptr;
        IDispatch* control = nullptr;
        if (FAILED(ObjectFromLresult(static_cast<LRESULT>(result), IID_IDispatch, 0, reinterpret_cast<void**>(&control)))) return nullptr;
        return control;
    }
    return nullptr;
}

const wchar_t* ExecutableName(ClientVariant variant) {
    return variant == ClientVariant::WindowsMail ? L"winmail.exe" : L"msimn.exe";
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

Var::Var(const std::vector<long>& numbers) : Var() {
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(numbers.size()));
    for (LONG i = 0; i < static_cast<LONG>(numbers.size()); ++i) {
        VARIANT e;
        VariantInit(&e);
        e.vt = VT_I4;
        e.lVal = numbers[i];
        SafeArrayPutElement(sa, &i, &e);
    }
    v_.vt = VT_ARRAY | VT_VARIANT;
    v_.parray = sa;
}

long Var::Long() const {
    VARIANT r;
    VariantInit(&r);
    if (FAILED(VariantChangeType(&r, const_cast<VARIANT*>(&v_), 0, VT_I4))) Throw(L"a number was expected, the type is " + std::to_wstring(v_.vt));
    return r.lVal;
}

bool Var::Bool() const {
    if (v_.vt != VT_BOOL) Throw(L"a boolean was expected, the type is " + std::to_wstring(v_.vt));
    return v_.boolVal != VARIANT_FALSE;
}

std::wstring Var::Str() const {
    if (v_.vt != VT_BSTR) Throw(L"text was expected, the type is " + std::to_wstring(v_.vt));
    return std::wstring(v_.bstrVal ? v_.bstrVal : L"", SysStringLen(v_.bstrVal));
}

std::vector<Var> Var::Array() const {
    if (v_.vt != (VT_ARRAY | VT_VARIANT)) Throw(L"an array was expected, the type is " + std::to_wstring(v_.vt));
    std::vector<Var> out;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v_.parray, 1, &lo);
    SafeArrayGetUBound(v_.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        Var e;
        SafeArrayGetElement(v_.parray, &i, e.get());
        out.push_back(e);
    }
    return out;
}

std::vector<long> Var::Longs() const {
    std::vector<long> out;
    for (const Var& v : Array()) out.push_back(v.Long());
    return out;
}

std::unique_ptr<StandinProcess> StandinProcess::Start(ClientVariant variant, const std::wstring& arguments,
                                                      const std::wstring& folder, DWORD timeoutMs) {
    std::unique_ptr<StandinProcess> p(new StandinProcess());
    p->variant_ = variant;
    std::wstring exe = folder + ExecutableName(variant);
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        Throw(L"cannot start " + exe + L": error " + std::to_wstring(GetLastError()));
    CloseHandle(pi.hThread);
    p->process_ = pi.hProcess;
    p->pid_ = pi.dwProcessId;
    DWORD start = GetTickCount();
    while (true) {
        if (WaitForSingleObject(p->process_, 0) == WAIT_OBJECT_0)
            Throw(std::wstring(ExecutableName(variant)) + L" ended at start with code " + std::to_wstring(p->exitCode()));
        if ((p->control_ = ControlOf(p->pid_))) return p;
        if (GetTickCount() - start > timeoutMs) {
            p->Kill();
            Throw(std::wstring(ExecutableName(variant)) + L": the control object did not answer in time");
        }
        PumpFor(50);
    }
}

StandinProcess::~StandinProcess() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Close(5000);
    if (control_) control_->Release();
    if (process_) CloseHandle(process_);
}

bool StandinProcess::TryCall(const wchar_t* method, const std::vector<Var>& args, Var* result, CallError* error) {
    if (!control_) {
        if (error) *error = {E_UNEXPECTED, L"no control object"};
        return false;
    }
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = control_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        if (error) *error = {hr, std::wstring(L"unknown method ") + method};
        return false;
    }
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = args[i].raw();
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO excep{};
    Var out;
    hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, out.get(), &excep, nullptr);
    if (FAILED(hr)) {
        if (error) {
            error->hr = hr == DISP_E_EXCEPTION ? excep.scode : hr;
            error->description = excep.bstrDescription ? excep.bstrDescription : HrText(hr);
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return false;
    }
    if (result) *result = out;
    return true;
}

Var StandinProcess::Call(const wchar_t* method, const std::vector<Var>& args) {
    Var result;
    CallError error{};
    if (!TryCall(method, args, &result, &error)) Throw(std::wstring(method) + L" failed (" + HrText(error.hr) + L"): " + error.description);
    return result;
}

void StandinProcess::PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

bool StandinProcess::Close(DWORD timeoutMs) {
    if (!process_) return true;
    if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return true;
    TryCall(L"Quit", {}, nullptr, nullptr);
    if (control_) {
        control_->Release();
        control_ = nullptr;
    }
    if (WaitForExit(timeoutMs)) return true;
    Kill();
    return false;
}

void StandinProcess::Kill() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

bool StandinProcess::WaitForExit(DWORD timeoutMs) {
    return WaitFor([this] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

DWORD StandinProcess::exitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) GetExitCodeProcess(process_, &code);
    return code;
}

}  // namespace plume::test
