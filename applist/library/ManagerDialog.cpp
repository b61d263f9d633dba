#include "ManagerDialog.h"

#include "AppListDialog.h"
#include "ManagerListView.h"
#include "ManagerText.h"

#include <commctrl.h>

#include <atomic>

namespace {
// One manager per process at a time: the dialogs share the process's store.
std::atomic<bool> g_running{false};
}  // namespace

INT_PTR runManagerDialog(HINSTANCE resources, HWND owner) {
    if (g_running.exchange(true)) return -1;
    INT_PTR result = -1;
    try {
        // Without the common controls the dialog can't be made: the run fails, nothing else.
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        if (auto init = LAZY_ENTRY(commonControls(), InitCommonControlsEx)) init(&controls);
        // The library is built for one language; its resources name it.
        wchar_t language[32] = {};
        LoadStringW(resources, kLanguageNameText, language, 32);
        ManagerContext context(resources, managertext::isRightToLeftLanguage(language), AppListStore::instance());
        result = runAppListDialog(context, owner);
    } catch (...) {
    }
    g_running = false;
    return result;
}
