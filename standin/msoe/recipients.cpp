#include "recipients.h"

#include <richedit.h>
#include <richole.h>
#include <commctrl.h>
#include <shlobj.h>

#include <vector>

#include "com_ptr.h"
#include "embedded_object.h"
#include "ui_common.h"

namespace msoe {
namespace {

volatile LONG g_live = 0;

// {6D8C0A1E-5A7B-4B7E-9C1E-2F1D0C3B4A51}: the object's own class and the
// interface through which the client recognises its recipients.
const GUID kClsidRecipient = {0x6d8c0a1e, 0x5a7b, 0x4b7e, {0x9c, 0x1e, 0x2f, 0x1d, 0x0c, 0x3b, 0x4a, 0x51}};

class Recipient final : public plume::embedded_object {
public:
    explicit Recipient(std::wstring text) : text_(std::move(text)) { InterlockedIncrement(&g_live); }
    ~Recipient() override { InterlockedDecrement(&g_live); }
    const std::wstring& text() const { return text_; }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override { site_ = plume::com_ptr<IOleClientSite>(site); return S_OK; }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override { return site_.copy_to(site); }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** out) override { return ThisAsData(out); }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override { if (!clsid) return E_POINTER; *clsid = kClsidRecipient; return S_OK; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* out) override {
        if (!out) return E_POINTER;
        *out = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(L"Recipient")));
        if (!*out) return E_OUTOFMEMORY;
        memcpy(*out, L"Recipient", sizeof(L"Recipient"));
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        if (!size) return E_POINTER;
        SIZE px = PixelSize();
        size->cx = MulDiv(px.cx, 2540, 96);
        size->cy = MulDiv(px.cy, 2540, 96);
        return S_OK;
    }

    // IDataObject: the text as CF_UNICODETEXT, and a picture of it for drawing.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_POINTER;
        *medium = STGMEDIUM{};
        if (format->cfFormat == CF_UNICODETEXT && (format->tymed & TYMED_HGLOBAL)) return TextMedium(text_, medium);
        if (format->cfFormat == CF_BITMAP && (format->tymed & TYMED_GDI)) {
            medium->tymed = TYMED_GDI;
            medium->hBitmap = Picture();
            return medium->hBitmap ? S_OK : E_FAIL;
        }
        return DV_E_FORMATETC;
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        if (!format) return E_POINTER;
        if (format->cfFormat == CF_UNICODETEXT && (format->tymed & TYMED_HGLOBAL)) return S_OK;
        if (format->cfFormat == CF_BITMAP && (format->tymed & TYMED_GDI)) return S_OK;
        return DV_E_FORMATETC;
    }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (!out) return E_POINTER;
        if (direction != DATADIR_GET) { *out = nullptr; return E_NOTIMPL; }
        FORMATETC formats[] = {
            {CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
            {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI},
        };
        return SHCreateStdEnumFmtEtc(2, formats, out);
    }

private:
    void* Cast(REFIID iid) override {
        // The client recognises its own recipients by their class.
        if (IsEqualIID(iid, kClsidRecipient)) return static_cast<void*>(this);
        return CastOleAndData(iid);
    }
    SIZE PixelSize() const {
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, UiFont());
        SIZE size{};
        GetTextExtentPoint32W(dc, text_.c_str(), static_cast<int>(text_.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        size.cx += 2;
        size.cy += 1;
        return size;
    }
    // The recipient as shown: its text underlined.
    HBITMAP Picture() const {
        SIZE size = PixelSize();
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
        ReleaseDC(nullptr, screen);
        if (!bitmap) { DeleteDC(dc); return nullptr; }
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        RECT rc = {0, 0, size.cx, size.cy};
        FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
        HGDIOBJ oldFont = SelectObject(dc, UiFont());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        TextOutW(dc, 1, 0, text_.c_str(), static_cast<int>(text_.size()));
        HPEN pen = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        MoveToEx(dc, 1, size.cy - 1, nullptr);
        LineTo(dc, size.cx - 1, size.cy - 1);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
        DeleteDC(dc);
        return bitmap;
    }

    std::wstring text_;
    plume::com_ptr<IOleClientSite> site_;
};

std::vector<std::wstring> SplitRecipients(const std::wstring& text) {
    std::vector<std::wstring> out;
    std::wstring cur;
    bool quoted = false;
    auto flush = [&] {
        size_t b = cur.find_first_not_of(L" \t\r\n"), e = cur.find_last_not_of(L" \t\r\n");
        if (b != std::wstring::npos) out.push_back(cur.substr(b, e - b + 1));
        cur.clear();
    };
    for (wchar_t c : text) {
        if (c == L'"') quoted = !quoted;
        if (!quoted && (c == L';' || c == L',')) { flush(); continue; }
        cur += c;
    }
    flush();
    return out;
}

}  // namespace

HRESULT InsertRecipientObject(HWND edit, const std::wstring& text) {
    plume::com_ptr<IRichEditOle> ole;
    SendMessageW(edit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
    if (!ole) return E_NOINTERFACE;
    auto* recipient = new Recipient(text);
    plume::com_ptr<IOleObject> object = plume::com_ptr<IOleObject>::attach(recipient);
    REOBJECT reo{};
    reo.cbStruct = sizeof(reo);
    reo.cp = REO_CP_SELECTION;
    reo.clsid = kClsidRecipient;
    reo.poleobj = object.get();
    reo.dvaspect = DVASPECT_CONTENT;
    reo.dwFlags = REO_BELOWBASELINE;
    object->GetExtent(DVASPECT_CONTENT, &reo.sizel);
    return ole->InsertObject(&reo);
}

std::wstring RecipientObjectText(IOleObject* object) {
    if (!object) return {};
    void* raw = nullptr;
    if (FAILED(object->QueryInterface(kClsidRecipient, &raw)) || !raw) return {};
    auto* recipient = static_cast<Recipient*>(raw);
    std::wstring text = recipient->text();
    recipient->Release();
    return text;
}

void SetResolvedRecipients(HWND edit, const std::wstring& recipients) {
    SetRichEditText(edit, L"");
    bool first = true;
    for (const auto& r : SplitRecipients(recipients)) {
        if (!first) SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"; "));
        first = false;
        if (FAILED(InsertRecipientObject(edit, r))) SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(r.c_str()));
    }
    SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
}

void ResolveRecipients(HWND edit) {
    std::wstring text = RichEditText(edit);
    SetResolvedRecipients(edit, text);
    SendMessageW(edit, EM_SETMODIFY, TRUE, 0);
}

long LiveRecipientObjects() { return g_live; }

namespace {

LRESULT CALLBACK ObjectCharacterProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ObjectCharacterProc, 1);
    LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
    auto* get = reinterpret_cast<const GETTEXTEX*>(wp);
    if (msg != EM_GETTEXTEX || result <= 0 || !get || !lp || get->codepage != 1200 || (get->flags & GT_SELECTION)) return result;
    plume::com_ptr<IRichEditOle> ole;
    SendMessageW(hwnd, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
    if (!ole) return result;
    auto* text = reinterpret_cast<wchar_t*>(lp);
    for (LONG i = 0, n = ole->GetObjectCount(); i < n; ++i) {
        REOBJECT reo{};
        reo.cbStruct = sizeof(reo);
        if (SUCCEEDED(ole->GetObject(i, &reo, REO_GETOBJ_NO_INTERFACES)) && reo.cp >= 0 && reo.cp < result) text[reo.cp] = 0xFFFC;
    }
    return result;
}

}  // namespace

void UseObjectCharacter(HWND edit) { SetWindowSubclass(edit, ObjectCharacterProc, 1, 0); }

}  // namespace msoe
