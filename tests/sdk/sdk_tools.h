// What the kit's suites share: programs run for a test, their output
// gathered, and the SDK's setup tool beside the test program.
#pragma once

#include <windows.h>
#include <plume_sandbox.h>

#include <string>

#include "unique_any.h"

namespace plume::test {

inline std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// A program started for the test, what it prints gathered in a file of its
// own; ended by force when it outlives the object by 30 s.
class ProgramRun {
public:
    explicit ProgramRun(std::string command) {
        char folder[MAX_PATH], path[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "out", 0, path);
        output_ = path;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        unique_handle out(CreateFileA(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA si = {sizeof si};
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = out.get();
        PROCESS_INFORMATION pi = {};
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                           &pi)) {
            process_.reset(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    ~ProgramRun() {
        if (process_ && !Ended(30000)) TerminateProcess(process_.get(), 1);
        process_.reset();
        // An ended process may hold its output a moment longer on Wine.
        for (int i = 0; i < 50 && !DeleteFileA(output_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i)
            Sleep(100);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool started() const { return process_.get() != nullptr; }
    std::string Output() const {
        unique_handle in(CreateFileA(output_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        std::string text;
        char buffer[4096];
        DWORD n = 0;
        while (in.get() != INVALID_HANDLE_VALUE && ReadFile(in.get(), buffer, sizeof buffer, &n, nullptr) && n)
            text.append(buffer, n);
        return text;
    }
    // Waits (pumping this thread's messages) until the output holds `text`.
    bool Says(const std::string& text, DWORD ms = 10000) const {
        return plume_sandbox::WaitFor([&] { return Output().find(text) != std::string::npos; }, ms);
    }
    bool Ended(DWORD ms) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    std::string output_;
    unique_handle process_;
};

// Runs a command line to its end (at most two minutes); its exit code.
// With `output`, what it printed.
inline DWORD RunProgram(std::string command, std::string* output = nullptr) {
    ProgramRun run(std::move(command));
    if (!run.started()) return 999;
    if (!run.Ended(120000)) return 998;
    if (output) *output = run.Output();
    return run.ExitCode();
}

inline DWORD RunSetupTool(const std::string& arguments, std::string* output = nullptr) {
    return RunProgram("\"" + ProgramFolder() + "plume-setup.exe\" " + arguments, output);
}

}  // namespace plume::test
