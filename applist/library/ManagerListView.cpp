#include "ManagerListView.h"

#include <algorithm>
#include <vector>

LazyLibrary& commonControls() {
    static LazyLibrary library("comctl32.dll");
    return library;
}

namespace listview {

int itemCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring itemText(HWND list, int index) {
    std::vector<wchar_t> buffer(1024, L'\0');
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    const LRESULT length = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return std::wstring(buffer.data(), static_cast<size_t>(std::max<LRESULT>(length, 0)));
}

void setItemText(HWND list, int index, const std::wstring& text) {
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

int insertItem(HWND list, int index, const std::wstring& text, int image, LPARAM data) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | (image >= 0 ? LVIF_IMAGE : 0);
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.iImage = image;
    item.lParam = data;
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

LPARAM itemData(HWND list, int index) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

void addColumn(HWND list, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = width;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

int nextItem(HWND list, UINT flags) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(flags, 0)));
}

namespace {
void setItemState(HWND list, int index, UINT state, UINT mask) {
    LVITEMW item = {};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}
}  // namespace

void selectItem(HWND list, int index) {
    setItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

bool isChecked(HWND list, int index) {
    const UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void setChecked(HWND list, int index, bool checked) {
    setItemState(list, index, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
}

bool anyChecked(HWND list) {
    const int count = itemCount(list);
    for (int i = 0; i < count; ++i) {
        if (isChecked(list, i)) return true;
    }
    return false;
}

void setUpCheckList(HWND list, int columnWidth) {
    const DWORD styles = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, styles, styles);
    addColumn(list, columnWidth);
}

bool isCheckChange(const NMLISTVIEW& change) {
    if ((change.uChanged & LVIF_STATE) == 0) return false;
    if (((change.uOldState ^ change.uNewState) & LVIS_STATEIMAGEMASK) == 0) return false;
    return (change.uOldState & LVIS_STATEIMAGEMASK) != 0;
}

bool becameSelected(const NMLISTVIEW& change) {
    return (change.uChanged & LVIF_STATE) != 0 && (change.uNewState & LVIS_SELECTED) != 0 &&
           (change.uOldState & LVIS_SELECTED) == 0;
}

void toggleOnClick(HWND list, const NMHDR* header) {
    const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
    LVHITTESTINFO hit = {};
    hit.pt = click->ptAction;
    SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) return;
    const int focused = nextItem(list, LVNI_FOCUSED);
    if (focused >= 0) setChecked(list, focused, !isChecked(list, focused));
}

}  // namespace listview
