#include "ManagerDialog.h"

#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "AppListStore.h"
#include "Exception.h"
#include "ManagerText.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#ifndef APPMGR_LANGUAGE
#define APPMGR_LANGUAGE L"Chi_Trad"
#endif

namespace {
using namespace managertext;

// Dialogs, images and texts of the resources.
constexpr int kListDialog = 101;
constexpr int kAddChoiceDialog = 102;
constexpr int kSearchDialog = 103;
constexpr int kEntryDialog = 104;
constexpr int kUpIcon = 109;
constexpr int kDownIcon = 110;
constexpr int kAppIcon = 111;
constexpr int kListBitmap = 116;
constexpr UINT kRemoveQuestionText = 117;
constexpr UINT kDuplicateTitleText = 118;
constexpr UINT kDuplicateText = 119;
constexpr UINT kDefaultTypeText = 120;
constexpr UINT kDefaultAppText = 121;
constexpr UINT kCounterSeparatorText = 190;
constexpr UINT kSaveFailedText = 191;

// Controls.
constexpr int kAppList = 1030;
constexpr int kRefreshButton = 1025;
constexpr int kAddButton = 1026;
constexpr int kModifyButton = 1010;
constexpr int kRemoveButton = 1006;
constexpr int kSetDefaultButton = 1007;
constexpr int kCloseButton = 1008;
constexpr int kAutomaticRadio = 1011;
constexpr int kManualRadio = 1012;
constexpr int kFoundList = 1028;
constexpr int kNameEdit = 1020;
constexpr int kTypeList = 1031;
constexpr int kTitleLabel = 1038;
constexpr int kDefaultTypeButton = 1007;

// Results of the wizard pages.
constexpr INT_PTR kBack = 1021;
constexpr INT_PTR kNext = 1027;
constexpr INT_PTR kFinish = 1029;
constexpr INT_PTR kCancel = IDCANCEL;
constexpr INT_PTR kClosed = 1;

// Posted by dialog 104 to itself so the open-file dialog comes up over it, once it shows.
constexpr UINT kPickProgramMessage = WM_APP + 1;

constexpr int kNameLimit = 259;
constexpr int kNameReadLength = 260;
constexpr int kMinimumColumnPadding = 16 + 12;  // the image and the label margins

// The dialog state of the running manager.
struct ManagerState {
    HINSTANCE resources = nullptr;
    bool rightToLeft = false;
    AppListStore* store = nullptr;
    std::unique_ptr<AppDiscoverer> finder;

    // The entry dialog 104 shows.
    std::wstring name;
    std::wstring path;
    std::wstring supported;
    std::wstring defaultCode;
    bool modify = false;
    bool prefilled = false;
    bool hadDefaultMark = false;
    int current = 1;
    int total = 1;
    int defaultRow = -1;
    std::wstring titleLabel;  // label 1038 as the resources give it
    bool fillingTypes = false;

    // Dialog 101.
    int defaultPosition = -1;
    bool itemChosen = false;

    // Dialog 103.
    std::vector<std::wstring> newApps;
};

// Set for the manager's run; all dialogs run on the thread that set it.
ManagerState* g_state = nullptr;

ManagerState& state() { return *g_state; }

AppDiscoverer& finder() {
    if (!state().finder) state().finder = std::make_unique<AppDiscoverer>();
    return *state().finder;
}

// ---- Texts and message boxes ----

bool loadText(UINT id, std::wstring& text) {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(state().resources, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr) return false;
    text.assign(resource, static_cast<size_t>(length));
    return true;
}

std::wstring textOr(UINT id, const wchar_t* fallback) {
    std::wstring text;
    return loadText(id, text) ? text : std::wstring(fallback);
}

int showMessage(HWND owner, const std::wstring& text, const std::wstring& title, UINT kind) {
    UINT style = kind | MB_TASKMODAL;
    if (state().rightToLeft) style |= MB_RIGHT | MB_RTLREADING;
    return MessageBoxW(owner, text.c_str(), title.c_str(), style);
}

std::wstring windowText(HWND window, int limit = 1024) {
    std::wstring text(static_cast<size_t>(limit) + 1, L'\0');
    const int length = GetWindowTextW(window, &text[0], limit + 1);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

// A failure to write the list: said once, and the dialog goes on.
void reportFailure(HWND dialog, const std::wstring& detail) noexcept {
    try {
        std::wstring text = textOr(kSaveFailedText, L"The application list could not be saved.");
        if (!detail.empty()) text += L"\r\n\r\n" + detail;
        showMessage(dialog, text, windowText(dialog), MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(dialog, L"The application list could not be saved.", L"", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
}

std::wstring describe(const Exception& error) {
    std::wstring detail = error.getMessage();
    const std::wstring code = error.getCodeText();
    if (!code.empty()) detail += L"\r\n" + code;
    return detail;
}

// Runs a handler; no error goes back into the dialog machinery. The failure is said after the
// handler has unwound, then `recover` puts the dialog in line with what the store holds.
template <typename Work, typename Recover>
INT_PTR guarded(HWND dialog, Work work, Recover recover) noexcept {
    std::wstring detail;
    try {
        return work();
    } catch (const Exception& error) {
        try {
            detail = describe(error);
        } catch (...) {
        }
    } catch (...) {
    }
    reportFailure(dialog, detail);
    try {
        recover();
    } catch (...) {
    }
    return TRUE;
}

template <typename Work>
INT_PTR guarded(HWND dialog, Work work) noexcept {
    return guarded(dialog, work, [] {});
}

void showDuplicateName(HWND dialog) {
    showMessage(dialog, textOr(kDuplicateText, L""), textOr(kDuplicateTitleText, L""), MB_OK | MB_ICONWARNING);
}

// ---- List views ----

HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

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

bool isChecked(HWND list, int index) {
    const UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void setItemState(HWND list, int index, UINT state, UINT mask) {
    LVITEMW item = {};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void setChecked(HWND list, int index, bool checked) {
    setItemState(list, index, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
}

void selectItem(HWND list, int index) {
    setItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
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

// A check box changed by the user or by us, not the first state image given at insertion.
bool isCheckChange(const NMLISTVIEW& change) {
    if ((change.uChanged & LVIF_STATE) == 0) return false;
    if (((change.uOldState ^ change.uNewState) & LVIS_STATEIMAGEMASK) == 0) return false;
    return (change.uOldState & LVIS_STATEIMAGEMASK) != 0;
}

bool becameSelected(const NMLISTVIEW& change) {
    return (change.uChanged & LVIF_STATE) != 0 && (change.uNewState & LVIS_SELECTED) != 0 &&
           (change.uOldState & LVIS_SELECTED) == 0;
}

// A click anywhere on a row toggles its box; on the box itself the list has toggled it already.
void toggleOnClick(HWND list, const NMHDR* header) {
    const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
    LVHITTESTINFO hit = {};
    hit.pt = click->ptAction;
    SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) return;
    const int focused = nextItem(list, LVNI_FOCUSED);
    if (focused >= 0) setChecked(list, focused, !isChecked(list, focused));
}

// ---- Dialog 101: the list ----

void updateListButtons(HWND dialog) {
    const bool chosen = state().itemChosen;
    EnableWindow(item(dialog, kModifyButton), chosen);
    EnableWindow(item(dialog, kRemoveButton), chosen);
    EnableWindow(item(dialog, kSetDefaultButton), chosen);
    HWND list = item(dialog, kAppList);
    const int count = itemCount(list);
    if (count < 2) return;
    bool up = false;
    bool down = false;
    if (chosen) {
        const int selected = nextItem(list, LVNI_SELECTED);
        up = selected != 0;
        down = selected != count - 1;
    }
    EnableWindow(item(dialog, kMoveUpButton), up);
    EnableWindow(item(dialog, kMoveDownButton), down);
}

void setItemChosen(HWND dialog, bool chosen) {
    state().itemChosen = chosen;
    updateListButtons(dialog);
}

void fitColumn(HWND dialog) {
    HWND list = item(dialog, kAppList);
    int widest = 0;
    if (HDC dc = GetDC(list)) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
        const int count = itemCount(list);
        for (int i = 0; i < count; ++i) {
            const std::wstring text = itemText(list, i);
            SIZE size = {};
            if (GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size)) {
                widest = std::max(widest, static_cast<int>(size.cx) + kMinimumColumnPadding);
            }
        }
        SelectObject(dc, old);
        ReleaseDC(list, dc);
    }
    RECT client = {};
    GetClientRect(list, &client);
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(std::max(widest, static_cast<int>(client.right)), 0));
}

// The list as the store holds it in memory.
void showStoreEntries(HWND dialog) {
    const std::vector<std::wstring>& entries = state().store->entries();
    HWND list = item(dialog, kAppList);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    state().defaultPosition = -1;
    std::wstring defaultMark;
    const bool marked = loadText(kDefaultAppText, defaultMark);
    for (size_t i = 0; i < entries.size(); ++i) {
        std::wstring text = entryValue(entries[i], L"FRIENDLY_NAME");
        if (entryValue(entries[i], L"DEFAULT_AIO_APP") == L"true") {
            if (marked) text += defaultMark;
            state().defaultPosition = static_cast<int>(i);
        }
        insertItem(list, static_cast<int>(i), text, 0, 0);
    }
    fitColumn(dialog);
}

void fillAppList(HWND dialog) {
    std::vector<std::wstring> entries;
    state().store->load(entries);
    showStoreEntries(dialog);
}

// Prefills the entry dialog from a stored or found entry.
void prefillEntry(const std::wstring& entry, bool modify, int current, int total) {
    ManagerState& s = state();
    s.name = entryValue(entry, L"FRIENDLY_NAME");
    s.path = entryValue(entry, L"PATH");
    s.supported = entryValue(entry, L"SUPPORTED_FILE_TYPES");
    s.defaultCode = entryValue(entry, L"DEFAULT_FILE_TYPE");
    s.hadDefaultMark = entryValue(entry, L"DEFAULT_AIO_APP") == L"true";
    s.modify = modify;
    s.prefilled = true;
    s.current = current;
    s.total = total;
    s.defaultRow = -1;
}

void clearEntry() {
    ManagerState& s = state();
    s.name.clear();
    s.path.clear();
    s.supported.clear();
    s.defaultCode.clear();
    s.hadDefaultMark = false;
    s.modify = false;
    s.prefilled = false;
    s.current = 1;
    s.total = 1;
    s.defaultRow = -1;
}

INT_PTR runChild(HWND parent, int dialogId, DLGPROC procedure) {
    return DialogBoxParamW(state().resources, MAKEINTRESOURCEW(dialogId), parent, procedure, 0);
}

INT_PTR CALLBACK addChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
UINT_PTR CALLBACK programPickerHook(HWND hook, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK searchProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK entryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void initListDialog(HWND dialog) {
    ManagerState& s = state();
    HANDLE small = LoadImageW(nullptr, L"appmgr.ico", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                              GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE);
    if (small != nullptr) {
        SetPropW(dialog, L"appmgr.smallicon", small);  // destroyed with the dialog
    } else {
        small = LoadImageW(s.resources, MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                           GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    }
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadImageW(s.resources, MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON, 0, 0,
                                                     LR_DEFAULTSIZE | LR_SHARED)));
    const struct {
        int button;
        int icon;
    } arrows[] = {{kMoveUpButton, kUpIcon}, {kMoveDownButton, kDownIcon}};
    for (const auto& arrow : arrows) {
        HANDLE icon = LoadImageW(s.resources, MAKEINTRESOURCEW(arrow.icon), IMAGE_ICON, 16, 16, LR_SHARED);
        SendMessageW(item(dialog, arrow.button), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    }

    HWND list = item(dialog, kAppList);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    addColumn(list, 200);
    if (HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 1, 1)) {
        if (HBITMAP bitmap = static_cast<HBITMAP>(
                LoadImageW(s.resources, MAKEINTRESOURCEW(kListBitmap), IMAGE_BITMAP, 16, 16, LR_DEFAULTCOLOR))) {
            ImageList_AddMasked(images, bitmap, RGB(255, 0, 255));
            DeleteObject(bitmap);
        }
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));  // the list owns it
    }
    s.itemChosen = false;
    fillAppList(dialog);
    for (int id : {kMoveUpButton, kMoveDownButton, kModifyButton, kRemoveButton, kSetDefaultButton}) {
        EnableWindow(item(dialog, id), FALSE);
    }
    // The set-default action stays, its button is not offered.
    ShowWindow(item(dialog, kSetDefaultButton), SW_HIDE);
}

void refreshList(HWND dialog) {
    setItemChosen(dialog, false);
    AppListStore& store = *state().store;
    store.removeMissing();
    AppDiscoverer& found = finder();
    found.discover(true);  // whatever was found counts, even after a failed scan
    for (const std::wstring& entry : found.discovered()) store.add(entry);
    store.save();
    fillAppList(dialog);
}

void addApplications(HWND dialog) {
    setItemChosen(dialog, false);
    runChild(dialog, kAddChoiceDialog, addChoiceProc);
    fillAppList(dialog);
}

void modifyApplication(HWND dialog) {
    const int focused = nextItem(item(dialog, kAppList), LVNI_FOCUSED);
    if (focused < 0) return;
    setItemChosen(dialog, false);
    prefillEntry(state().store->entryAt(static_cast<size_t>(focused)), true, 1, 1);
    runChild(dialog, kEntryDialog, entryProc);
    fillAppList(dialog);
}

void removeApplication(HWND dialog) {
    const int focused = nextItem(item(dialog, kAppList), LVNI_FOCUSED);
    if (focused < 0) return;
    setItemChosen(dialog, false);
    std::wstring question;
    if (!loadText(kRemoveQuestionText, question)) return;
    AppListStore& store = *state().store;
    const size_t position = static_cast<size_t>(focused);
    const std::wstring name = entryValue(store.entryAt(position), L"FRIENDLY_NAME");
    if (showMessage(dialog, removeConfirmation(question, name), L"", MB_YESNO) != IDYES) return;
    const bool wasDefault = focused == state().defaultPosition;
    const size_t countBefore = store.count();
    store.removeAt(position);
    store.save();
    if (wasDefault) {
        if (countBefore < 2) {
            state().defaultPosition = -1;
        } else {
            store.setDefault(store.entryAt(0));
            state().defaultPosition = 0;
        }
    }
    fillAppList(dialog);
}

void setDefaultApplication(HWND dialog) {
    HWND list = item(dialog, kAppList);
    const int focused = nextItem(list, LVNI_FOCUSED);
    if (focused < 0) return;
    setItemChosen(dialog, false);
    AppListStore& store = *state().store;
    const int previous = state().defaultPosition;
    if (previous >= 0) {
        const std::wstring entry = store.entryAt(static_cast<size_t>(previous));
        store.clearDefault(entry);
        setItemText(list, previous, entryValue(entry, L"FRIENDLY_NAME"));
    }
    store.setDefault(store.entryAt(static_cast<size_t>(focused)));
    std::wstring mark;
    if (loadText(kDefaultAppText, mark)) {
        setItemText(list, focused, entryValue(store.entryAt(static_cast<size_t>(focused)), L"FRIENDLY_NAME") + mark);
    }
    state().defaultPosition = focused;
    fitColumn(dialog);
}

void moveApplication(HWND dialog, int button) {
    HWND list = item(dialog, kAppList);
    const int focused = nextItem(list, LVNI_FOCUSED);
    if (focused < 0) return;
    AppListStore& store = *state().store;
    int position = focused;
    if (store.move(button, position) == 0) {
        store.save();
        fillAppList(dialog);
    }
    selectItem(list, position);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(position), FALSE);
    setItemChosen(dialog, true);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
}

void closeManager(HWND dialog) {
    state().store->save();
    EndDialog(dialog, kClosed);
}

INT_PTR onListCommand(HWND dialog, int id) {
    switch (id) {
        case kRefreshButton: refreshList(dialog); return TRUE;
        case kAddButton: addApplications(dialog); return TRUE;
        case kModifyButton: modifyApplication(dialog); return TRUE;
        case kRemoveButton: removeApplication(dialog); return TRUE;
        case kSetDefaultButton: setDefaultApplication(dialog); return TRUE;
        case kMoveUpButton:
        case kMoveDownButton: moveApplication(dialog, id); return TRUE;
        case kCloseButton:
        case IDCANCEL: closeManager(dialog); return TRUE;
        default: return FALSE;
    }
}

INT_PTR onListNotify(HWND dialog, const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kAppList)) return FALSE;
    HWND list = header->hwndFrom;
    switch (header->code) {
        case LVN_ITEMCHANGED:
            if ((reinterpret_cast<const NMLISTVIEW*>(header)->uChanged & LVIF_STATE) != 0) {
                setItemChosen(dialog, SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0);
            }
            return TRUE;
        case NM_CLICK:
        case NM_RCLICK: setItemChosen(dialog, SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0); return TRUE;
        default: return FALSE;
    }
}

INT_PTR CALLBACK listProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return guarded(dialog, [&] {
                initListDialog(dialog);
                return TRUE;
            });
        case WM_COMMAND:
            // After a failed save the list shows what is in memory, still unsaved, not the registry.
            return guarded(
                dialog, [&] { return onListCommand(dialog, LOWORD(wParam)); },
                [&] {
                    setItemChosen(dialog, false);
                    showStoreEntries(dialog);
                });
        case WM_NOTIFY:
            return guarded(dialog, [&] { return onListNotify(dialog, reinterpret_cast<const NMHDR*>(lParam)); });
        case WM_CLOSE:
            return guarded(dialog, [&] {
                closeManager(dialog);
                return TRUE;
            });
        case WM_DESTROY:
            if (HANDLE small = RemovePropW(dialog, L"appmgr.smallicon")) DestroyIcon(static_cast<HICON>(small));
            return FALSE;
        default: return FALSE;
    }
}

// ---- Dialog 102: how to add ----

INT_PTR onAddChoiceCommand(HWND dialog, int id) {
    switch (id) {
        case IDOK: {
            INT_PTR result;
            if (IsDlgButtonChecked(dialog, kAutomaticRadio) == BST_CHECKED) {
                state().newApps.clear();
                result = runChild(dialog, kSearchDialog, searchProc);
            } else {
                clearEntry();
                result = runChild(dialog, kEntryDialog, entryProc);
            }
            if (result != kBack) EndDialog(dialog, kClosed);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, kCancel); return TRUE;
        default: return FALSE;
    }
}

INT_PTR CALLBACK addChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CheckRadioButton(dialog, kAutomaticRadio, kManualRadio, kAutomaticRadio);
            return TRUE;
        case WM_COMMAND: return guarded(dialog, [&] { return onAddChoiceCommand(dialog, LOWORD(wParam)); });
        case WM_CLOSE: EndDialog(dialog, kClosed); return TRUE;
        default: return FALSE;
    }
}

// ---- Dialog 103: the automatic search ----

// The found programs whose path is not stored yet; none when the search failed.
void findNewApplications() {
    ManagerState& s = state();
    s.newApps.clear();
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    AppDiscoverer& found = finder();
    const DWORD status = found.discover(false);
    SetCursor(previous);
    if (status != 0) return;
    std::vector<std::wstring> stored;
    s.store->load(stored);
    for (const std::wstring& entry : found.discovered()) {
        const std::wstring path = entryValue(entry, L"PATH");
        const bool known = std::any_of(stored.begin(), stored.end(),
                                       [&](const std::wstring& old) { return entryValue(old, L"PATH") == path; });
        if (!known) s.newApps.push_back(entry);
    }
}

void initSearchDialog(HWND dialog) {
    HWND list = item(dialog, kFoundList);
    setUpCheckList(list, 400);
    EnableWindow(item(dialog, static_cast<int>(kNext)), FALSE);
    findNewApplications();
    const ManagerState& s = state();
    int row = 0;
    for (size_t i = 0; i < s.newApps.size(); ++i) {
        const std::wstring name = entryValue(s.newApps[i], L"FRIENDLY_NAME");
        if (!name.empty()) insertItem(list, row++, name, -1, static_cast<LPARAM>(i));
    }
}

void addCheckedApplications(HWND dialog) {
    HWND list = item(dialog, kFoundList);
    std::vector<int> chosen;
    const int count = itemCount(list);
    for (int i = 0; i < count; ++i) {
        if (isChecked(list, i)) chosen.push_back(i);
    }
    const int total = static_cast<int>(chosen.size());
    for (int k = 0; k < total; ++k) {
        const size_t app = static_cast<size_t>(itemData(list, chosen[static_cast<size_t>(k)]));
        if (app >= state().newApps.size()) continue;
        prefillEntry(state().newApps[app], false, k + 1, total);
        const INT_PTR result = runChild(dialog, kEntryDialog, entryProc);
        if (result == kBack) return;
        if (result == kCancel) {
            EndDialog(dialog, kCancel);
            return;
        }
        // Done with: a second Next after a Back goes on with the others.
        setChecked(list, chosen[static_cast<size_t>(k)], false);
    }
    EndDialog(dialog, kNext);
}

INT_PTR onSearchNotify(HWND dialog, const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kFoundList)) return FALSE;
    HWND list = header->hwndFrom;
    switch (header->code) {
        case NM_CLICK: toggleOnClick(list, header); return TRUE;
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if (!isCheckChange(*change)) return TRUE;
            selectItem(list, change->iItem);
            EnableWindow(item(dialog, static_cast<int>(kNext)), anyChecked(list));
            return TRUE;
        }
        default: return FALSE;
    }
}

INT_PTR onSearchCommand(HWND dialog, int id) {
    switch (id) {
        case kNext:
            if (IsWindowEnabled(item(dialog, kNext))) addCheckedApplications(dialog);
            return TRUE;
        case kBack: EndDialog(dialog, kBack); return TRUE;
        case IDCANCEL: EndDialog(dialog, kCancel); return TRUE;
        default: return FALSE;
    }
}

INT_PTR CALLBACK searchProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return guarded(dialog, [&] {
                initSearchDialog(dialog);
                return TRUE;
            });
        case WM_COMMAND: return guarded(dialog, [&] { return onSearchCommand(dialog, LOWORD(wParam)); });
        case WM_NOTIFY:
            return guarded(dialog, [&] { return onSearchNotify(dialog, reinterpret_cast<const NMHDR*>(lParam)); });
        default: return FALSE;
    }
}

// ---- Dialog 104: one application ----

// Finish when this is the last (or only) application, otherwise Next in its place.
int closingButton() { return state().current >= state().total ? static_cast<int>(kFinish) : static_cast<int>(kNext); }

std::wstring typeRowText(size_t row, bool isDefault) {
    std::wstring text = displayTypeName(row, state().rightToLeft);
    std::wstring mark;
    if (isDefault && loadText(kDefaultTypeText, mark)) text += mark;
    return text;
}

void markDefaultRow(HWND list, int row) {
    state().defaultRow = row;
    if (row >= 0) setItemText(list, row, typeRowText(static_cast<size_t>(row), true));
}

void unmarkDefaultRow(HWND list) {
    const int row = state().defaultRow;
    if (row >= 0) setItemText(list, row, typeRowText(static_cast<size_t>(row), false));
    state().defaultRow = -1;
}

std::vector<bool> checkedRows(HWND list) {
    std::vector<bool> checked(kFileTypeCount, false);
    for (size_t row = 0; row < kFileTypeCount; ++row) checked[row] = isChecked(list, static_cast<int>(row));
    return checked;
}

void showProgram(HWND dialog) {
    const std::wstring file = fileNameOf(state().path);
    std::wstring label = state().titleLabel + file;
    std::wstring separator;
    if (loadText(kCounterSeparatorText, separator)) {
        label += positionCounter(state().current, state().total, separator, state().rightToLeft);
    }
    SetDlgItemTextW(dialog, kTitleLabel, label.c_str());
}

void initEntryDialog(HWND dialog) {
    ManagerState& s = state();
    HWND list = item(dialog, kTypeList);
    s.fillingTypes = true;
    setUpCheckList(list, 350);
    for (size_t row = 0; row < kFileTypeCount; ++row) {
        insertItem(list, static_cast<int>(row), typeRowText(row, false), -1, static_cast<LPARAM>(row));
    }
    EnableWindow(item(dialog, kDefaultTypeButton), FALSE);
    EnableWindow(item(dialog, static_cast<int>(kFinish)), FALSE);
    EnableWindow(item(dialog, static_cast<int>(kNext)), FALSE);
    SendDlgItemMessageW(dialog, kNameEdit, EM_SETLIMITTEXT, kNameLimit, 0);
    s.titleLabel = windowText(item(dialog, kTitleLabel));

    const int shown = closingButton();
    const int hidden = shown == kFinish ? static_cast<int>(kNext) : static_cast<int>(kFinish);
    ShowWindow(item(dialog, hidden), SW_HIDE);
    ShowWindow(item(dialog, shown), SW_SHOW);
    SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(shown), 0);

    if (s.prefilled) {
        const TypeRows rows = rowsForEntry(s.supported, s.defaultCode);
        for (size_t row = 0; row < kFileTypeCount; ++row) {
            if (rows.checked[row]) setChecked(list, static_cast<int>(row), true);
        }
        s.defaultRow = -1;
        markDefaultRow(list, rows.defaultRow);
        showProgram(dialog);
        s.fillingTypes = false;
        SetDlgItemTextW(dialog, kNameEdit, s.name.c_str());
    } else {
        s.defaultRow = -1;
        s.fillingTypes = false;
        PostMessageW(dialog, kPickProgramMessage, 0, 0);
    }
    EnableWindow(item(dialog, shown), GetWindowTextLengthW(item(dialog, kNameEdit)) > 0);
}

void pickProgram(HWND dialog) {
    // The page shows behind the open-file dialog, which a dialog would only do once idle.
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    std::vector<wchar_t> file(MAX_PATH + 1, L'\0');
    OPENFILENAMEW choice = {};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = dialog;
    choice.lpstrFilter = L"EXE files (*.exe)\0*.EXE\0";
    choice.lpstrFile = file.data();
    choice.nMaxFile = static_cast<DWORD>(file.size());
    choice.lpstrInitialDir = L"C:\\Program Files\\";
    choice.lpstrDefExt = L"exe";
    choice.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    choice.lpfnHook = programPickerHook;
    if (!GetOpenFileNameW(&choice)) {
        EndDialog(dialog, kCancel);
        return;
    }
    state().path = file.data();
    SetDlgItemTextW(dialog, kNameEdit, fileNameOf(state().path).c_str());
    showProgram(dialog);
}

// The entry made of the dialog's fields, added or replaced; false when the dialog stays open.
bool saveEntry(HWND dialog) {
    ManagerState& s = state();
    HWND list = item(dialog, kTypeList);
    const std::vector<bool> checked = checkedRows(list);
    if (s.defaultRow < 0) markDefaultRow(list, firstChecked(checked));
    const std::wstring supported = supportedCodes(checked);
    const std::wstring defaultCode = s.defaultRow >= 0 ? fileTypeCode(static_cast<size_t>(s.defaultRow)) : L"";
    const std::wstring name = cleanFriendlyName(windowText(item(dialog, kNameEdit), kNameReadLength));
    if (name.empty()) {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(dialog, kNameEdit)), TRUE);
        return false;
    }
    AppListStore& store = *s.store;
    const std::wstring entry = makeAppEntry(name, s.path, defaultCode, supported, s.modify && s.hadDefaultMark);
    if (s.modify) {
        if (name != s.name) {
            for (const std::wstring& other : store.entries()) {
                if (entryValue(other, L"FRIENDLY_NAME") == name) {
                    showDuplicateName(dialog);
                    return false;
                }
            }
        }
        store.replaceByPath(entry);
    } else {
        if (store.add(entry) == ERROR_DUP_NAME) {
            showDuplicateName(dialog);
            return false;
        }
        try {
            store.save();
        } catch (...) {
            store.removeAt(store.count() - 1);  // a second try is not a duplicate of itself
            throw;
        }
    }
    s.name = name;
    s.supported = supported;
    s.defaultCode = defaultCode;
    return true;
}

void setDefaultType(HWND dialog) {
    HWND list = item(dialog, kTypeList);
    const int row = nextItem(list, LVNI_SELECTED);
    if (row < 0) return;
    unmarkDefaultRow(list);
    setChecked(list, row, true);
    markDefaultRow(list, row);
    EnableWindow(item(dialog, kDefaultTypeButton), FALSE);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(dialog, closingButton())), TRUE);
}

INT_PTR onEntryCommand(HWND dialog, int id, int code) {
    switch (id) {
        case kNameEdit:
            if (code == EN_CHANGE && !state().fillingTypes) {
                EnableWindow(item(dialog, closingButton()), GetWindowTextLengthW(item(dialog, kNameEdit)) > 0);
            }
            return TRUE;
        case kDefaultTypeButton: setDefaultType(dialog); return TRUE;
        case kFinish:
        case kNext:
            if (id == closingButton() && IsWindowEnabled(item(dialog, id)) && saveEntry(dialog)) EndDialog(dialog, kNext);
            return TRUE;
        case kBack: EndDialog(dialog, kBack); return TRUE;
        case IDCANCEL: EndDialog(dialog, kCancel); return TRUE;
        default: return FALSE;
    }
}

INT_PTR onEntryNotify(HWND dialog, const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kTypeList) || state().fillingTypes) return FALSE;
    HWND list = header->hwndFrom;
    switch (header->code) {
        case NM_CLICK: toggleOnClick(list, header); return TRUE;
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if (isCheckChange(*change)) {
                const int row = change->iItem;
                selectItem(list, row);
                if (GetWindowTextLengthW(item(dialog, kNameEdit)) > 0) {
                    EnableWindow(item(dialog, closingButton()), anyChecked(list));
                }
                if (row == state().defaultRow && !isChecked(list, row)) {
                    unmarkDefaultRow(list);
                    markDefaultRow(list, firstChecked(checkedRows(list)));
                }
            }
            if (becameSelected(*change)) EnableWindow(item(dialog, kDefaultTypeButton), TRUE);
            return TRUE;
        }
        default: return FALSE;
    }
}

INT_PTR CALLBACK entryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return guarded(dialog, [&] {
                initEntryDialog(dialog);
                return TRUE;
            });
        case kPickProgramMessage:
            return guarded(dialog, [&] {
                pickProgram(dialog);
                return TRUE;
            });
        case WM_COMMAND:
            return guarded(dialog, [&] { return onEntryCommand(dialog, LOWORD(wParam), HIWORD(wParam)); });
        case WM_NOTIFY:
            return guarded(dialog, [&] { return onEntryNotify(dialog, reinterpret_cast<const NMHDR*>(lParam)); });
        case WM_CLOSE: EndDialog(dialog, kClosed); return TRUE;
        default: return FALSE;
    }
}

// Reads the file-name box as typed; false when it can't be read.
bool fileNameBoxText(HWND fileDialog, std::wstring& text) {
    std::vector<wchar_t> buffer(MAX_PATH * 4, L'\0');
    const LRESULT length = SendMessageW(fileDialog, CDM_GETSPEC, static_cast<WPARAM>(buffer.size()),
                                        reinterpret_cast<LPARAM>(buffer.data()));
    if (length < 0) return false;
    buffer.back() = L'\0';
    text = buffer.data();
    return true;
}

// Refuses a confirmed name without ".exe" (exactly that text) and empties the name box, so the
// open-file dialog stays for another choice.
UINT_PTR CALLBACK programPickerHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_NOTIFY) return 0;
    const auto* notice = reinterpret_cast<const OFNOTIFYW*>(lParam);
    if (notice == nullptr || notice->hdr.code != static_cast<UINT>(CDN_FILEOK)) return 0;
    HWND fileDialog = GetParent(hook);
    try {
        std::wstring typed;
        if (!fileNameBoxText(fileDialog, typed) || typed.empty() || typed.find(L".exe") != std::wstring::npos) return 0;
    } catch (...) {
        return 0;
    }
    // The name box of both layouts of the dialog.
    SendMessageW(fileDialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(L""));
    SendMessageW(fileDialog, CDM_SETCONTROLTEXT, edt1, reinterpret_cast<LPARAM>(L""));
    SetWindowLongPtrW(hook, DWLP_MSGRESULT, 1);
    return 1;
}
}  // namespace

INT_PTR runManagerDialog(HINSTANCE resources, HWND owner) {
    if (g_state != nullptr) return -1;  // one manager per process at a time
    try {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        ManagerState managerState;
        managerState.resources = resources;
        managerState.rightToLeft = isRightToLeftLanguage(APPMGR_LANGUAGE);
        managerState.store = &AppListStore::instance();
        g_state = &managerState;
        const INT_PTR result = DialogBoxParamW(resources, MAKEINTRESOURCEW(kListDialog), owner, listProc, 0);
        g_state = nullptr;
        return result;
    } catch (...) {
        g_state = nullptr;
        return -1;
    }
}
