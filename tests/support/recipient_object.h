// A resolved recipient as the Outlook Express client embeds it in an
// envelope control: an OLE object whose clipboard data object offers its
// text as CF_UNICODETEXT. Objects count themselves so a test can see that
// every reference taken on them was given back.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <richedit.h>
#include <richole.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>

#include "embedded_object.h"
#include "com_ptr.h"

namespace plume::test {

inline volatile LONG g_liveRecipients = 0;

class RecipientObject final : public embedded_object {
public:
    // `textFormat` false: the object offers only a bitmap, no text.
    explicit RecipientObject(std::wstring text, bool textFormat = true)
        : text_(std::move(text)), textFormat_(textFormat) {
        InterlockedIncrement(&g_liveRecipients);
    }
    ~RecipientObject() override { InterlockedDecrement(&g_liveRecipients); }

    STDMETHODIMP GetClipboardData(DWORD, IDataObject** out) override { return ThisAsData(out); }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        *size = SIZEL{2000, 400};
        return S_OK;
    }

    // The text in global memory; a bitmap format is listed first so that
    // the reader has to go on to the next format.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        *medium = STGMEDIUM{};
        if (!textFormat_ || format->cfFormat != CF_UNICODETEXT || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        return TextMedium(text_, medium);
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return textFormat_ && format->cfFormat == CF_UNICODETEXT ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        *out = nullptr;
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC formats[] = {{CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI},
                               {CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}};
        return SHCreateStdEnumFmtEtc(textFormat_ ? 2 : 1, formats, out);
    }

private:
    void* Cast(REFIID iid) override { return CastOleAndData(iid); }

    std::wstring text_;
    bool textFormat_;
};

// Puts a recipient object at the caret of a rich-edit control.
inline bool InsertRecipient(HWND edit, const std::wstring& text, bool textFormat = true) {
    com_ptr<IRichEditOle> ole;
    SendMessageW(edit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
    if (!ole) return false;
    auto object = com_ptr<IOleObject>::attach(new RecipientObject(text, textFormat));
    REOBJECT reo{};
    reo.cbStruct = sizeof reo;
    reo.cp = REO_CP_SELECTION;
    reo.poleobj = object.get();
    reo.dvaspect = DVASPECT_CONTENT;
    object->GetExtent(DVASPECT_CONTENT, &reo.sizel);
    return SUCCEEDED(ole->InsertObject(&reo));
}

// Wine's rich edit answers EM_GETTEXTEX with a space where an object sits;
// the client's control on Windows answers U+FFFC there, which is what the
// library looks for. Makes a test's control answer as the client's does.
inline LRESULT CALLBACK MarkObjectsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, MarkObjectsProc, 0);
    const LRESULT length = DefSubclassProc(hwnd, msg, wp, lp);
    const auto* request = reinterpret_cast<const GETTEXTEX*>(wp);
    if (msg != EM_GETTEXTEX || length <= 0 || !request || request->codepage != 1200 || !lp) return length;
    com_ptr<IRichEditOle> ole;
    SendMessageW(hwnd, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
    const LONG objects = ole ? ole->GetObjectCount() : 0;
    for (LONG k = 0; k < objects; ++k) {
        REOBJECT object{};
        object.cbStruct = sizeof object;
        if (FAILED(ole->GetObject(k, &object, REO_GETOBJ_NO_INTERFACES))) continue;
        if (object.cp >= 0 && object.cp < length) reinterpret_cast<wchar_t*>(lp)[object.cp] = 0xFFFC;
    }
    return length;
}
inline void MarkObjectsAsTheClientDoes(HWND edit) { SetWindowSubclass(edit, MarkObjectsProc, 0, 0); }

}  // namespace plume::test
