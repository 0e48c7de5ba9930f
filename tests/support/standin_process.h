// Starting, driving and stopping the stand-in mail client from a test
// process. The client runs from the folder of the test executable (build/bin)
// and is reached through its control object "PLUMEStandin.Client".
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace plume::test {

enum class ClientVariant { OutlookExpress, WindowsMail };

// "msimn.exe" or "winmail.exe".
const wchar_t* ExecutableName(ClientVariant variant);
// Folder of the running executable, with a trailing backslash.
std::wstring OwnFolder();

// {5E1D2C3B-7A4F-4C1E-9B2D-8F6A0C1E3D71}: "PLUMEStandin.Client", for scripts.
extern const CLSID kClsidStandinClient;
// The control object of the client running as process `pid`, reached through
// its control window; null when it has none (yet). Caller releases.
IDispatch* ControlOf(DWORD pid);

// An owned VARIANT with readers that fail the call (throw) on a wrong type.
class Var {
public:
    Var() { VariantInit(&v_); }
    Var(long n) : Var() { v_.vt = VT_I4; v_.lVal = n; }
    Var(int n) : Var(static_cast<long>(n)) {}
    Var(const wchar_t* s) : Var() { v_.vt = VT_BSTR; v_.bstrVal = SysAllocString(s); }
    Var(const std::wstring& s) : Var() { v_.vt = VT_BSTR; v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }
    Var(const std::vector<long>& numbers);
    Var(const Var& o) : Var() { VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); }
    Var& operator=(const Var& o) { if (this != &o) { VariantClear(&v_); VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); } return *this; }
    ~Var() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT& raw() const { return v_; }
    long Long() const;
    bool Bool() const;
    std::wstring Str() const;
    std::vector<Var> Array() const;
    // An array of numbers.
    std::vector<long> Longs() const;
    // A window handle returned as a number.
    HWND Hwnd() const { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(Long())); }

private:
    VARIANT v_;
};

// What a failed control call reported.
struct CallError {
    HRESULT hr;
    std::wstring description;
};

class StandinProcess {
public:
    // Starts the client with `arguments` and waits (at most `timeoutMs`)
    // until its control object answers with the new process's id. Throws
    // std::runtime_error when the client does not come up.
    static std::unique_ptr<StandinProcess> Start(ClientVariant variant, const std::wstring& arguments = L"/resetstore /nosave",
                                                 const std::wstring& folder = OwnFolder(), DWORD timeoutMs = 20000);
    ~StandinProcess();
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    ClientVariant variant() const { return variant_; }
    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_; }
    IDispatch* control() const { return control_; }

    // A late-bound call of the control object; throws std::runtime_error
    // carrying the client's description when it fails.
    Var Call(const wchar_t* method, const std::vector<Var>& args = {});
    // The same, giving the failure back instead of throwing.
    bool TryCall(const wchar_t* method, const std::vector<Var>& args, Var* result, CallError* error);

    // Calls `poll` until it is true or the time is up.
    template <typename F>
    static bool WaitFor(F poll, DWORD timeoutMs = 5000) {
        DWORD start = GetTickCount();
        while (!poll()) {
            if (GetTickCount() - start > timeoutMs) return false;
            PumpFor(20);
        }
        return true;
    }
    // Dispatches this thread's messages for `ms` milliseconds.
    static void PumpFor(DWORD ms);

    // Asks the client to quit and waits; ends it by force after `timeoutMs`.
    // True when it ended by itself.
    bool Close(DWORD timeoutMs = 10000);
    void Kill();
    bool WaitForExit(DWORD timeoutMs);
    DWORD exitCode() const;

private:
    StandinProcess() = default;
    ClientVariant variant_ = ClientVariant::OutlookExpress;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    IDispatch* control_ = nullptr;
};

}  // namespace plume::test
