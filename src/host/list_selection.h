// The hook layer's side of the message selection: reading and changing the
// selection of the client's message list view (ListView()).
// PollSelection runs on the client UI thread from the tick; the others on
// the server thread, reaching the control with SendMessageA.
#pragma once

#include <windows.h>

namespace plume {

// Reports the selected rows (in list order) and the focused row through
// onSelectionChanged.
void PollSelection();
// Exactly these rows become selected, the first one also focused; a first
// row of -1 only clears the selection. Reported at once.
void SetSelectedRows(int count, const int* rows);
// Adds a row to the selection; the next tick reports it.
void AddSelectedRow(int row);
int IsAnyRowSelected();

}  // namespace plume
