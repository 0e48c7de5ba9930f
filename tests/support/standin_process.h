// Starting, driving and stopping the stand-in mail client from a test
// process. The client runs from the folder of the test executable (build/bin)
// and is reached through its control object "PLUMEStandin.Client".
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <plume_sandbox.h>

#include <memory>
#include <string>
#include <vector>

namespace plume::test {

enum class ClientVariant { OutlookExpress, WindowsMail };

// "msimn.exe" or "winmail.exe".
const wchar_t* ExecutableName(ClientVariant variant);
// Folder of the running executable, with a trailing backslash.
std::wstring OwnFolder();

// The control channel's values, errors and lookup, as the SDK's test library
// has them.
using plume_sandbox::CallError;
using plume_sandbox::ControlOf;
using plume_sandbox::Var;

class StandinProcess {
public:
    // Starts the client with `arguments` and waits (at most `timeoutMs`)
    // until its control object answers with the new process's id. Throws
    // std::runtime_error when the client does not come up.
    // `output`, when given (inheritable), takes the client's standard
    // output and errors: Wine's report of a crash the test provokes.
    static std::unique_ptr<StandinProcess> Start(ClientVariant variant, const std::wstring& arguments = L"/resetstore /nosave",
                                                 const std::wstring& folder = OwnFolder(), DWORD timeoutMs = 20000,
                                                 HANDLE output = nullptr);
    ~StandinProcess();
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_; }
    IDispatch* control() const { return control_; }

    // A late-bound call of the control object; throws std::runtime_error
    // carrying the client's description when it fails.
    Var Call(const wchar_t* method, const std::vector<Var>& args = {});
    // The same, giving the failure back instead of throwing.
    bool TryCall(const wchar_t* method, const std::vector<Var>& args, Var* result, CallError* error);

    // The commands of the buttons labelled `label` on the toolbars of
    // `window` (a toolbar that goes while they are read is passed over);
    // ButtonId: the first, 0 when there is none.
    std::vector<long> ButtonIds(HWND window, const std::wstring& label);
    long ButtonId(HWND window, const std::wstring& label);
    // The ids of the messages of `folder` with this subject, in the folder's order.
    std::vector<long> MessagesWithSubject(long folder, const std::wstring& subject);

    // Calls `poll` until it is true or the time is up.
    template <typename F>
    static bool WaitFor(F poll, DWORD timeoutMs = 5000) {
        return plume_sandbox::WaitFor(poll, timeoutMs);
    }
    // Dispatches this thread's messages for `ms` milliseconds.
    static void PumpFor(DWORD ms) { plume_sandbox::PumpFor(ms); }

    // Asks the client to quit and waits; ends it by force after `timeoutMs`.
    // True when it ended by itself.
    bool Close(DWORD timeoutMs = 10000);
    void Kill();
    bool WaitForExit(DWORD timeoutMs);
    DWORD exitCode() const;

private:
    StandinProcess() = default;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    IDispatch* control_ = nullptr;
};

}  // namespace plume::test
