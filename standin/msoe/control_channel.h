// The control channel: a late-bound automation object ("PLUMEStandin.Client")
// through which tests and scripts in other processes act as the user and read
// back what the client's windows show. Its class object is registered on the
// client's user-interface thread, so every call runs there.
#pragma once

#include <windows.h>

#include <vector>

namespace msoe {

// {5E1D2C3B-7A4F-4C1E-9B2D-8F6A0C1E3D71}
constexpr CLSID kClsidStandinClient = {0x5e1d2c3b, 0x7a4f, 0x4c1e, {0x9b, 0x2d, 0x8f, 0x6a, 0x0c, 0x1e, 0x3d, 0x71}};

// A message-only window of this class answers the registered message
// "PLUMEStandin.GetControl" with LresultFromObject(IID_IDispatch, wParam, a
// new control object): a way to the control object of one given process that
// does not depend on the class registration.
constexpr wchar_t kControlWindowClass[] = L"PLUMEStandin Control Window";
constexpr char kGetControlMessage[] = "PLUMEStandin.GetControl";

// Registers the class object (CLSCTX_LOCAL_SERVER) and creates the control
// window; false when neither is available.
bool RegisterControlChannel();
void RevokeControlChannel();
// Starts recording the given messages as they reach `hwnd`, before the
// control object exists (command-line switch /watch:n,n,...).
void WatchFromStart(HWND hwnd, const std::vector<UINT>& messages);

}  // namespace msoe
