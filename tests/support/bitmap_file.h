// Test images: a 24-bit bitmap file of one colour.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "unique_any.h"

namespace plume::test {

// The files a test program wrote; they go when the program ends, so that the
// prefix's temporary folder is left as the tests found it.
struct WrittenFiles {
    std::vector<std::wstring> paths;
    ~WrittenFiles() {
        for (const std::wstring& path : paths) DeleteFileW(path.c_str());
    }
};
inline void RemoveAtExit(const std::wstring& path) {
    static WrittenFiles files;
    for (const std::wstring& known : files.paths)
        if (known == path) return;
    files.paths.push_back(path);
}

// Writes `name` in the temporary folder; returns its path. The file is
// removed when the test program ends.
inline std::wstring WriteBitmapFile(const wchar_t* name, int w, int h, COLORREF color) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    const int stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = stride * h;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<BYTE> pixels(info.biSizeImage);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            BYTE* p = &pixels[y * stride + x * 3];
            p[0] = GetBValue(color);
            p[1] = GetGValue(color);
            p[2] = GetRValue(color);
        }
    unique_handle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written;
    WriteFile(f.get(), &file, sizeof file, &written, nullptr);
    WriteFile(f.get(), &info, sizeof info, &written, nullptr);
    WriteFile(f.get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    RemoveAtExit(path);
    return path;
}

}  // namespace plume::test
