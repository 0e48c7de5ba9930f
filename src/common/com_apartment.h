// The calling thread's membership of a COM apartment for the life of the
// object: CoInitializeEx now, CoUninitialize at the end when it succeeded.
#pragma once

#include <objbase.h>

namespace plume {

class com_apartment {
public:
    explicit com_apartment(DWORD model = COINIT_APARTMENTTHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~com_apartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;

    // S_OK for a new membership, S_FALSE where the thread already belonged.
    HRESULT result() const { return result_; }
    bool ok() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};

}  // namespace plume
