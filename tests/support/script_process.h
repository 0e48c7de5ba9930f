// Script clients run by the end-to-end suites with Wine's script host.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "bstr.h"
#include "standin_process.h"

namespace plume::test {

// A script copied next to the test binaries (bin\scripts).
inline std::wstring ScriptPath(const wchar_t* name) { return OwnFolder() + L"scripts\\" + name; }

// Starts `cscript //nologo script` with its output going to `outputFile`;
// hProcess is null when it could not start.
inline PROCESS_INFORMATION StartScript(const std::wstring& script, const std::wstring& outputFile) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"cscript.exe //nologo \"" + script + L"\"";
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) pi = {};
    CloseHandle(out);
    return pi;
}

// The lines a script wrote so far, without line ends.
inline std::vector<std::string> ReadLines(const std::wstring& file) {
    std::ifstream in(WideToUtf8(file.c_str()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace plume::test
