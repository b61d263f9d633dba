#include "EntryDialog.h"

#include "AppEntry.h"
#include "ManagerListView.h"
#include "ManagerText.h"
#include "ProgramPicker.h"

#include <algorithm>
#include <vector>

using namespace listview;
using namespace managertext;

namespace {
// Posted to itself so the open-file dialog comes up over this one, once it shows.
constexpr UINT kPickProgramMessage = WM_APP + 1;

constexpr int kNameLimit = 259;
constexpr int kNameReadLength = 260;

std::vector<bool> checkedRows(HWND list) {
    std::vector<bool> checked(kFileTypeCount, false);
    for (size_t row = 0; row < kFileTypeCount; ++row) checked[row] = isChecked(list, static_cast<int>(row));
    return checked;
}

class EntryDialog : public ManagerPage {
public:
    // A dialog for a program still to be picked.
    explicit EntryDialog(ManagerContext& context) : ManagerPage(context) {}
    EntryDialog(ManagerContext& context, const std::wstring& entry, bool modify, int current, int total);

private:
    void onInit() override;
    INT_PTR onCommand(int id, int code) override;
    INT_PTR onNotify(const NMHDR* header) override;
    INT_PTR onClose() override {
        EndDialog(dialog(), kClosed);
        return TRUE;
    }
    INT_PTR onOtherMessage(UINT message, WPARAM, LPARAM) override;

    // Finish when this is the last (or only) application, otherwise Next in its place.
    int closingButton() const { return current_ >= total_ ? kFinishButton : kNextButton; }
    bool hasName() const { return GetWindowTextLengthW(item(kNameEdit)) > 0; }
    std::wstring typeRowText(size_t row, bool isDefault) const;
    void markDefaultRow(HWND list, int row);
    void unmarkDefaultRow(HWND list);
    void fillTypes(HWND list);
    void showClosingButton();
    void showEntry(HWND list);
    void showProgram();
    void pickProgram();
    void onTypeChange(HWND list, const NMLISTVIEW& change, bool boxChanged);
    void setDefaultType();
    bool saveEntry();
    // False, after saying so, when another entry has the name.
    bool storeEntry(const std::wstring& name, const std::wstring& entry);
    bool refuseDuplicateName();

    // The entry as it came in; the path is the picked program's when there was none.
    std::wstring name_;
    std::wstring path_;
    std::wstring supported_;
    std::wstring defaultCode_;
    bool hadDefaultMark_ = false;
    bool prefilled_ = false;
    bool modify_ = false;
    int current_ = 1;
    int total_ = 1;

    int defaultRow_ = -1;
    std::wstring titleLabel_;  // label 1038 as the resources give it
    bool fillingTypes_ = false;
};

EntryDialog::EntryDialog(ManagerContext& context, const std::wstring& entry, bool modify, int current, int total)
    : ManagerPage(context),
      name_(entryValue(entry, L"FRIENDLY_NAME")),
      path_(entryValue(entry, L"PATH")),
      supported_(entryValue(entry, L"SUPPORTED_FILE_TYPES")),
      defaultCode_(entryValue(entry, L"DEFAULT_FILE_TYPE")),
      hadDefaultMark_(entryValue(entry, L"DEFAULT_AIO_APP") == L"true"),
      prefilled_(true),
      modify_(modify),
      current_(current),
      total_(total) {}

std::wstring EntryDialog::typeRowText(size_t row, bool isDefault) const {
    std::wstring text = displayTypeName(row, context().rightToLeft());
    std::wstring mark;
    if (isDefault && context().loadText(kDefaultTypeText, mark)) text += mark;
    return text;
}

void EntryDialog::markDefaultRow(HWND list, int row) {
    defaultRow_ = row;
    if (row >= 0) setItemText(list, row, typeRowText(static_cast<size_t>(row), true));
}

void EntryDialog::unmarkDefaultRow(HWND list) {
    if (defaultRow_ >= 0) setItemText(list, defaultRow_, typeRowText(static_cast<size_t>(defaultRow_), false));
    defaultRow_ = -1;
}

void EntryDialog::fillTypes(HWND list) {
    setUpCheckList(list, 350);
    for (size_t row = 0; row < kFileTypeCount; ++row) {
        insertItem(list, static_cast<int>(row), typeRowText(row, false), -1, static_cast<LPARAM>(row));
    }
}

void EntryDialog::showClosingButton() {
    const int shown = closingButton();
    ShowWindow(item(shown == kFinishButton ? kNextButton : kFinishButton), SW_HIDE);
    ShowWindow(item(shown), SW_SHOW);
}

// The stored types match without regard to case or blanks: the known table writes some lists
// as "BMP, JPG, TIFF", and a literal match would lose all but the first type on an unchanged save.
// The rows are checked as the user would check them, so the last one ends up selected.
void EntryDialog::showEntry(HWND list) {
    SetDlgItemTextW(dialog(), kNameEdit, name_.c_str());
    showProgram();
    const TypeRows rows = rowsForEntry(supported_, defaultCode_);
    for (size_t row = 0; row < kFileTypeCount; ++row) {
        if (rows.checked[row]) setChecked(list, static_cast<int>(row), true);
    }
    markDefaultRow(list, rows.defaultRow);
}

void EntryDialog::showProgram() {
    std::wstring label = titleLabel_ + fileNameOf(path_);
    std::wstring separator;
    if (context().loadText(kCounterSeparatorText, separator)) {
        label += positionCounter(current_, total_, separator, context().rightToLeft());
    }
    SetDlgItemTextW(dialog(), kTitleLabel, label.c_str());
}

// Only Finish follows the name and the types; Next always leads on to the next application.
void EntryDialog::onInit() {
    HWND list = item(kTypeList);
    fillingTypes_ = true;
    fillTypes(list);
    EnableWindow(item(kDefaultTypeButton), FALSE);
    EnableWindow(item(kFinishButton), FALSE);
    SendDlgItemMessageW(dialog(), kNameEdit, EM_SETLIMITTEXT, kNameLimit, 0);
    titleLabel_ = windowText(item(kTitleLabel));
    showClosingButton();
    fillingTypes_ = false;
    if (prefilled_) {
        showEntry(list);
    } else {
        PostMessageW(dialog(), kPickProgramMessage, 0, 0);
    }
    EnableWindow(item(kFinishButton), hasName());
}

void EntryDialog::pickProgram() {
    // The page shows behind the open-file dialog, which a dialog would only do once idle.
    ShowWindow(dialog(), SW_SHOW);
    UpdateWindow(dialog());
    if (!pickProgramFile(dialog(), path_)) {
        EndDialog(dialog(), kCancel);
        return;
    }
    SetDlgItemTextW(dialog(), kNameEdit, fileNameOf(path_).c_str());
    showProgram();
}

// The entry made of the dialog's fields, added or replaced; false when the dialog stays open.
bool EntryDialog::saveEntry() {
    HWND list = item(kTypeList);
    const std::vector<bool> checked = checkedRows(list);
    if (defaultRow_ < 0) markDefaultRow(list, firstChecked(checked));
    const std::wstring supported = supportedCodes(checked);
    const std::wstring defaultCode = defaultRow_ >= 0 ? fileTypeCode(static_cast<size_t>(defaultRow_)) : L"";
    const std::wstring name = cleanFriendlyName(windowText(item(kNameEdit), kNameReadLength));
    if (name.empty()) {
        SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(kNameEdit)), TRUE);
        return false;
    }
    return storeEntry(name, makeAppEntry(name, path_, defaultCode, supported, modify_ && hadDefaultMark_));
}

bool EntryDialog::storeEntry(const std::wstring& name, const std::wstring& entry) {
    AppListStore& apps = store();
    if (modify_) {
        const bool takenByAnother =
            name != name_ && std::any_of(apps.entries().begin(), apps.entries().end(), [&](const std::wstring& other) {
                return entryValue(other, L"FRIENDLY_NAME") == name;
            });
        if (takenByAnother) return refuseDuplicateName();
        apps.replaceByPath(entry);
        return true;
    }
    if (apps.add(entry) == ERROR_DUP_NAME) return refuseDuplicateName();
    try {
        apps.save();
    } catch (...) {
        apps.removeAt(apps.count() - 1);  // a second try is not a duplicate of itself
        throw;
    }
    return true;
}

bool EntryDialog::refuseDuplicateName() {
    const ManagerContext& texts = context();
    texts.showMessage(dialog(), texts.textOr(kDuplicateText, L""), texts.textOr(kDuplicateTitleText, L""), MB_OK);
    return false;
}

void EntryDialog::setDefaultType() {
    HWND list = item(kTypeList);
    const int row = nextItem(list, LVNI_SELECTED);
    if (row < 0) return;
    unmarkDefaultRow(list);
    setChecked(list, row, true);
    markDefaultRow(list, row);
    EnableWindow(item(kDefaultTypeButton), FALSE);
    SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(closingButton())), TRUE);
}

INT_PTR EntryDialog::onCommand(int id, int code) {
    switch (id) {
        case kNameEdit:
            if (code == EN_CHANGE && !fillingTypes_) EnableWindow(item(kFinishButton), hasName());
            return TRUE;
        case kDefaultTypeButton: setDefaultType(); return TRUE;
        case kFinishButton:
        case kNextButton:
            if (id == closingButton() && IsWindowEnabled(item(id)) && saveEntry()) EndDialog(dialog(), kNext);
            return TRUE;
        case kBackButton: EndDialog(dialog(), kBack); return TRUE;
        case IDCANCEL: EndDialog(dialog(), kCancel); return TRUE;
        default: return FALSE;
    }
}

void EntryDialog::onTypeChange(HWND list, const NMLISTVIEW& change, bool boxChanged) {
    if (boxChanged) {
        const int row = change.iItem;
        if (hasName()) EnableWindow(item(kFinishButton), anyChecked(list));
        if (row == defaultRow_ && !isChecked(list, row)) {
            unmarkDefaultRow(list);
            markDefaultRow(list, firstChecked(checkedRows(list)));
        }
    }
    if (becameSelected(change)) EnableWindow(item(kDefaultTypeButton), TRUE);
}

INT_PTR EntryDialog::onNotify(const NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(kTypeList) || fillingTypes_) return FALSE;
    return onCheckListNotify(header, [&](const NMLISTVIEW& change, bool boxChanged) {
        onTypeChange(header->hwndFrom, change, boxChanged);
    });
}

INT_PTR EntryDialog::onOtherMessage(UINT message, WPARAM, LPARAM) {
    if (message != kPickProgramMessage) return FALSE;
    pickProgram();
    return TRUE;
}
}  // namespace

INT_PTR runEntryDialog(ManagerContext& context, HWND parent, const std::wstring& entry, bool modify, int current,
                       int total) {
    return runPage<EntryDialog>(kEntryDialog, parent, context, entry, modify, current, total);
}

INT_PTR runNewEntryDialog(ManagerContext& context, HWND parent) { return runPage<EntryDialog>(kEntryDialog, parent, context); }
