// Where the tests find the built binaries: beside the test executable.
#pragma once

#include <windows.h>
#include <string>

namespace plume::test {

inline std::wstring BinaryDirW() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

inline std::wstring LibraryPathW() { return BinaryDirW() + L"plumesrv.dll"; }

}  // namespace plume::test
