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
inline DWORD RunProgram(std::string command) {
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return 999;
    unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 998;
    if (WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    return code;
}

inline DWORD RunSetupTool(const std::string& arguments) {
    return RunProgram("\"" + ProgramFolder() + "plume-setup.exe\" " + arguments);
}

}  // namespace plume::test
