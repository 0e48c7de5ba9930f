#include "mime_message.h"

#include <propidl.h>

#include <cstring>

#include "bstr.h"
#include "sync.h"

namespace msoe {

const IID IID_MimeMessage = {0xFD853CD5, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

namespace {

using AnyFn = void (*)();
constexpr int kTableSize = 48;
constexpr int kGetBodyProp = 33, kSetBodyProp = 34;

volatile LONG g_live = 0;

// Properties kept in fields of the message rather than in its property map.
std::wstring* AccountField(Message& m, const PropertyKey& key) {
    if (key.name.empty() && key.id == kAccountIdProperty) return &m.accountId;
    if (key.name == kAccountNameProperty) return &m.accountName;
    return nullptr;
}

std::string MapName(const PropertyKey& key) { return key.name.empty() ? "#" + std::to_string(key.id) : key.name; }

struct MimeObject {
    AnyFn* vtbl;
    volatile LONG refs;
    plume::critical_section lock;
    Message message;
};

MimeObject* Self(IUnknown* o) { return reinterpret_cast<MimeObject*>(o); }

ULONG STDMETHODCALLTYPE AddRef(MimeObject* self) { return InterlockedIncrement(&self->refs); }
ULONG STDMETHODCALLTYPE Release(MimeObject* self) {
    LONG n = InterlockedDecrement(&self->refs);
    if (n == 0) {
        delete self;
        InterlockedDecrement(&g_live);
    }
    return n;
}
HRESULT STDMETHODCALLTYPE NotImplemented(MimeObject*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE Query(MimeObject* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_MimeMessage)) return E_NOINTERFACE;
    AddRef(self);
    *out = self;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetBodyProp(MimeObject* self, UINT_PTR body, const char* name, DWORD, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    PropVariantInit(value);
    if (body != kRootBody || !name) return E_INVALIDARG;
    std::string text;
    try {
        plume::cs_lock hold(self->lock);
        if (!GetBodyProperty(self->message, PropertyKey::FromArgument(name), &text)) return kPropertyNotFound;
    } catch (...) {
        return E_FAIL;
    }
    char* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, text.c_str(), text.size() + 1);
    value->vt = VT_LPSTR;
    value->pszVal = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SetBodyProp(MimeObject* self, UINT_PTR body, const char* name, DWORD, const PROPVARIANT* value) {
    if (!value || !name) return E_POINTER;
    if (body != kRootBody) return E_INVALIDARG;
    try {
        std::string text;
        if (value->vt == VT_LPSTR) text = value->pszVal ? value->pszVal : "";
        else if (value->vt == VT_LPWSTR) text = plume::WideToAnsi(value->pwszVal ? value->pwszVal : L"");
        else return DISP_E_TYPEMISMATCH;
        plume::cs_lock hold(self->lock);
        SetBodyProperty(self->message, PropertyKey::FromArgument(name), text);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

AnyFn* Table() {
    static AnyFn* table = [] {
        static AnyFn t[kTableSize];
        for (auto& e : t) e = reinterpret_cast<AnyFn>(NotImplemented);
        t[0] = reinterpret_cast<AnyFn>(Query);
        t[1] = reinterpret_cast<AnyFn>(AddRef);
        t[2] = reinterpret_cast<AnyFn>(Release);
        t[kGetBodyProp] = reinterpret_cast<AnyFn>(GetBodyProp);
        t[kSetBodyProp] = reinterpret_cast<AnyFn>(SetBodyProp);
        return t;
    }();
    return table;
}

}  // namespace

PropertyKey PropertyKey::FromArgument(const void* nameOrId) {
    PropertyKey key;
    auto raw = reinterpret_cast<uintptr_t>(nameOrId);
    if (raw < kFirstPropertyName) key.id = raw;
    else key.name = static_cast<const char*>(nameOrId);
    return key;
}

PropertyKey PropertyKey::FromText(const std::wstring& text) {
    PropertyKey key;
    if (!text.empty() && text.find_first_not_of(L"0123456789") == std::wstring::npos && text.size() < 6 &&
        std::stoul(text) < kFirstPropertyName)
        key.id = std::stoul(text);
    else
        key.name = plume::WideToAnsi(text.c_str());
    return key;
}

bool GetBodyProperty(const Message& message, const PropertyKey& key, std::string* value) {
    if (std::wstring* field = AccountField(const_cast<Message&>(message), key)) {
        if (field->empty()) return false;
        *value = plume::WideToAnsi(field->c_str());
        return true;
    }
    auto it = message.properties.find(MapName(key));
    if (it == message.properties.end()) return false;
    *value = it->second;
    return true;
}

void SetBodyProperty(Message& message, const PropertyKey& key, const std::string& value) {
    if (std::wstring* field = AccountField(message, key)) *field = plume::AnsiToWide(value.c_str());
    else message.properties[MapName(key)] = value;
}

IUnknown* NewMimeMessage(const Message& message) {
    InterlockedIncrement(&g_live);
    auto* o = new MimeObject{Table(), 1, {}, message};
    return reinterpret_cast<IUnknown*>(o);
}

bool MimeMessageContent(IUnknown* object, Message* out) {
    if (!object || *reinterpret_cast<AnyFn**>(object) != Table()) return false;
    MimeObject* self = Self(object);
    plume::cs_lock hold(self->lock);
    *out = self->message;
    return true;
}

long LiveMimeMessages() { return g_live; }

}  // namespace msoe
