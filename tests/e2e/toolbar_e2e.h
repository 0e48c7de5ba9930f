// Helpers of the toolbar end-to-end suite: an event sink that hands every
// event to a function, and bitmap files the client can load.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

namespace plume::test {

// Answers one event interface; every Invoke goes to `onEvent` with the
// event's DISPID and its 32-bit arguments in declaration order.
class EventSink final : public IDispatch {
public:
    using Handler = std::function<void(DISPID, std::vector<long>)>;
    EventSink(const IID& events, Handler onEvent) : events_(events), onEvent_(std::move(onEvent)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        std::vector<long> args;
        for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
            VARIANT& v = params->rgvarg[i];
            args.push_back(V_VT(&v) == VT_I4 ? V_I4(&v) : -999999);
        }
        onEvent_(id, std::move(args));
        return S_OK;
    }

private:
    IID events_;
    Handler onEvent_;
    LONG refs_ = 1;
};

// A 24-bit bitmap file of one colour in the temporary folder; its path.
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
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(f, &file, sizeof file, &written, nullptr);
    WriteFile(f, &info, sizeof info, &written, nullptr);
    WriteFile(f, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

}  // namespace plume::test
