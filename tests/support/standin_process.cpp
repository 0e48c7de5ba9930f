#include "standin_process.h"

namespace plume::test {

using plume_sandbox::Fail;

const wchar_t* ExecutableName(ClientVariant variant) {
    return variant == ClientVariant::WindowsMail ? L"winmail.exe" : L"msimn.exe";
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::unique_ptr<StandinProcess> StandinProcess::Start(ClientVariant variant, const std::wstring& arguments,
                                                      const std::wstring& folder, DWORD timeoutMs, HANDLE output) {
    std::unique_ptr<StandinProcess> p(new StandinProcess());
    std::wstring exe = folder + ExecutableName(variant);
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = output;
    }
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                        folder.c_str(), &si, &pi))
        Fail(L"cannot start " + exe + L": error " + std::to_wstring(GetLastError()));
    CloseHandle(pi.hThread);
    p->process_ = pi.hProcess;
    p->pid_ = pi.dwProcessId;
    DWORD start = GetTickCount();
    while (true) {
        if (WaitForSingleObject(p->process_, 0) == WAIT_OBJECT_0)
            Fail(std::wstring(ExecutableName(variant)) + L" ended at start with code " + std::to_wstring(p->exitCode()));
        if ((p->control_ = ControlOf(p->pid_))) return p;
        if (GetTickCount() - start > timeoutMs) {
            p->Kill();
            Fail(std::wstring(ExecutableName(variant)) + L": the control object did not answer in time");
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
    return plume_sandbox::TryInvoke(control_, method, args, result, error);
}

Var StandinProcess::Call(const wchar_t* method, const std::vector<Var>& args) {
    Var result;
    CallError error{};
    if (!TryCall(method, args, &result, &error))
        Fail(std::wstring(method) + L" failed (" + plume_sandbox::HrText(error.hr) + L"): " + error.description);
    return result;
}

std::vector<long> StandinProcess::ButtonIds(HWND window, const std::wstring& label) {
    std::vector<long> ids;
    for (const Var& toolbar : Call(L"Toolbars", {static_cast<long>(reinterpret_cast<INT_PTR>(window))}).Array()) {
        Var buttons;
        if (!TryCall(L"ToolbarButtons", {toolbar.Long()}, &buttons, nullptr)) continue;
        for (const Var& button : buttons.Array())
            if (button.Array()[1].Str() == label) ids.push_back(button.Array()[0].Long());
    }
    return ids;
}

long StandinProcess::ButtonId(HWND window, const std::wstring& label) {
    const std::vector<long> ids = ButtonIds(window, label);
    return ids.empty() ? 0 : ids[0];
}

std::vector<long> StandinProcess::MessagesWithSubject(long folder, const std::wstring& subject) {
    std::vector<long> ids;
    for (const Var& row : Call(L"Messages", {folder}).Array())
        if (row.Array()[3].Str() == subject) ids.push_back(row.Array()[0].Long());
    return ids;
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
