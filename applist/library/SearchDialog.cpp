#include "SearchDialog.h"

#include "AppEntry.h"
#include "EntryDialog.h"
#include "ManagerListView.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace listview;

namespace {
class SearchDialog : public ManagerPage {
public:
    using ManagerPage::ManagerPage;

private:
    void findNewApplications();
    void onInit() override;
    void addCheckedApplications();
    INT_PTR onNotify(const NMHDR* header) override;
    INT_PTR onCommand(int id, int code) override;

    // The found programs whose path is not stored yet; an item's value is its index here.
    std::vector<std::wstring> newApps_;
};

// None when the search failed.
void SearchDialog::findNewApplications() {
    newApps_.clear();
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    AppDiscoverer& found = context().finder();
    const DWORD status = found.discover(false);
    SetCursor(previous);
    if (status != 0) return;
    std::vector<std::wstring> stored;
    store().load(stored);
    for (const std::wstring& entry : found.discovered()) {
        const std::wstring path = entryValue(entry, L"PATH");
        const bool known = std::any_of(stored.begin(), stored.end(),
                                       [&](const std::wstring& old) { return entryValue(old, L"PATH") == path; });
        if (!known) newApps_.push_back(entry);
    }
}

void SearchDialog::onInit() {
    HWND list = item(kFoundList);
    setUpCheckList(list, 400);
    EnableWindow(item(kNextButton), FALSE);
    findNewApplications();
    int row = 0;
    for (size_t i = 0; i < newApps_.size(); ++i) {
        const std::wstring name = entryValue(newApps_[i], L"FRIENDLY_NAME");
        if (!name.empty()) insertItem(list, row++, name, -1, static_cast<LPARAM>(i));
    }
}

void SearchDialog::addCheckedApplications() {
    HWND list = item(kFoundList);
    std::vector<int> chosen;
    const int count = itemCount(list);
    for (int i = 0; i < count; ++i) {
        if (isChecked(list, i)) chosen.push_back(i);
    }
    const int total = static_cast<int>(chosen.size());
    for (int k = 0; k < total; ++k) {
        const int row = chosen[static_cast<size_t>(k)];
        const size_t app = static_cast<size_t>(itemData(list, row));
        if (app >= newApps_.size()) continue;
        const INT_PTR result = runEntryDialog(context(), dialog(), newApps_[app], false, k + 1, total);
        if (result == kBack) return;
        if (result == kCancel) {
            EndDialog(dialog(), kCancel);
            return;
        }
        // Added already, so a Next after a Back goes on with the others only: offered again it
        // could only meet the store's duplicate refusal, its name or path being stored now.
        setChecked(list, row, false);
    }
    EndDialog(dialog(), kNext);
}

INT_PTR SearchDialog::onNotify(const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kFoundList)) return FALSE;
    return onCheckListNotify(header, [&](const NMLISTVIEW&, bool boxChanged) {
        if (boxChanged) EnableWindow(item(kNextButton), anyChecked(header->hwndFrom));
    });
}

INT_PTR SearchDialog::onCommand(int id, int) {
    switch (id) {
        case kNextButton:
            if (IsWindowEnabled(item(kNextButton))) addCheckedApplications();
            return TRUE;
        case kBackButton: EndDialog(dialog(), kBack); return TRUE;
        case IDCANCEL: EndDialog(dialog(), kCancel); return TRUE;
        default: return FALSE;
    }
}
}  // namespace

INT_PTR runSearchDialog(ManagerContext& context, HWND parent) {
    return runPage<SearchDialog>(kSearchDialog, parent, context);
}
