// Opens the manager's dialogs one after the other for screenshots. Beside it: kvabappmgr.dll, of
// the language to show; the stored list names the known programs in that language.
// Each dialog is copied from the screen as Wine draws it into "<folder>\shot-<id>.bmp"; the
// copy, not the X server's picture, since after a file-association lookup Wine's X driver
// stops showing the windows that are open (seen with Wine 8 in a virtual desktop).
#include "AppEntry.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {
const wchar_t kListKey[] = L"Software\\KelvaraLaser\\App List Manager\\";
const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

std::wstring g_folder;
std::atomic<DWORD> g_thread{0};

void log(const char* text) {
    std::printf("shots: %s\n", text);
    std::fflush(stdout);
}

void setValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring makeProgram(const std::wstring& name) {
    const std::wstring folder = g_folder + L"apps";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return path;
}

// A known program's name in the library's language (its text `id`), or `fallback`.
std::wstring knownName(HMODULE library, UINT id, const wchar_t* fallback) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(library, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring(fallback);
}

void seed(HMODULE library) {
    std::wstring list;
    list += makeAppEntry(L"MS Word", L"C:\\Program Files\\Office\\WINWORD.EXE", L"RTF", L"RTF,TXT,JPG,BMP,DOC,DOCX", true);
    list += makeAppEntry(knownName(library, 122, L"Kel Photo Edit"), L"C:\\Program Files\\KVR\\pixedit.EXE", L"JPG",
                         L"JPG,TIF,PCX,PNG,BMP");
    list += makeAppEntry(knownName(library, 126, L"MS Paint"), L"C:\\windows\\system32\\mspaint.exe", L"BMP", L"BMP,TIF,JPG");
    list += makeAppEntry(knownName(library, 128, L"Notepad"), L"C:\\windows\\system32\\notepad.exe", L"TXT", L"TXT");
    list += makeAppEntry(L"Acrobat Reader", L"C:\\Program Files\\Reader\\AcroRd32.EXE", L"PDF", L"PDF");
    setValue(kListKey, L"AppList", list);
    for (const wchar_t* name : {L"photoview.exe", L"scanpad.exe", L"cardfile.exe"}) {
        setValue(std::wstring(kAppPaths) + name, nullptr, makeProgram(name));
    }
}

BOOL CALLBACK collect(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

HWND dialogWith(int id) {
    for (int i = 0; i < 600; ++i) {
        std::vector<HWND> windows;
        EnumThreadWindows(g_thread, collect, reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            if (IsWindowVisible(window) && GetDlgItem(window, id) != nullptr) return window;
        }
        Sleep(50);
    }
    return nullptr;
}

void setItemState(HWND list, int index, UINT state, UINT mask) {
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

// The screen under the rectangle as Wine holds it, into a 24-bit bitmap file.
bool copyScreen(const RECT& rect, const std::wstring& path) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out != nullptr) {
        std::fwrite(&file, sizeof(file), 1, out);
        std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
        std::fwrite(bits, stride, static_cast<size_t>(height), out);
        std::fclose(out);
    }
    DeleteObject(bitmap);
    return copied && out != nullptr;
}

void click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Lets the dialog paint, then copies it.
bool capture(HWND dialog, int id) {
    if (dialog == nullptr) return false;
    SetForegroundWindow(dialog);
    Sleep(1500);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    // What lies off the screen can't be copied (a mirrored dialog wider than its owner starts left of it).
    rect.left = rect.left < 0 ? 0 : rect.left;
    rect.top = rect.top < 0 ? 0 : rect.top;
    const std::wstring shot = g_folder + L"shot-" + std::to_wstring(id) + L".bmp";
    const std::wstring partial = shot + L".part";
    if (!copyScreen(rect, partial)) return false;
    return MoveFileW(partial.c_str(), shot.c_str()) != FALSE;
}

bool drive() {
    HWND list = dialogWith(1030);
    if (list == nullptr) return false;
    setItemState(GetDlgItem(list, 1030), 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(GetDlgItem(list, 1030));
    if (!capture(list, 101)) return false;

    click(list, 1026);
    HWND choice = dialogWith(1011);
    if (!capture(choice, 102)) return false;

    click(choice, IDOK);
    HWND search = dialogWith(1028);
    if (search == nullptr) return false;
    HWND found = GetDlgItem(search, 1028);
    const int count = static_cast<int>(SendMessageW(found, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count && i < 2; ++i) setItemState(found, i, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
    if (!capture(search, 103)) return false;

    click(search, 1027);
    HWND entry = dialogWith(1031);
    if (entry == nullptr) return false;
    HWND types = GetDlgItem(entry, 1031);
    setItemState(types, 10, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
    setItemState(types, 3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(GetDlgItem(entry, 1007), BM_CLICK, 0, 0);  // JPG checked and made the default type
    if (!capture(entry, 104)) return false;

    PostMessageW(entry, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    PostMessageW(list, WM_CLOSE, 0, 0);
    return true;
}
}  // namespace

int wmain() {
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    g_folder = own;
    g_folder.resize(g_folder.rfind(L'\\') + 1);
    HMODULE library = LoadLibraryW((g_folder + L"kvabappmgr.dll").c_str());
    if (library == nullptr) {
        log("the library did not load");
        return 1;
    }
    seed(library);
    using LaunchFn = LONG(WINAPI*)();
    auto launch = reinterpret_cast<LaunchFn>(reinterpret_cast<void*>(GetProcAddress(library, "LaunchGui")));
    if (launch == nullptr) return 1;
    std::atomic<bool> done{false};
    std::thread gui([&] {
        g_thread = GetCurrentThreadId();
        launch();
        done = true;
    });
    while (g_thread == 0) Sleep(10);
    const bool drove = drive();
    log(drove ? "all dialogs shown" : "a dialog did not come up");
    for (int i = 0; i < 200 && !done; ++i) Sleep(50);
    if (!done) {
        gui.detach();
        ExitProcess(drove ? 0 : 1);
    }
    gui.join();
    return drove ? 0 : 1;
}
