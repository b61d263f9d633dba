#include "ProgramPicker.h"

#include "LazyLibrary.h"

#include <commdlg.h>
#include <dlgs.h>

#include <vector>

namespace {
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

bool pickProgramFile(HWND owner, std::wstring& path) {
    std::vector<wchar_t> file(MAX_PATH + 1, L'\0');
    OPENFILENAMEW choice = {};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = owner;
    choice.lpstrFilter = L"EXE files (*.exe)\0*.EXE\0";
    choice.lpstrFile = file.data();
    choice.nMaxFile = static_cast<DWORD>(file.size());
    choice.lpstrInitialDir = L"C:\\Program Files\\";
    choice.lpstrDefExt = L"exe";
    choice.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    choice.lpfnHook = programPickerHook;
    // Bound on first use: only a manager that picks a program needs the common dialogs.
    static LazyLibrary dialogs("comdlg32.dll");
    auto open = LAZY_ENTRY(dialogs, GetOpenFileNameW);
    if (open == nullptr || !open(&choice)) return false;
    path = file.data();
    return true;
}
