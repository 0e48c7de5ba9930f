// Test images: a 24-bit bitmap file of one colour.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "unique_any.h"

namespace plume::test {

// Writes `name` in the temporary folder; returns its path.
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
    return path;
}

}  // namespace plume::test
