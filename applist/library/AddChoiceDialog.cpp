#include "AddChoiceDialog.h"

#include "EntryDialog.h"
#include "SearchDialog.h"

namespace {
class AddChoiceDialog : public ManagerPage {
public:
    using ManagerPage::ManagerPage;

private:
    void onInit() override { CheckRadioButton(dialog(), kAutomaticRadio, kManualRadio, kAutomaticRadio); }
    INT_PTR onCommand(int id, int code) override;
    INT_PTR onClose() override {
        EndDialog(dialog(), kClosed);
        return TRUE;
    }
    void addApplications();
};

// After Back from the search or the entry this dialog stays for another choice.
void AddChoiceDialog::addApplications() {
    const INT_PTR result = IsDlgButtonChecked(dialog(), kAutomaticRadio) == BST_CHECKED
                               ? runSearchDialog(context(), dialog())
                               : runNewEntryDialog(context(), dialog());
    if (result != kBack) EndDialog(dialog(), kClosed);
}

INT_PTR AddChoiceDialog::onCommand(int id, int) {
    switch (id) {
        case IDOK: addApplications(); return TRUE;
        case IDCANCEL: EndDialog(dialog(), kCancel); return TRUE;
        default: return FALSE;
    }
}
}  // namespace

INT_PTR runAddChoiceDialog(ManagerContext& context, HWND parent) {
    return runPage<AddChoiceDialog>(kAddChoiceDialog, parent, context);
}
