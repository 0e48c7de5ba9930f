// The document object is built on the C layout of the MSHTML interfaces: its
// tables are filled with a stub that answers E_NOTIMPL, and the members the
// client supports are set by name. Every slot takes the object first and the
// caller cleans up the stack, so one stub serves any slot.
#define CINTERFACE
#define COBJMACROS
#include "html_document.h"

#include <mshtml.h>
#include <oleauto.h>

#include <cwctype>
#include <vector>

namespace msoe {
namespace {

// {332C4425-26CB-11D0-B483-00C04FD90119}
const GUID kIID_IHTMLDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// {626FC520-A41E-11CF-A731-00A0C9082637}
const GUID kIID_IHTMLDocument = {0x626FC520, 0xA41E, 0x11CF, {0xA7, 0x31, 0x00, 0xA0, 0xC9, 0x08, 0x26, 0x37}};
// {3050F1FF-98B5-11CF-BB82-00AA00BDCE0B}
const GUID kIID_IHTMLElement = {0x3050F1FF, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
// {3050F1C5-98B5-11CF-BB82-00AA00BDCE0B}
const GUID kLIBID_MSHTML = {0x3050F1C5, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};

volatile LONG g_live = 0;

HRESULT STDMETHODCALLTYPE NotImplemented(void*) { return E_NOTIMPL; }

template <typename Vtbl>
void FillWithStub(Vtbl* vtbl) {
    void** slots = reinterpret_cast<void**>(vtbl);
    for (size_t i = 0; i < sizeof(Vtbl) / sizeof(void*); ++i) slots[i] = reinterpret_cast<void*>(&NotImplemented);
}

bool StartsWithNoCase(const std::wstring& s, size_t pos, const wchar_t* what) {
    for (size_t i = 0; what[i]; ++i)
        if (pos + i >= s.size() || towlower(s[pos + i]) != towlower(what[i])) return false;
    return true;
}

size_t FindNoCase(const std::wstring& s, const wchar_t* what, size_t from = 0) {
    for (size_t i = from; i < s.size(); ++i)
        if (StartsWithNoCase(s, i, what)) return i;
    return std::wstring::npos;
}

// The vtable-interface type information of a dual MSHTML interface; null
// when the MSHTML type library is not available.
ITypeInfo* LoadMshtmlTypeInfo(const GUID& iid) {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadRegTypeLib(kLIBID_MSHTML, 4, 0, 0, &lib)) && FAILED(LoadTypeLib(L"mshtml.tlb", &lib))) return nullptr;
    ITypeInfo* info = nullptr;
    HRESULT hr = ITypeLib_GetTypeInfoOfGuid(lib, iid, &info);
    ITypeLib_Release(lib);
    if (FAILED(hr)) return nullptr;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(ITypeInfo_GetTypeAttr(info, &attr))) {
        TYPEKIND kind = attr->typekind;
        ITypeInfo_ReleaseTypeAttr(info, attr);
        if (kind == TKIND_DISPATCH) {
            HREFTYPE ref = 0;
            ITypeInfo* vtblInfo = nullptr;
            if (SUCCEEDED(ITypeInfo_GetRefTypeOfImplType(info, -1, &ref)) &&
                SUCCEEDED(ITypeInfo_GetRefTypeInfo(info, ref, &vtblInfo))) {
                ITypeInfo_Release(info);
                info = vtblInfo;
            }
        }
    }
    return info;
}

// Cached for the life of the process; each call hands out a new reference.
ITypeInfo* MshtmlTypeInfo(const GUID& iid) {
    static ITypeInfo* const document = LoadMshtmlTypeInfo(kIID_IHTMLDocument2);
    static ITypeInfo* const element = LoadMshtmlTypeInfo(kIID_IHTMLElement);
    ITypeInfo* info = IsEqualIID(iid, kIID_IHTMLDocument2) ? document : element;
    if (info) ITypeInfo_AddRef(info);
    return info;
}

BSTR AllocString(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

// The HTML engine of a message view belongs to the thread that made it, as
// the client's does: reached from another thread without marshalling it
// refuses every call, and counts such calls and reference changes.
volatile LONG g_wrongThread = 0;
bool OnWrongThread(DWORD owner) {
    if (GetCurrentThreadId() == owner) return false;
    InterlockedIncrement(&g_wrongThread);
    return true;
}

// ---------------------------------------------------------------- elements

enum class ElementKind { Body, Html };

struct Element {
    IHTMLElement iface;
    LONG refs;
    ElementKind kind;
    std::shared_ptr<HtmlContent> content;
    DWORD thread = GetCurrentThreadId();
};

Element* ElementFrom(IHTMLElement* p) { return CONTAINING_RECORD(p, Element, iface); }
IHTMLElement* NewElement(ElementKind kind, std::shared_ptr<HtmlContent> content);

HRESULT STDMETHODCALLTYPE ElQueryInterface(IHTMLElement* self, REFIID iid, void** out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIID_IHTMLElement)) {
        *out = self;
        IHTMLElement_AddRef(self);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE ElAddRef(IHTMLElement* self) {
    OnWrongThread(ElementFrom(self)->thread);
    return InterlockedIncrement(&ElementFrom(self)->refs);
}
ULONG STDMETHODCALLTYPE ElRelease(IHTMLElement* self) {
    OnWrongThread(ElementFrom(self)->thread);
    Element* e = ElementFrom(self);
    LONG n = InterlockedDecrement(&e->refs);
    if (n == 0) {
        delete e;
        InterlockedDecrement(&g_live);
    }
    return n;
}
HRESULT STDMETHODCALLTYPE ElGetTypeInfoCount(IHTMLElement*, UINT* count) {
    if (!count) return E_POINTER;
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLElement);
    *count = info ? 1 : 0;
    if (info) ITypeInfo_Release(info);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElGetTypeInfo(IHTMLElement*, UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = index == 0 ? MshtmlTypeInfo(kIID_IHTMLElement) : nullptr;
    return *out ? S_OK : DISP_E_BADINDEX;
}
HRESULT STDMETHODCALLTYPE ElGetIDsOfNames(IHTMLElement*, REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLElement);
    if (!info) return E_NOTIMPL;
    HRESULT hr = DispGetIDsOfNames(info, names, count, ids);
    ITypeInfo_Release(info);
    return hr;
}
HRESULT STDMETHODCALLTYPE ElInvoke(IHTMLElement* self, DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* argErr) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLElement);
    if (!info) return E_NOTIMPL;
    HRESULT hr = DispInvoke(self, info, id, flags, params, result, nullptr, argErr);
    ITypeInfo_Release(info);
    return hr;
}
HRESULT STDMETHODCALLTYPE ElGetInnerHTML(IHTMLElement* self, BSTR* out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    Element* e = ElementFrom(self);
    *out = AllocString(e->kind == ElementKind::Body ? e->content->BodyInner() : e->content->HtmlInner());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElPutInnerHTML(IHTMLElement* self, BSTR value) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    Element* e = ElementFrom(self);
    std::wstring text(value ? value : L"", value ? SysStringLen(value) : 0);
    if (e->kind == ElementKind::Body) e->content->SetBodyInner(text);
    else e->content->SetDocument(L"<HTML>" + text + L"</HTML>");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElGetInnerText(IHTMLElement* self, BSTR* out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    Element* e = ElementFrom(self);
    *out = AllocString(HtmlToText(e->kind == ElementKind::Body ? e->content->BodyInner() : e->content->HtmlInner()));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElPutInnerText(IHTMLElement* self, BSTR value) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    Element* e = ElementFrom(self);
    std::wstring html = TextToHtml(std::wstring(value ? value : L"", value ? SysStringLen(value) : 0));
    if (e->kind == ElementKind::Body) e->content->SetBodyInner(html);
    else e->content->SetDocument(L"<HTML><BODY>" + html + L"</BODY></HTML>");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElGetOuterHTML(IHTMLElement* self, BSTR* out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    Element* e = ElementFrom(self);
    *out = AllocString(e->kind == ElementKind::Body ? e->content->BodyOuter() : e->content->Document());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElGetParentElement(IHTMLElement* self, IHTMLElement** out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    Element* e = ElementFrom(self);
    *out = e->kind == ElementKind::Body ? NewElement(ElementKind::Html, e->content) : nullptr;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE ElGetTagName(IHTMLElement* self, BSTR* out) {
    if (OnWrongThread(ElementFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    *out = SysAllocString(ElementFrom(self)->kind == ElementKind::Body ? L"BODY" : L"HTML");
    return S_OK;
}

const IHTMLElementVtbl* ElementVtbl() {
    static const IHTMLElementVtbl vtbl = [] {
        IHTMLElementVtbl v;
        FillWithStub(&v);
        v.QueryInterface = ElQueryInterface;
        v.AddRef = ElAddRef;
        v.Release = ElRelease;
        v.GetTypeInfoCount = ElGetTypeInfoCount;
        v.GetTypeInfo = ElGetTypeInfo;
        v.GetIDsOfNames = ElGetIDsOfNames;
        v.Invoke = ElInvoke;
        v.get_innerHTML = ElGetInnerHTML;
        v.put_innerHTML = ElPutInnerHTML;
        v.get_innerText = ElGetInnerText;
        v.put_innerText = ElPutInnerText;
        v.get_outerHTML = ElGetOuterHTML;
        v.get_parentElement = ElGetParentElement;
        v.get_tagName = ElGetTagName;
        return v;
    }();
    return &vtbl;
}

IHTMLElement* NewElement(ElementKind kind, std::shared_ptr<HtmlContent> content) {
    Element* e = new Element{{const_cast<IHTMLElementVtbl*>(ElementVtbl())}, 1, kind, std::move(content)};
    InterlockedIncrement(&g_live);
    return &e->iface;
}

// ---------------------------------------------------------------- document

struct Document {
    IHTMLDocument2 iface;
    LONG refs;
    std::shared_ptr<HtmlContent> content;
    bool writing;
    std::wstring written;
    DWORD thread = GetCurrentThreadId();
};

Document* DocumentFrom(IHTMLDocument2* p) { return CONTAINING_RECORD(p, Document, iface); }

HRESULT STDMETHODCALLTYPE DocQueryInterface(IHTMLDocument2* self, REFIID iid, void** out) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIID_IHTMLDocument) ||
        IsEqualIID(iid, kIID_IHTMLDocument2)) {
        *out = self;
        IHTMLDocument2_AddRef(self);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE DocAddRef(IHTMLDocument2* self) {
    OnWrongThread(DocumentFrom(self)->thread);
    return InterlockedIncrement(&DocumentFrom(self)->refs);
}
ULONG STDMETHODCALLTYPE DocRelease(IHTMLDocument2* self) {
    OnWrongThread(DocumentFrom(self)->thread);
    Document* d = DocumentFrom(self);
    LONG n = InterlockedDecrement(&d->refs);
    if (n == 0) {
        delete d;
        InterlockedDecrement(&g_live);
    }
    return n;
}
HRESULT STDMETHODCALLTYPE DocGetTypeInfoCount(IHTMLDocument2*, UINT* count) {
    if (!count) return E_POINTER;
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLDocument2);
    *count = info ? 1 : 0;
    if (info) ITypeInfo_Release(info);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocGetTypeInfo(IHTMLDocument2*, UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = index == 0 ? MshtmlTypeInfo(kIID_IHTMLDocument2) : nullptr;
    return *out ? S_OK : DISP_E_BADINDEX;
}
HRESULT STDMETHODCALLTYPE DocGetIDsOfNames(IHTMLDocument2*, REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLDocument2);
    if (!info) return E_NOTIMPL;
    HRESULT hr = DispGetIDsOfNames(info, names, count, ids);
    ITypeInfo_Release(info);
    return hr;
}
HRESULT STDMETHODCALLTYPE DocInvoke(IHTMLDocument2* self, DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO*, UINT* argErr) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    ITypeInfo* info = MshtmlTypeInfo(kIID_IHTMLDocument2);
    if (!info) return E_NOTIMPL;
    HRESULT hr = DispInvoke(self, info, id, flags, params, result, nullptr, argErr);
    ITypeInfo_Release(info);
    return hr;
}
HRESULT STDMETHODCALLTYPE DocGetBody(IHTMLDocument2* self, IHTMLElement** out) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    if (!out) return E_POINTER;
    *out = NewElement(ElementKind::Body, DocumentFrom(self)->content);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocGetReadyState(IHTMLDocument2*, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(L"complete");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocGetUrl(IHTMLDocument2*, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(L"about:blank");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocGetTitle(IHTMLDocument2*, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(L"");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocGetCharset(IHTMLDocument2*, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(L"utf-8");
    return S_OK;
}
HRESULT Append(Document* d, SAFEARRAY* array, bool newline) {
    if (!array) return E_INVALIDARG;
    if (!d->writing) {  // writing into a closed document opens it
        d->writing = true;
        d->written.clear();
    }
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(array, &type)) || type != VT_VARIANT || SafeArrayGetDim(array) != 1) return E_INVALIDARG;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(array, 1, &lo);
    SafeArrayGetUBound(array, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        VARIANT v, s;
        VariantInit(&v);
        VariantInit(&s);
        if (FAILED(SafeArrayGetElement(array, &i, &v))) return E_INVALIDARG;
        if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR)) && s.bstrVal)
            d->written.append(s.bstrVal, SysStringLen(s.bstrVal));
        VariantClear(&s);
        VariantClear(&v);
    }
    if (newline) d->written += L"\r\n";
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocWrite(IHTMLDocument2* self, SAFEARRAY* array) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    return Append(DocumentFrom(self), array, false);
}
HRESULT STDMETHODCALLTYPE DocWriteln(IHTMLDocument2* self, SAFEARRAY* array) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    return Append(DocumentFrom(self), array, true);
}
HRESULT STDMETHODCALLTYPE DocOpen(IHTMLDocument2* self, BSTR, VARIANT, VARIANT, VARIANT, IDispatch** out) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    Document* d = DocumentFrom(self);
    d->writing = true;
    d->written.clear();
    if (out) {
        *out = reinterpret_cast<IDispatch*>(self);
        IHTMLDocument2_AddRef(self);
    }
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocClose(IHTMLDocument2* self) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    Document* d = DocumentFrom(self);
    if (!d->writing) return S_OK;
    d->writing = false;
    d->content->SetDocument(d->written);
    d->written.clear();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DocClear(IHTMLDocument2* self) {
    if (OnWrongThread(DocumentFrom(self)->thread)) return RPC_E_WRONG_THREAD;
    DocumentFrom(self)->written.clear();
    return S_OK;
}

const IHTMLDocument2Vtbl* DocumentVtbl() {
    static const IHTMLDocument2Vtbl vtbl = [] {
        IHTMLDocument2Vtbl v;
        FillWithStub(&v);
        v.QueryInterface = DocQueryInterface;
        v.AddRef = DocAddRef;
        v.Release = DocRelease;
        v.GetTypeInfoCount = DocGetTypeInfoCount;
        v.GetTypeInfo = DocGetTypeInfo;
        v.GetIDsOfNames = DocGetIDsOfNames;
        v.Invoke = DocInvoke;
        v.get_body = DocGetBody;
        v.get_readyState = DocGetReadyState;
        v.get_URL = DocGetUrl;
        v.get_title = DocGetTitle;
        v.get_charset = DocGetCharset;
        v.write = DocWrite;
        v.writeln = DocWriteln;
        v.open = DocOpen;
        v.close = DocClose;
        v.clear = DocClear;
        return v;
    }();
    return &vtbl;
}

}  // namespace

// ---------------------------------------------------------------- content

void HtmlContent::SetDocument(const std::wstring& html) {
    {
        plume::cs_lock hold(lock_);
        size_t body = FindNoCase(html, L"<body");
        size_t gt = body == std::wstring::npos ? body : html.find(L'>', body);
        if (gt == std::wstring::npos) {
            head_ = L"<HTML><HEAD></HEAD>\r\n";
            bodyTag_ = L"<BODY>";
            inner_ = html;
            tail_ = L"</HTML>";
        } else {
            head_ = html.substr(0, body);
            bodyTag_ = L"<BODY" + html.substr(body + 5, gt - body - 4);
            size_t end = FindNoCase(html, L"</body>", gt + 1);
            if (end == std::wstring::npos) {
                inner_ = html.substr(gt + 1);
                tail_ = L"</HTML>";
            } else {
                inner_ = html.substr(gt + 1, end - gt - 1);
                tail_ = html.substr(end + 7);
            }
        }
    }
    Changed();
}

std::wstring HtmlContent::Document() const {
    plume::cs_lock hold(lock_);
    return head_ + bodyTag_ + inner_ + L"</BODY>" + tail_;
}

std::wstring HtmlContent::BodyInner() const {
    plume::cs_lock hold(lock_);
    return inner_;
}

void HtmlContent::SetBodyInner(const std::wstring& html) {
    {
        plume::cs_lock hold(lock_);
        inner_ = html;
    }
    Changed();
}

std::wstring HtmlContent::BodyOuter() const {
    plume::cs_lock hold(lock_);
    return bodyTag_ + inner_ + L"</BODY>";
}

std::wstring HtmlContent::HtmlInner() const {
    std::wstring all = Document();
    size_t open = FindNoCase(all, L"<html");
    size_t start = open == std::wstring::npos ? 0 : all.find(L'>', open) + 1;
    size_t end = FindNoCase(all, L"</html>", start);
    return all.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

IUnknown* CreateHtmlDocument(std::shared_ptr<HtmlContent> content) {
    Document* d = new Document{{const_cast<IHTMLDocument2Vtbl*>(DocumentVtbl())}, 1, std::move(content), false, {}};
    InterlockedIncrement(&g_live);
    return reinterpret_cast<IUnknown*>(&d->iface);
}

long LiveHtmlObjects() { return g_live; }
long WrongThreadHtmlCalls() { return g_wrongThread; }

// ---------------------------------------------------------------- text

std::wstring HtmlToText(const std::wstring& html) {
    std::wstring out;
    bool space = false;
    auto breakLine = [&] {
        while (!out.empty() && out.back() == L' ') out.pop_back();
        out += L"\r\n";
        space = false;
    };
    size_t i = 0;
    while (i < html.size()) {
        wchar_t c = html[i];
        if (c == L'<') {
            size_t end = html.find(L'>', i);
            if (end == std::wstring::npos) break;
            std::wstring tag;
            size_t j = i + 1;
            bool closing = j < end && html[j] == L'/';
            if (closing) ++j;
            while (j < end && iswalnum(html[j])) tag += static_cast<wchar_t>(towlower(html[j++]));
            if (!closing && (tag == L"style" || tag == L"script" || tag == L"head" || tag == L"title")) {
                size_t skip = FindNoCase(html, (L"</" + tag).c_str(), end);
                i = skip == std::wstring::npos ? html.size() : html.find(L'>', skip) + 1;
                continue;
            }
            if (tag == L"br") breakLine();
            else if (tag == L"p" || tag == L"div" || tag == L"tr" || tag == L"blockquote" || tag == L"pre" ||
                     (tag.size() == 2 && tag[0] == L'h' && iswdigit(tag[1]))) {
                if (!out.empty() && out.back() != L'\n') breakLine();
            } else if (tag == L"li" && !closing) {
                if (!out.empty() && out.back() != L'\n') breakLine();
                out += L"\x2022 ";
            } else if (tag == L"td" && !closing && !out.empty() && out.back() != L'\n') {
                out += L"  ";
            }
            i = end + 1;
            continue;
        }
        if (c == L'&') {
            size_t semi = html.find(L';', i);
            if (semi != std::wstring::npos && semi - i <= 8) {
                std::wstring name = html.substr(i + 1, semi - i - 1);
                wchar_t decoded = 0;
                if (name == L"amp") decoded = L'&';
                else if (name == L"lt") decoded = L'<';
                else if (name == L"gt") decoded = L'>';
                else if (name == L"quot") decoded = L'"';
                else if (name == L"apos") decoded = L'\'';
                else if (name == L"nbsp") decoded = L' ';
                else if (!name.empty() && name[0] == L'#')
                    decoded = static_cast<wchar_t>(name.size() > 1 && (name[1] == L'x' || name[1] == L'X')
                                                       ? wcstol(name.c_str() + 2, nullptr, 16)
                                                       : wcstol(name.c_str() + 1, nullptr, 10));
                if (decoded) {
                    out += decoded;
                    space = false;
                    i = semi + 1;
                    continue;
                }
            }
        }
        if (c == L'\r' || c == L'\n' || c == L'\t' || c == L' ') {
            if (!space && !out.empty() && out.back() != L'\n') out += L' ';
            space = true;
            ++i;
            continue;
        }
        out += c;
        space = false;
        ++i;
    }
    while (!out.empty() && (out.back() == L' ' || out.back() == L'\n' || out.back() == L'\r')) out.pop_back();
    return out;
}

std::wstring TextToHtml(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'\r': break;
        case L'\n': out += L"<BR>"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace msoe
