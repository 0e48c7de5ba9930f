// The selected folder as the client's folder tree shows it.
#pragma once

#include <windows.h>

namespace plume {

// Client UI thread, on every retitling of the main window: reads the tree's
// selected folder and reports it, waiting until the event was raised.
void SetSelectedFolderName(HWND treeView);

}  // namespace plume
