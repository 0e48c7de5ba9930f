// Registration of the type library carried in this file and of the six
// classes as local servers whose executable is the mail client.
#pragma once

#include <objbase.h>
#include <string>

namespace plume {

// Full path of the client executable from its "InstallRoot", empty on failure.
std::string GetOEFullPath();

// Registers the type library in the file at `path`, also under the neutral
// locale: Wine finds a library registered for 1033 only when asked for 1033,
// and its type-library marshaller asks for locale 0.
HRESULT RegisterPlumeTypeLib(const wchar_t* path);
// Removes what RegisterPlumeTypeLib wrote.
HRESULT UnregisterPlumeTypeLib(const wchar_t* path);

HRESULT RegisterServer();
HRESULT UnregisterServer();

// Writes (or with `unregister`, deletes) one class's keys under HKCR.
void RegisterClassKeys(bool unregister, const CLSID& clsid, const std::string& serverPath, const char* className,
                       const char* progId, const GUID& libId);

}  // namespace plume
