// The class objects of the six automation classes and their registration with
// COM as a local server.
#pragma once

#include <objbase.h>

namespace plume {

// The static class factory of `clsid`, or null for any other class. No
// reference is added: class factories live as long as the process.
IClassFactory* FindClassFactory(const CLSID& clsid);

struct ClassObjectRegistration {
    // Registers the six class objects (CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE)
    // in their fixed order, stopping at the first failure.
    HRESULT Register();
    // Revokes what Register registered, in registration order.
    void Revoke();
    bool registered() const { return count_ == 6; }

    DWORD cookies_[6] = {};
    int count_ = 0;
};

// IClassFactory::LockServer's count; it has no effect on the server's lifetime.
LONG ServerLockCount();

}  // namespace plume
