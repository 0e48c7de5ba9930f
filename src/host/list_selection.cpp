#include "host/list_selection.h"

#include <commctrl.h>

#include <vector>

#include "host/hooks.h"

namespace plume {
namespace {

int NextRow(HWND list, int start, UINT flags) {
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), flags));
}

void SetRowState(HWND list, int row, UINT state, UINT mask) {
    LVITEMA item{};
    item.state = state;
    item.stateMask = mask;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// Clears settingSelection however the change ends.
struct SettingSelectionScope {
    SettingSelectionScope() { SetSettingSelection(true); }
    ~SettingSelectionScope() { SetSettingSelection(false); }
};

}  // namespace

void PollSelection() {
    HWND list = ListView();
    if (!IsWindow(list)) return;
    const int n = static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
    std::vector<int> rows;
    rows.reserve(n > 0 ? n : 0);
    for (int r = NextRow(list, -1, LVNI_SELECTED); r != -1 && static_cast<int>(rows.size()) < n;
         r = NextRow(list, r, LVNI_SELECTED))
        rows.push_back(r);
    const int focused = NextRow(list, -1, LVNI_FOCUSED);
    if (auto report = Callbacks().onSelectionChanged)
        report(static_cast<int>(rows.size()), rows.data(), focused, 0);
}

void SetSelectedRows(int count, const int* rows) {
    HWND list = ListView();
    if (!IsWindow(list) || count < 1) return;
    SettingSelectionScope setting;
    for (int r = NextRow(list, -1, LVNI_SELECTED); r != -1; r = NextRow(list, r, LVNI_SELECTED))
        SetRowState(list, r, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (rows[0] != -1) SetRowState(list, rows[0], LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    for (int i = 1; i < count; ++i) SetRowState(list, rows[i], LVIS_SELECTED, LVIS_SELECTED);
    if (auto report = Callbacks().onSelectionChanged) report(count, const_cast<int*>(rows), rows[0], 0);
}

void AddSelectedRow(int row) { SetRowState(ListView(), row, LVIS_SELECTED, LVIS_SELECTED); }

int IsAnyRowSelected() {
    HWND list = ListView();
    return IsWindow(list) && SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) != 0 ? 1 : 0;
}

}  // namespace plume
