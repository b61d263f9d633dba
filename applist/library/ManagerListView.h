// The list views of the manager's dialogs: one column of items, some with check boxes. Each
// call is one message to the list, made from the list's own thread.
#pragma once

#include "LazyLibrary.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

// The common controls, bound when the manager first runs: a monitor that only reads the list
// never loads them.
LazyLibrary& commonControls();

namespace listview {

int itemCount(HWND list);
std::wstring itemText(HWND list, int index);
void setItemText(HWND list, int index, const std::wstring& text);
// Inserts an item with `data` as its value; image -1 gives it none. The new item's index.
int insertItem(HWND list, int index, const std::wstring& text, int image, LPARAM data);
LPARAM itemData(HWND list, int index);
void addColumn(HWND list, int width);
// The first item with all of `flags` (LVNI_SELECTED, LVNI_FOCUSED), -1 for none.
int nextItem(HWND list, UINT flags);
void selectItem(HWND list, int index);

bool isChecked(HWND list, int index);
void setChecked(HWND list, int index, bool checked);
bool anyChecked(HWND list);
// Check boxes, full-row selection and one column.
void setUpCheckList(HWND list, int columnWidth);

// A check box changed by the user or by us, not the first state image given at insertion.
bool isCheckChange(const NMLISTVIEW& change);
bool becameSelected(const NMLISTVIEW& change);
// A click anywhere on a row toggles its box; on the box itself the list has toggled it already.
void toggleOnClick(HWND list, const NMHDR* header);

// The notices of a check list: a click toggles the focused row's box; an item change selects
// the row when its box changed, then goes to `onChange(change, boxChanged)`. FALSE for others.
template <typename OnChange>
INT_PTR onCheckListNotify(const NMHDR* header, OnChange onChange) {
    switch (header->code) {
        case NM_CLICK: toggleOnClick(header->hwndFrom, header); return TRUE;
        case LVN_ITEMCHANGED: {
            const NMLISTVIEW& change = *reinterpret_cast<const NMLISTVIEW*>(header);
            const bool boxChanged = isCheckChange(change);
            if (boxChanged) selectItem(header->hwndFrom, change.iItem);
            onChange(change, boxChanged);
            return TRUE;
        }
        default: return FALSE;
    }
}

}  // namespace listview
