// Bitmaps for toolbar buttons and their menu items: masks, pictures
// rendered into DIB sections, and menu-check-sized copies.
#include "ui/toolbar_records.h"

namespace plume {
namespace {

using unique_hbrush = unique_any<HBRUSH, detail::DeleteGdiObject>;

// A DC of the desktop window for a scope.
class desktop_dc {
public:
    desktop_dc() : window_(GetDesktopWindow()), dc_(GetDC(window_)) {}
    ~desktop_dc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    desktop_dc(const desktop_dc&) = delete;
    desktop_dc& operator=(const desktop_dc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a DC for a scope.
class selection {
public:
    selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~selection() {
        if (previous_) SelectObject(dc_, previous_);
    }
    selection(const selection&) = delete;
    selection& operator=(const selection&) = delete;
    bool ok() const { return previous_ != nullptr; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace

counted_bitmap MakeMaskBitmap(HBITMAP bitmap, COLORREF color) {
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info)) return {};
    counted_bitmap mask = AdoptBitmap(CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, nullptr));
    unique_hdc source(CreateCompatibleDC(nullptr));
    unique_hdc target(CreateCompatibleDC(nullptr));
    if (!mask || !source || !target) return {};
    selection s(source.get(), bitmap);
    selection t(target.get(), mask.get());
    if (!s.ok() || !t.ok()) return {};
    const COLORREF transparent = color == 0xFF000000 ? GetPixel(source.get(), 0, 0) : color;
    SetBkColor(source.get(), transparent);
    // Mask bits are 1 where the pixel has the transparent colour...
    BitBlt(target.get(), 0, 0, info.bmWidth, info.bmHeight, source.get(), 0, 0, SRCCOPY);
    // ...and those pixels of the bitmap itself turn black.
    BitBlt(source.get(), 0, 0, info.bmWidth, info.bmHeight, target.get(), 0, 0, SRCINVERT);
    return mask;
}

counted_bitmap PictureToBitmap(IPicture* picture, LONG cx, LONG cy) {
    if (!picture) return {};
    OLE_YSIZE_HIMETRIC height = 0;
    OLE_XSIZE_HIMETRIC width = 0;
    if (FAILED(picture->get_Height(&height)) || FAILED(picture->get_Width(&width))) return {};
    unique_hdc dc(CreateCompatibleDC(nullptr));
    if (!dc) return {};
    if (cx == -1 || cy == -1) {
        cx = MulDiv(width, GetDeviceCaps(dc.get(), LOGPIXELSX), 2540);
        cy = MulDiv(height, GetDeviceCaps(dc.get(), LOGPIXELSY), 2540);
    }
    if (cx <= 0 || cy <= 0) return {};
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    counted_bitmap dib;
    {
        desktop_dc screen;
        dib = AdoptBitmap(CreateDIBSection(screen.get(), &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    }
    if (!dib) return {};
    HRESULT hr;
    {
        selection s(dc.get(), dib.get());
        // Drawn upright from the picture's bottom-left origin.
        hr = picture->Render(dc.get(), 0, 0, cx, cy, 0, height, width, -height, nullptr);
    }
    if (FAILED(hr)) return {};
    return dib;
}

counted_bitmap MakeMenuBitmap(HBITMAP image, int cx, int cy) {
    desktop_dc screen;
    counted_bitmap result = AdoptBitmap(CreateCompatibleBitmap(screen.get(), cx, cy));
    unique_hdc dc(CreateCompatibleDC(screen.get()));
    unique_hdc source(CreateCompatibleDC(screen.get()));
    unique_hbrush brush(CreateSolidBrush(GetSysColor(COLOR_MENU)));
    if (!result || !dc || !source || !brush) return {};
    counted_bitmap mask = MakeMaskBitmap(image, 0xFF000000);
    {
        selection target(dc.get(), result.get());
        selection paint(dc.get(), brush.get());
        selection from(source.get(), image);
        // Transparent pixels take the menu colour, the others are copied.
        MaskBlt(dc.get(), 0, 0, cx, cy, source.get(), 0, 0, mask.get(), 0, 0, MAKEROP4(PATCOPY, SRCCOPY));
    }
    return result;
}

}  // namespace plume
