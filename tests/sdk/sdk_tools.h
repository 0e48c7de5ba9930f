// What the kit's suites share: running a program to its end, and the SDK's
// setup tool beside the test program.
#pragma once

#include <windows.h>

#include <string>

#include "unique_any.h"

namespace plume::test {

inline std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// Runs a command line to its end (at most two minutes); its exit code.
// With `output`, what it prints goes there.
inline DWORD RunProgram(std::string command, std::string* output = nullptr) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    char folder[MAX_PATH], path[MAX_PATH];
    unique_handle file;
    STARTUPINFOA si = {sizeof si};
    if (output) {
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "out", 0, path);
        file.reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = file.get();
    }
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, output != nullptr, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return 999;
    unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 998;
    if (WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    if (output) {
        output->assign(GetFileSize(file.get(), nullptr), '\0');
        DWORD read = 0;
        SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
        ReadFile(file.get(), output->data(), static_cast<DWORD>(output->size()), &read, nullptr);
        output->resize(read);
    }
    return code;
}

inline DWORD RunSetupTool(const std::string& arguments, std::string* output = nullptr) {
    return RunProgram("\"" + ProgramFolder() + "plume-setup.exe\" " + arguments, output);
}

}  // namespace plume::test
