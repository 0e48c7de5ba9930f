#include "server/error_info.h"

#include <oleauto.h>
#include <string>

#include "bstr.h"
#include "com_ptr.h"
#include "log.h"

namespace plume {

void SetErrorInfoFor(HRESULT hr, const wchar_t* description, const char* source, const IID& iid) {
    com_ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    std::wstring wideSource;
    try {
        wideSource = AnsiToWide(source);
    } catch (...) {
    }
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(wideSource.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description ? description : L""));
    com_ptr<IErrorInfo> info = create.query<IErrorInfo>(IID_IErrorInfo);
    if (info) SetErrorInfo(0, info.get());
    Log(4, "%s: failed %08lx.\n", source, static_cast<unsigned long>(hr));
}

void ThrowIfFailedKeepingDescription(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    std::wstring description;
    com_ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        bstr text;
        if (SUCCEEDED(info->GetDescription(text.put())) && text.get()) description = text.get();
    }
    throw_com_error(hr, std::move(description));
}

HRESULT ErrorFromCurrentException(const char* source, const IID& iid) {
    HRESULT hr = E_FAIL;
    std::wstring description;
    try {
        throw;
    } catch (const com_error& e) {
        hr = e.hr();
        description = e.description();
    } catch (const std::bad_alloc&) {
        description = L"bad allocation";
    } catch (const std::exception& e) {
        try {
            description = AnsiToWide(e.what());
        } catch (...) {
            description = L"MultiByteToWideChar has failed";
        }
    } catch (HRESULT thrown) {
        hr = thrown;
    } catch (...) {
        hr = E_UNEXPECTED;
        description = L"unexpected error";
    }
    SetErrorInfoFor(hr, description.c_str(), source, iid);
    return hr;
}

}  // namespace plume
