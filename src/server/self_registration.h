// Registration of the type library carried in this file and of the six
// classes as local servers whose executable is the mail client.
#pragma once

#include <objbase.h>
#include <string>

namespace plume {

// Full path of the client executable from its "InstallRoot", empty on failure.
std::string GetOEFullPath();

HRESULT RegisterServer();
HRESULT UnregisterServer();

// Writes (or with `unregister`, deletes) one class's keys under HKCR.
void RegisterClassKeys(bool unregister, const CLSID& clsid, const std::string& serverPath, const char* className,
                       const char* progId, const GUID& libId);

}  // namespace plume
