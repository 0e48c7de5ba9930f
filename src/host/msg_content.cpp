#include "host/msg_content.h"

#include <mshtml.h>
#include <richedit.h>
#include <richole.h>

#include "com_ptr.h"
#include "client_variant.h"
#include "host/msg_wnd_list.h"
#include "manager/callback_window.h"
#include "issued_pointers.h"
#include "proc_address.h"

namespace plume {
namespace {

using ObjectFromLresultFn = HRESULT(WINAPI*)(LRESULT, REFIID, WPARAM, void**);

// Loaded on first use and kept for the life of the process.
ObjectFromLresultFn ObjectFromLresultProc() {
    static HMODULE oleacc = LoadLibraryA("OLEACC.DLL");
    static ObjectFromLresultFn proc = GetProcAs<ObjectFromLresultFn>(oleacc, "ObjectFromLresult");
    return proc;
}

HWND Envelope(OEPluginMsgWnd* record) { return FindWindowExA(record->window, nullptr, "OE_Envelope", nullptr); }

HWND EnvelopeControl(OEPluginMsgWnd* record, int controlId) {
    HWND envelope = Envelope(record);
    return envelope ? GetDlgItem(envelope, controlId) : nullptr;
}

// The plain-text body editor: a "RichEdit50W" with no "RichEdit20W" beside it.
HWND PlainTextEditor(OEPluginMsgWnd* record) {
    HWND host = FindWindowExA(record->window, nullptr, "ME_DocHost", nullptr);
    HWND doc = host ? FindWindowExA(host, nullptr, "RichEdDoc Class", nullptr) : nullptr;
    if (!doc || FindWindowExA(doc, nullptr, "RichEdit20W", nullptr)) return nullptr;
    return FindWindowExA(doc, nullptr, "RichEdit50W", nullptr);
}

DWORD CALLBACK AppendStreamed(DWORD_PTR cookie, BYTE* buffer, LONG cb, LONG* taken) {
    reinterpret_cast<std::wstring*>(cookie)->append(reinterpret_cast<const wchar_t*>(buffer), cb / 2);
    *taken = cb;
    return 0;
}

bstr StreamOutText(HWND control) {
    std::wstring text;
    EDITSTREAM es{reinterpret_cast<DWORD_PTR>(&text), 0, AppendStreamed};
    SendMessageA(control, EM_STREAMOUT, SF_TEXTIZED | SF_UNICODE, reinterpret_cast<LPARAM>(&es));
    return bstr(text);
}

struct StreamSource {
    const BYTE* data;
    LONG length;
    LONG position;
};

DWORD CALLBACK CopyStreamed(DWORD_PTR cookie, BYTE* buffer, LONG cb, LONG* copied) {
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    LONG n = std::min(cb, source->length - source->position);
    memcpy(buffer, source->data + source->position, n);
    source->position += n;
    *copied = n;
    return 0;
}

// The Unicode text of a resolved recipient (an embedded object).
void AppendObjectText(IRichEditOle* ole, LONG index, std::wstring& out) {
    REOBJECT object{};
    object.cbStruct = sizeof(REOBJECT);
    if (FAILED(ole->GetObject(index, &object, REO_GETOBJ_POLEOBJ)) || !object.poleobj) return;
    com_ptr<IOleObject> oleObject = com_ptr<IOleObject>::attach(object.poleobj);
    com_ptr<IDataObject> data;
    if (FAILED(oleObject->GetClipboardData(0, data.put())) || !data) return;
    com_ptr<IEnumFORMATETC> formats;
    if (FAILED(data->EnumFormatEtc(DATADIR_GET, formats.put())) || !formats) return;
    FORMATETC format;
    while (formats->Next(1, &format, nullptr) == S_OK) {
        if (format.tymed & TYMED_HGLOBAL) {
            STGMEDIUM medium{};
            if (SUCCEEDED(data->GetData(&format, &medium))) {
                if (format.cfFormat == CF_UNICODETEXT && medium.tymed == TYMED_HGLOBAL) {
                    if (auto* text = static_cast<const wchar_t*>(GlobalLock(medium.hGlobal))) {
                        out += text;
                        GlobalUnlock(medium.hGlobal);
                    }
                }
                ReleaseStgMedium(&medium);
            }
        }
        CoTaskMemFree(format.ptd);
    }
}

com_ptr<IHTMLElement> DocumentBody(const com_ptr<IHTMLDocument2>& document) {
    com_ptr<IHTMLElement> body;
    if (document) document->get_body(body.put());
    return body;
}

bstr BodyInnerHtml(const com_ptr<IHTMLDocument2>& document) {
    bstr html;
    if (com_ptr<IHTMLElement> body = DocumentBody(document)) body->get_innerHTML(html.put());
    return html;
}

}  // namespace

HWND FindBrowserWindow(OEPluginMsgWnd* record) {
    if (record->closing || !IsWindow(record->window)) return nullptr;
    HWND root = record->window;
    if (record->toolbarHost) {
        HWND host = FindWindowExA(record->window, nullptr, "ME_DocHost", nullptr);
        root = host ? FindWindowExA(host, nullptr, "##MimeEdit_Server", nullptr) : nullptr;
        if (!root) return nullptr;
    }
    record->browserWindow = FindWindowExA(root, nullptr, "Internet Explorer_Server", nullptr);
    return record->browserWindow;
}

com_ptr<IHTMLDocument2> GetDocument(OEPluginMsgWnd* record) {
    if (!FindBrowserWindow(record)) return nullptr;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(record->browserWindow, Messages().htmlGetObject, 0, 0, SMTO_ABORTIFHUNG, 3000, &result);
    ObjectFromLresultFn fromLresult = ObjectFromLresultProc();
    if (!fromLresult) return nullptr;
    // Unmarshalled into the calling thread's apartment: a proxy on the server
    // thread, the object itself on the window's thread.
    com_ptr<IHTMLDocument2> document;
    if (FAILED(fromLresult(static_cast<LRESULT>(result), IID_IHTMLDocument2, 0, document.put_void()))) return nullptr;
    return document;
}

bstr GetEnvelopeField(OEPluginMsgWnd* record, int controlId) {
    if (record->closing) return {};
    HWND control = EnvelopeControl(record, controlId);
    if (!control) return {};
    if (IsWindowsMail()) {
        if (!IsWindowVisible(control)) return {};
        return StreamOutText(control);
    }
    GETTEXTLENGTHEX lengthQuery{GTL_DEFAULT, 1200};
    LRESULT n = SendMessageA(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthQuery), 0);
    if (n <= 0) return {};
    IRichEditOle* rawOle = nullptr;
    if (!SendMessageA(control, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(&rawOle)) || !rawOle) return {};
    com_ptr<IRichEditOle> ole = com_ptr<IRichEditOle>::attach(rawOle);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GETTEXTEX get{static_cast<DWORD>((n + 1) * 2), GT_DEFAULT, 1200, nullptr, nullptr};
    if (!SendMessageA(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(text.data())))
        return {};
    std::wstring result;
    LONG objectIndex = 0;
    for (const wchar_t* p = text.c_str(); *p; ++p) {
        if (*p == 0xFFFC)
            AppendObjectText(ole.get(), objectIndex++, result);
        else
            result += *p;
    }
    return bstr(result);
}

int SetEnvelopeField(OEPluginMsgWnd* record, int controlId, const wchar_t* text) {
    if (record->closing) return 0;
    HWND control = EnvelopeControl(record, controlId);
    if (!control) return 0;
    SETTEXTEX set{ST_DEFAULT, 1200};
    int result = static_cast<int>(SendMessageA(control, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set),
                                               reinterpret_cast<LPARAM>(text ? text : L"")));
    SendMessageA(control, EM_SETMODIFY, TRUE, 0);
    return result;
}

bstr GetBody(OEPluginMsgWnd* record) {
    if (record->closing) return {};
    if (com_ptr<IHTMLDocument2> document = GetDocument(record)) return BodyInnerHtml(document);
    HWND editor = PlainTextEditor(record);
    return editor ? StreamOutText(editor) : bstr();
}

LONG GetBodyLength(OEPluginMsgWnd* record) {
    if (record->closing) return 0;
    com_ptr<IHTMLDocument2> document = GetDocument(record);
    return document ? static_cast<LONG>(BodyInnerHtml(document).length()) : 0;
}

namespace {

// Texts that a "WM_SET_BODY" of this library carries while it is sent.
issued_pointers& BodyTexts() {
    static issued_pointers* texts = new issued_pointers;
    return *texts;
}

int SendBody(OEPluginMsgWnd* record, const wchar_t* text, bool html) {
    if (record->closing) return 0;
    std::wstring copy = text ? text : L"";
    BodyTexts().issue(copy.c_str());
    const LRESULT result = SendMessageA(record->window, Messages().setBody,
                                        reinterpret_cast<WPARAM>(copy.c_str()), html ? 1 : 0);
    BodyTexts().withdraw(copy.c_str());
    return static_cast<int>(result);
}

}  // namespace

const wchar_t* ClaimBodyText(WPARAM wParam) {
    const auto* text = reinterpret_cast<const wchar_t*>(wParam);
    return BodyTexts().contains(text) ? text : nullptr;
}

int SetBody(OEPluginMsgWnd* record, const wchar_t* text) { return SendBody(record, text, false); }
int SetBodyHTML(OEPluginMsgWnd* record, const wchar_t* text) { return SendBody(record, text, true); }

std::wstring RebuildDocument(const std::wstring& documentHtml, const std::wstring& body) {
    size_t open = documentHtml.find(L"<BODY");
    size_t close = open == std::wstring::npos ? open : documentHtml.find(L'>', open);
    if (close == std::wstring::npos) return L"<HTML><BODY>" + body + L"</BODY></HTML>";
    std::wstring out = documentHtml.substr(0, close + 1) + body;
    size_t end = documentHtml.find(L"</BODY>", close + 1);
    out += end == std::wstring::npos ? std::wstring(L"</BODY></HTML>") : documentHtml.substr(end);
    return out;
}

int SetBodyNow(OEPluginMsgWnd* record, const wchar_t* text, bool html) {
    const wchar_t* body = text ? text : L"";
    if (com_ptr<IHTMLDocument2> doc = GetDocument(record)) {
        com_ptr<IHTMLElement> element = DocumentBody(doc);
        if (!element) return 0;
        if (html) {
            bstr value(body);
            return SUCCEEDED(element->put_innerHTML(value.get())) ? 1 : 0;
        }
        bstr empty(L"");
        element->put_innerHTML(empty.get());
        com_ptr<IHTMLElement> parent;
        element->get_parentElement(parent.put());
        bstr outer;
        if (parent) parent->get_outerHTML(outer.put());
        std::wstring rebuilt = RebuildDocument(outer.str(), body);

        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        if (!array) return 0;
        VARIANT* slot = nullptr;
        SafeArrayAccessData(array, reinterpret_cast<void**>(&slot));
        V_VT(slot) = VT_BSTR;
        V_BSTR(slot) = SysAllocStringLen(rebuilt.data(), static_cast<UINT>(rebuilt.size()));
        SafeArrayUnaccessData(array);
        doc->write(array);
        HRESULT closed = doc->close();
        SafeArrayDestroy(array);  // frees the string
        return SUCCEEDED(closed) ? 1 : 0;
    }
    HWND editor = PlainTextEditor(record);
    if (!editor) return 0;
    StreamSource source{reinterpret_cast<const BYTE*>(body), static_cast<LONG>(wcslen(body) * 2), 0};
    EDITSTREAM es{reinterpret_cast<DWORD_PTR>(&source), 0, CopyStreamed};
    SendMessageA(editor, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&es));
    return 1;
}

IDispatch* GetDocumentDispatch(OEPluginMsgWnd* record) {
    com_ptr<IHTMLDocument2> document = GetDocument(record);
    if (!document) return nullptr;
    IDispatch* out = nullptr;
    document->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out));
    return out;
}

}  // namespace plume
