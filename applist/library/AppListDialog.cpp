#include "AppListDialog.h"

#include "AddChoiceDialog.h"
#include "AppEntry.h"
#include "EntryDialog.h"
#include "ManagerListView.h"
#include "ManagerText.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace listview;

namespace {
constexpr int kMinimumColumnPadding = 16 + 12;  // the image and the label margins
const wchar_t kSmallIconProperty[] = L"appmgr.smallicon";

class AppListDialog : public ManagerPage {
public:
    using ManagerPage::ManagerPage;

private:
    void onInit() override;
    INT_PTR onCommand(int id, int code) override;
    INT_PTR onNotify(const NMHDR* header) override;
    // After a failed save the list shows what is in memory, still unsaved, not the registry.
    void onCommandFailed() override {
        setItemChosen(false);
        showStoreEntries();
    }
    INT_PTR onClose() override {
        closeManager();
        return TRUE;
    }
    INT_PTR onOtherMessage(UINT message, WPARAM, LPARAM) override;

    void setIcons();
    void setUpList();
    void updateButtons();
    void setItemChosen(bool chosen);
    void fitColumn();
    void showStoreEntries();
    void fillList();
    int focusedItem() const { return nextItem(item(kAppList), LVNI_FOCUSED); }

    void refreshList();
    void addApplications();
    void modifyApplication();
    void removeApplication();
    void setDefaultApplication();
    void moveApplication(int button);
    void closeManager();

    int defaultPosition_ = -1;
    bool itemChosen_ = false;
};

// The caption's icon is the file's, when the file is there; the dialog takes no other.
void AppListDialog::setIcons() {
    const HINSTANCE resources = context().resources();
    if (HANDLE small = LoadImageW(nullptr, L"appmgr.ico", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                  GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE)) {
        SetPropW(dialog(), kSmallIconProperty, small);  // destroyed with the dialog
        SendMessageW(dialog(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
    const struct {
        int button;
        int icon;
    } arrows[] = {{kMoveUpButton, kUpIcon}, {kMoveDownButton, kDownIcon}};
    for (const auto& arrow : arrows) {
        HANDLE icon = LoadImageW(resources, MAKEINTRESOURCEW(arrow.icon), IMAGE_ICON, 16, 16, LR_SHARED);
        SendMessageW(item(arrow.button), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    }
}

void AppListDialog::setUpList() {
    HWND list = item(kAppList);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    addColumn(list, 200);
    auto create = LAZY_ENTRY(commonControls(), ImageList_Create);
    auto addMasked = LAZY_ENTRY(commonControls(), ImageList_AddMasked);
    if (HIMAGELIST images = create != nullptr && addMasked != nullptr ? create(16, 16, ILC_COLOR24 | ILC_MASK, 1, 1)
                                                                      : nullptr) {
        if (HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(context().resources(), MAKEINTRESOURCEW(kListBitmap),
                                                             IMAGE_BITMAP, 16, 16, LR_DEFAULTCOLOR))) {
            addMasked(images, bitmap, RGB(255, 0, 255));
            DeleteObject(bitmap);
        }
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));  // the list owns it
    }
}

void AppListDialog::onInit() {
    setIcons();
    setUpList();
    itemChosen_ = false;
    fillList();
    const int chosenOnly[] = {kMoveUpButton, kMoveDownButton, kModifyButton, kRemoveButton, kSetDefaultButton};
    for (int id : chosenOnly) EnableWindow(item(id), FALSE);
    // The set-default action stays, its button is not offered.
    ShowWindow(item(kSetDefaultButton), SW_HIDE);
}

void AppListDialog::updateButtons() {
    EnableWindow(item(kModifyButton), itemChosen_);
    EnableWindow(item(kRemoveButton), itemChosen_);
    EnableWindow(item(kSetDefaultButton), itemChosen_);
    HWND list = item(kAppList);
    const int count = itemCount(list);
    if (count < 2) return;
    bool up = false;
    bool down = false;
    if (itemChosen_) {
        const int selected = nextItem(list, LVNI_SELECTED);
        up = selected != 0;
        down = selected != count - 1;
    }
    EnableWindow(item(kMoveUpButton), up);
    EnableWindow(item(kMoveDownButton), down);
}

void AppListDialog::setItemChosen(bool chosen) {
    itemChosen_ = chosen;
    updateButtons();
}

void AppListDialog::fitColumn() {
    HWND list = item(kAppList);
    int widest = 0;
    if (HDC dc = GetDC(list)) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog(), WM_GETFONT, 0, 0)));
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
void AppListDialog::showStoreEntries() {
    const std::vector<std::wstring>& entries = store().entries();
    HWND list = item(kAppList);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    defaultPosition_ = -1;
    std::wstring defaultMark;
    const bool marked = context().loadText(kDefaultAppText, defaultMark);
    for (size_t i = 0; i < entries.size(); ++i) {
        std::wstring text = entryValue(entries[i], L"FRIENDLY_NAME");
        if (entryValue(entries[i], L"DEFAULT_AIO_APP") == L"true") {
            if (marked) text += defaultMark;
            defaultPosition_ = static_cast<int>(i);
        }
        insertItem(list, static_cast<int>(i), text, 0, 0);
    }
    fitColumn();
}

void AppListDialog::fillList() {
    std::vector<std::wstring> entries;
    store().load(entries);
    showStoreEntries();
}

void AppListDialog::refreshList() {
    setItemChosen(false);
    store().removeMissing();
    AppDiscoverer& found = context().finder();
    found.discover(true);  // whatever was found counts, even after a failed scan
    for (const std::wstring& entry : found.discovered()) store().add(entry);
    store().save();
    fillList();
}

void AppListDialog::addApplications() {
    setItemChosen(false);
    runAddChoiceDialog(context(), dialog());
    fillList();
}

void AppListDialog::modifyApplication() {
    const int focused = focusedItem();
    if (focused < 0) return;
    setItemChosen(false);
    runEntryDialog(context(), dialog(), store().entryAt(static_cast<size_t>(focused)), true, 1, 1);
    fillList();
}

void AppListDialog::removeApplication() {
    const int focused = focusedItem();
    if (focused < 0) return;
    setItemChosen(false);
    std::wstring question;
    if (!context().loadText(kRemoveQuestionText, question)) return;
    AppListStore& apps = store();
    const size_t position = static_cast<size_t>(focused);
    const std::wstring name = entryValue(apps.entryAt(position), L"FRIENDLY_NAME");
    if (context().showMessage(dialog(), managertext::removeConfirmation(question, name), L"", MB_YESNO) != IDYES) {
        return;
    }
    const bool wasDefault = focused == defaultPosition_;
    const size_t countBefore = apps.count();
    apps.removeAt(position);
    apps.save();
    if (wasDefault) {
        if (countBefore < 2) {
            defaultPosition_ = -1;
        } else {
            apps.setDefault(apps.entryAt(0));
            defaultPosition_ = 0;
        }
    }
    fillList();
}

void AppListDialog::setDefaultApplication() {
    HWND list = item(kAppList);
    const int focused = focusedItem();
    if (focused < 0) return;
    setItemChosen(false);
    const int previous = defaultPosition_;
    if (previous >= 0) {
        const std::wstring entry = store().entryAt(static_cast<size_t>(previous));
        store().clearDefault(entry);
        setItemText(list, previous, entryValue(entry, L"FRIENDLY_NAME"));
    }
    store().setDefault(store().entryAt(static_cast<size_t>(focused)));
    std::wstring mark;
    if (context().loadText(kDefaultAppText, mark)) {
        setItemText(list, focused, entryValue(store().entryAt(static_cast<size_t>(focused)), L"FRIENDLY_NAME") + mark);
    }
    defaultPosition_ = focused;
    fitColumn();
}

void AppListDialog::moveApplication(int button) {
    HWND list = item(kAppList);
    const int focused = focusedItem();
    if (focused < 0) return;
    int position = focused;
    if (store().move(button, position) == 0) {
        store().save();
        fillList();
    }
    selectItem(list, position);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(position), FALSE);
    setItemChosen(true);
    SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
}

void AppListDialog::closeManager() {
    // A list that can't be saved (a key the user may not write) must not hold the manager open:
    // the failure is said, and the answer tries again or closes without saving.
    std::wstring detail;
    while (!trySave(detail)) {
        if (reportFailure(detail, MB_RETRYCANCEL) != IDRETRY) break;
    }
    EndDialog(dialog(), kClosed);
}

INT_PTR AppListDialog::onCommand(int id, int) {
    switch (id) {
        case kRefreshButton: refreshList(); return TRUE;
        case kAddButton: addApplications(); return TRUE;
        case kModifyButton: modifyApplication(); return TRUE;
        case kRemoveButton: removeApplication(); return TRUE;
        case kSetDefaultButton: setDefaultApplication(); return TRUE;
        case kMoveUpButton:
        case kMoveDownButton: moveApplication(id); return TRUE;
        case kCloseButton:
        case IDCANCEL: closeManager(); return TRUE;
        default: return FALSE;
    }
}

INT_PTR AppListDialog::onNotify(const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kAppList)) return FALSE;
    auto selected = [&] { return SendMessageW(header->hwndFrom, LVM_GETSELECTEDCOUNT, 0, 0) > 0; };
    switch (header->code) {
        // A change of item state turns the flag on even when it took the selection away (Ctrl+Space):
        // the focused item is still the one Modify and Remove act on. Only a click reads the selection.
        case LVN_ITEMCHANGED:
            if ((reinterpret_cast<const NMLISTVIEW*>(header)->uChanged & LVIF_STATE) != 0) setItemChosen(true);
            return TRUE;
        case NM_CLICK:
        case NM_RCLICK: setItemChosen(selected()); return TRUE;
        default: return FALSE;
    }
}

INT_PTR AppListDialog::onOtherMessage(UINT message, WPARAM, LPARAM) {
    if (message != WM_DESTROY) return FALSE;
    if (HANDLE small = RemovePropW(dialog(), kSmallIconProperty)) DestroyIcon(static_cast<HICON>(small));
    return FALSE;
}
}  // namespace

INT_PTR runAppListDialog(ManagerContext& context, HWND owner) {
    return runPage<AppListDialog>(kListDialog, owner, context);
}
