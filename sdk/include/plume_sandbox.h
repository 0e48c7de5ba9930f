// Testing PLUME plug-ins against the sandbox client (header only, no test
// framework: use it from GoogleTest, Catch2 or a plain main()).
//
//   plume_sandbox::Sandbox::Options options;
//   options.variant = L"oe";                                  // or L"wm"
//   options.plugins.push_back({L"MyPlugin", L"C:\\path\\my_plugin.dll"});
//   auto sandbox = plume_sandbox::Sandbox::Start(options);    // throws on failure
//   HWND note = sandbox->NewMessage();
//   sandbox->TypeText(note, plume_sandbox::kSubjectField, L"Hello");
//   sandbox->ChooseMenuItem(note, L"Tools\\My Item");
//   std::wstring subject = sandbox->GetField(note, plume_sandbox::kSubjectField);
//   sandbox->Close();                                          // the client quits
//
// Start runs bin/plume-sandbox.exe of the SDK, which installs and starts the
// stand-in client with the library and the plug-ins, and waits for its one
// line "ready". Every other call goes to the client's control channel (a
// late-bound object inside the client, docs/standin.md) and acts as a user
// would: through the real windows, menus and toolbar buttons. Calls throw
// std::runtime_error with the client's description when they fail. The
// calling thread must be a single-threaded COM apartment
// (CoInitialize(nullptr) before Start); waiting helpers pump its messages.
//
// Link PLUME::sandbox (find_package(PLUME)): it adds oleacc and user32 and
// tells the header where the SDK's bin/ is. PLUME_SDK_BIN in the environment
// overrides that place; without either, plume-sandbox.exe is looked for
// beside the test program. Under Wine, run the test with the SDK's
// bin/plume-wine, which prepares the prefix as plume-sandbox does.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleacc.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace plume_sandbox {

// The envelope fields of a message window (control ids) and the body.
constexpr long kToField = 1001, kCcField = 1003, kSubjectField = 1004, kBccField = 1026, kBodyField = 0;

inline std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
[[noreturn]] inline void Fail(const std::wstring& text) { throw std::runtime_error(Narrow(text)); }

// An owned VARIANT: arguments and results of control calls. Readers throw on
// a wrong type.
class Var {
public:
    Var() { VariantInit(&v_); }
    Var(long n) : Var() {
        v_.vt = VT_I4;
        v_.lVal = n;
    }
    Var(int n) : Var(static_cast<long>(n)) {}
    Var(const wchar_t* s) : Var() {
        v_.vt = VT_BSTR;
        v_.bstrVal = SysAllocString(s);
    }
    Var(const std::wstring& s) : Var() {
        v_.vt = VT_BSTR;
        v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    Var(const std::vector<long>& numbers) : Var() {
        SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(numbers.size()));
        for (LONG i = 0; i < static_cast<LONG>(numbers.size()); ++i) {
            Var e(numbers[static_cast<size_t>(i)]);
            SafeArrayPutElement(sa, &i, e.get());
        }
        v_.vt = VT_ARRAY | VT_VARIANT;
        v_.parray = sa;
    }
    Var(const Var& o) : Var() { VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); }
    Var& operator=(const Var& o) {
        if (this != &o) {
            VariantClear(&v_);
            VariantCopy(&v_, const_cast<VARIANT*>(&o.v_));
        }
        return *this;
    }
    ~Var() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT& raw() const { return v_; }
    long Long() const {
        VARIANT r;
        VariantInit(&r);
        if (FAILED(VariantChangeType(&r, const_cast<VARIANT*>(&v_), 0, VT_I4)))
            Fail(L"a number was expected, the type is " + std::to_wstring(v_.vt));
        return r.lVal;
    }
    bool Bool() const {
        if (v_.vt != VT_BOOL) Fail(L"a boolean was expected, the type is " + std::to_wstring(v_.vt));
        return v_.boolVal != VARIANT_FALSE;
    }
    std::wstring Str() const {
        if (v_.vt != VT_BSTR) Fail(L"text was expected, the type is " + std::to_wstring(v_.vt));
        return std::wstring(v_.bstrVal ? v_.bstrVal : L"", SysStringLen(v_.bstrVal));
    }
    std::vector<Var> Array() const {
        if (v_.vt != (VT_ARRAY | VT_VARIANT)) Fail(L"an array was expected, the type is " + std::to_wstring(v_.vt));
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
    std::vector<long> Longs() const {
        std::vector<long> out;
        for (const Var& v : Array()) out.push_back(v.Long());
        return out;
    }
    // A window handle given as a number.
    HWND Hwnd() const { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(Long())); }

private:
    VARIANT v_;
};

// A window handle as a control call takes it.
inline long H(HWND window) { return static_cast<long>(reinterpret_cast<INT_PTR>(window)); }

// A button's state bit (TBSTATE_ENABLED) in what ButtonState gives.
constexpr long kButtonEnabled = 0x04;

// A path as Windows takes it: a Unix path (from a build configured on Linux)
// is reached through Wine's drive Z:.
inline std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// What a failed control call reported.
struct CallError {
    HRESULT hr = S_OK;
    std::wstring description;
};

inline std::wstring HrText(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// A late-bound call of `object`; false with the error filled in when it fails.
inline bool TryInvoke(IDispatch* object, const wchar_t* method, const std::vector<Var>& args, Var* result,
                      CallError* error) {
    if (!object) {
        if (error) *error = {E_UNEXPECTED, L"no control object"};
        return false;
    }
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        if (error) *error = {hr, std::wstring(L"unknown method ") + method};
        return false;
    }
    // IDispatch takes the arguments last first.
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = args[i].raw();
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO excep{};
    Var out;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, out.get(), &excep, nullptr);
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

// The control object of the client running as process `pid`, through its
// message-only control window; null when it has none (yet). Caller releases.
inline IDispatch* ControlOf(DWORD pid) {
    static const UINT getControl = RegisterWindowMessageW(L"PLUMEStandin.GetControl");
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, L"PLUMEStandin Control Window", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != pid) continue;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(w, getControl, 0, 0, SMTO_ABORTIFHUNG, 3000, &result) || !result) return nullptr;
        IDispatch* control = nullptr;
        if (FAILED(ObjectFromLresult(static_cast<LRESULT>(result), IID_IDispatch, 0,
                                     reinterpret_cast<void**>(&control))))
            return nullptr;
        return control;
    }
    return nullptr;
}

// Dispatches this thread's messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

// Calls `poll` (pumping between calls) until it is true or the time is up.
template <typename F>
bool WaitFor(F poll, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (!poll()) {
        if (GetTickCount() - start > timeoutMs) return false;
        PumpFor(20);
    }
    return true;
}

// The sandbox: the stand-in client started by plume-sandbox.exe, driven
// through its control channel.
class Sandbox {
public:
    struct Options {
        std::wstring variant = L"oe";                                   // "oe" or "wm"
        std::vector<std::pair<std::wstring, std::wstring>> plugins;   // name, DLL path or ProgID
        std::vector<std::wstring> switches;                            // client switches, e.g. L"/storenotice:early"
        std::wstring sdkBin;                                           // the SDK's bin/; empty: see above
        DWORD timeoutMs = 90000;                                       // until "ready"
    };

    // Starts the sandbox and waits for "ready"; throws with what the
    // sandbox said when it does not get there.
    static std::unique_ptr<Sandbox> Start(const Options& options) {
        std::unique_ptr<Sandbox> s(new Sandbox());
        s->Launch(options);
        return s;
    }
    ~Sandbox() {
        if (sandbox_ && WaitForSingleObject(sandbox_, 0) == WAIT_TIMEOUT) Close(10000);
        if (control_) control_->Release();
        for (HANDLE h : {sandbox_, client_, output_})
            if (h) CloseHandle(h);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    DWORD clientPid() const { return clientPid_; }
    IDispatch* control() const { return control_; }
    // What the sandbox printed so far (after "ready": its closing words).
    const std::string& output() const { return output_text_; }

    // Any control call (docs/standin.md lists them all).
    Var Call(const wchar_t* method, const std::vector<Var>& args = {}) {
        Var result;
        CallError error;
        if (!TryInvoke(control_, method, args, &result, &error))
            Fail(std::wstring(method) + L" failed (" + HrText(error.hr) + L"): " + error.description);
        return result;
    }
    bool TryCall(const wchar_t* method, const std::vector<Var>& args, Var* result, CallError* error) {
        return TryInvoke(control_, method, args, result, error);
    }

    // The user's steps most tests take.
    HWND MainWindow() { return Call(L"MainWindow").Hwnd(); }
    HWND NewMessage() { return Call(L"NewMessage").Hwnd(); }
    HWND OpenSelected() { return Call(L"OpenSelected").Hwnd(); }
    void TypeText(HWND note, long field, const std::wstring& text) { Call(L"TypeText", {H(note), field, text}); }
    void SetField(HWND note, long field, const std::wstring& text) { Call(L"SetField", {H(note), field, text}); }
    std::wstring GetField(HWND note, long field) { return Call(L"GetField", {H(note), field}).Str(); }
    void SendNote(HWND note) { Call(L"SendNote", {H(note)}); }
    void CloseNote(HWND note) { Call(L"CloseNote", {H(note)}); }
    std::vector<HWND> MessageWindows() {
        std::vector<HWND> out;
        for (const Var& v : Call(L"MessageWindows").Array()) out.push_back(v.Hwnd());
        return out;
    }
    // "Tools\\My Item"; returns the command chosen.
    long ChooseMenuItem(HWND window, const std::wstring& path) {
        return Call(L"ChooseMenuItem", {H(window), path}).Long();
    }
    // The entries' texts of a pop-up menu, as the user sees them when it opens.
    std::vector<std::wstring> MenuItemTexts(HWND window, const std::wstring& path) {
        std::vector<std::wstring> out;
        for (const Var& entry : Call(L"MenuItems", {H(window), path}).Array()) out.push_back(entry.Array()[1].Str());
        return out;
    }
    // The toolbar button labelled `label` in any toolbar of `window`: its
    // command, and its state (kButtonEnabled); false when there is none.
    bool FindButton(HWND window, const std::wstring& label, long* command, long* state = nullptr) {
        for (const Var& toolbar : Call(L"Toolbars", {H(window)}).Array())
            for (const Var& button : Call(L"ToolbarButtons", {toolbar.Long()}).Array()) {
                const std::vector<Var> fields = button.Array();
                if (fields[1].Str() != label) continue;
                if (command) *command = fields[0].Long();
                if (state) *state = fields[2].Long();
                return true;
            }
        return false;
    }
    // Clicks that button with the mouse; false when there is none.
    bool ClickButton(HWND window, const std::wstring& label) {
        long command = 0;
        if (!FindButton(window, label, &command)) return false;
        Call(L"ClickButton", {H(window), command});
        return true;
    }
    void SelectFolder(long folder) { Call(L"SelectFolder", {folder}); }
    void SelectRows(const std::vector<long>& rows) { Call(L"SelectRows", {Var(rows)}); }
    // A store change committed on a worker thread of the client, as its
    // spooler would ("insert", folder, subject -> the new message's id).
    long CommitOnWorker(const wchar_t* op, const Var& a, const Var& b = Var()) {
        return Call(L"CommitOnWorker", {op, a, b}).Long();
    }
    // Subjects of the messages of a folder.
    std::vector<std::wstring> Subjects(long folder) {
        std::vector<std::wstring> out;
        for (const Var& row : Call(L"Messages", {folder}).Array()) out.push_back(row.Array()[3].Str());
        return out;
    }
    long FolderId(const std::wstring& name) {
        for (const Var& f : Call(L"Folders").Array()) {
            const std::vector<Var> fields = f.Array();
            if (fields[1].Str() == name) return fields[0].Long();
        }
        Fail(L"no folder named " + name);
    }

    // Asks the client to quit (as the user closing its windows) and waits
    // for the sandbox to end; ends both by force after `timeoutMs`. True
    // when they ended by themselves.
    bool Close(DWORD timeoutMs = 30000) {
        if (!sandbox_ || WaitForSingleObject(sandbox_, 0) == WAIT_OBJECT_0) return true;
        TryCall(L"Quit", {}, nullptr, nullptr);
        if (control_) {
            control_->Release();
            control_ = nullptr;
        }
        const bool ended = WaitFor([&] {
            Drain();
            return WaitForSingleObject(sandbox_, 0) == WAIT_OBJECT_0;
        }, timeoutMs);
        if (!ended) {
            if (client_) TerminateProcess(client_, 99);
            TerminateProcess(sandbox_, 99);
            WaitForSingleObject(sandbox_, 5000);
        }
        Drain();
        return ended;
    }
    // The sandbox's exit code (the client's), STILL_ACTIVE while it runs.
    DWORD exitCode() const {
        DWORD code = STILL_ACTIVE;
        if (sandbox_) GetExitCodeProcess(sandbox_, &code);
        return code;
    }

private:
    Sandbox() = default;

    static std::wstring BinFolder(const Options& o) {
        std::wstring bin = o.sdkBin;
        wchar_t env[MAX_PATH] = {};
        if (bin.empty() && GetEnvironmentVariableW(L"PLUME_SDK_BIN", env, MAX_PATH)) bin = env;
#ifdef PLUME_SDK_BIN
        if (bin.empty()) bin = L"" PLUME_SDK_BIN;
#endif
        if (bin.empty()) {
            wchar_t self[MAX_PATH] = {};
            GetModuleFileNameW(nullptr, self, MAX_PATH);
            bin = self;
            bin.resize(bin.find_last_of(L'\\') + 1);
        }
        bin = WindowsPath(bin);
        if (bin.back() != L'\\') bin += L'\\';
        return bin;
    }

    void Launch(const Options& o) {
        const std::wstring exe = BinFolder(o) + L"plume-sandbox.exe";
        std::wstring commandLine = L"\"" + exe + L"\" --variant " + o.variant;
        for (const auto& [name, value] : o.plugins)
            commandLine += L" --plugin \"" + name + L"=" + (value.find_first_of(L"/\\") == std::wstring::npos ? value : WindowsPath(value)) + L"\"";
        for (const auto& s : o.switches) commandLine += L" --switch \"" + s + L"\"";

        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&output_, &write, &inherit, 0)) Fail(L"cannot make a pipe");
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = write;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION pi{};
        const BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                            nullptr, nullptr, &si, &pi);
        CloseHandle(write);
        if (!started) Fail(L"cannot start " + exe + L": error " + std::to_wstring(GetLastError()));
        CloseHandle(pi.hThread);
        sandbox_ = pi.hProcess;
        sandboxPid_ = pi.dwProcessId;

        const bool ready = WaitFor([&] {
            Drain();
            return SaidReady() || WaitForSingleObject(sandbox_, 0) == WAIT_OBJECT_0;
        }, o.timeoutMs);
        if (!ready || !SaidReady()) {
            if (!ready) TerminateProcess(sandbox_, 99);
            Fail(L"the sandbox did not get ready" + std::wstring(ready ? L"" : L" in time") + L"; it said: " +
                 std::wstring(output_text_.begin(), output_text_.end()));
        }
        clientPid_ = ChildOf(sandboxPid_);
        if (clientPid_) client_ = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, clientPid_);
        if (!clientPid_ || !(control_ = ControlOf(clientPid_))) Fail(L"the sandbox is ready but its client cannot be reached");
    }

    // True once the sandbox has printed its line "ready".
    bool SaidReady() const {
        for (size_t at = 0; (at = output_text_.find("ready", at)) != std::string::npos; at += 5) {
            const bool starts = at == 0 || output_text_[at - 1] == '\n';
            const std::string rest = output_text_.substr(at + 5, 2);
            if (starts && (rest.rfind("\n", 0) == 0 || rest == "\r\n")) return true;
        }
        return false;
    }

    // Takes what the sandbox wrote so far, without blocking.
    void Drain() {
        DWORD available = 0;
        while (output_ && PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) && available) {
            char buffer[512];
            DWORD read = 0;
            if (!ReadFile(output_, buffer, sizeof buffer < available ? sizeof buffer : available, &read, nullptr) || !read)
                break;
            output_text_.append(buffer, read);
        }
    }

    static DWORD ChildOf(DWORD parent) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 0;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        DWORD child = 0;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && !child; more = Process32NextW(snapshot, &entry))
            if (entry.th32ParentProcessID == parent &&
                (!_wcsicmp(entry.szExeFile, L"msimn.exe") || !_wcsicmp(entry.szExeFile, L"winmail.exe")))
                child = entry.th32ProcessID;
        CloseHandle(snapshot);
        return child;
    }

    HANDLE sandbox_ = nullptr, client_ = nullptr, output_ = nullptr;
    DWORD sandboxPid_ = 0, clientPid_ = 0;
    IDispatch* control_ = nullptr;
    std::string output_text_;
};

}  // namespace plume_sandbox
