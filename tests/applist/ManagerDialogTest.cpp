// The manager's dialogs in the real library: LaunchGui runs on a worker thread, the test finds
// the dialogs among that thread's windows, drives them by messages and reads the registry.
#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "ManagerText.h"
#include "texts.h"

#include "Handles.h"
#include "ListTestSupport.h"
#include "MangledLists.h"
#include "TestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>

using namespace testing_support;
using namespace managertext;

namespace {
// The copy's name chooses the brand key "IbrexLaser".
const char kLibraryName[] = "ebdgappmgr.dll";
const wchar_t kBrandKey[] = L"Software\\IbrexLaser";
const wchar_t kListKey[] = L"Software\\IbrexLaser\\App List Manager\\";
const wchar_t kGuiName[] = L"Application Listebdgappmgr.dll";

// Dialog 101.
constexpr int kAppList = 1030;
constexpr int kRefresh = 1025;
constexpr int kAdd = 1026;
constexpr int kModify = 1010;
constexpr int kRemove = 1006;
constexpr int kSetDefault = 1007;
constexpr int kUp = 1036;
constexpr int kDown = 1037;
constexpr int kClose = 1008;
// Dialogs 102-104.
constexpr int kAutomatic = 1011;
constexpr int kManual = 1012;
constexpr int kFoundList = 1028;
constexpr int kTypeList = 1031;
constexpr int kNameEdit = 1020;
constexpr int kTitleLabel = 1038;
constexpr int kDefaultType = 1007;
constexpr int kBack = 1021;
constexpr int kNext = 1027;
constexpr int kFinish = 1029;
// The open-file dialog's name box, and a message box's text.
constexpr int kFileNameBox = 0x47c;
constexpr int kMessageText = 0xFFFF;

constexpr DWORD kWaitMs = 30000;

// The texts of the language under test, from its own set: the test is built once per language.
std::wstring fromUtf8(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}
const bool kRightToLeft = isRightToLeftLanguage(fromUtf8(LANGUAGE_NAME));
const std::wstring kDefaultAppMark = fromUtf8(T_121);
const std::wstring kDefaultTypeMark = fromUtf8(T_120);
const std::wstring kAddLabel = fromUtf8(T_ADD_LABEL);
const std::wstring kDuplicateTitle = fromUtf8(T_118);
const std::wstring kDuplicateText = fromUtf8(T_119);

// Text 117 with the name between its two apostrophes.
std::wstring removeQuestion(const std::wstring& name) {
    const std::wstring text = fromUtf8(T_117);
    const size_t open = text.find(L'\'');
    return text.substr(0, open + 1) + name + text.substr(text.find(L'\'', open + 1));
}

// "  (1 / 2)", led by a right-to-left mark in a right-to-left language.
std::wstring counter(int current, int total) {
    return std::wstring(L"  ") + (kRightToLeft ? L"\u200F" : L"") + L"(" + std::to_wstring(current) + L" " +
           fromUtf8(T_190) + L" " + std::to_wstring(total) + L")";
}

// A file type's row, kept left to right in a right-to-left language.
std::wstring typeName(const std::wstring& name) { return kRightToLeft ? L"\u202A" + name + L"\u202C" : name; }

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, kWaitMs, &length);
    return text;
}

BOOL CALLBACK collect(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

BOOL CALLBACK countManagers(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetDlgItem(window, kAppList) != nullptr) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

std::vector<HWND> threadWindows(DWORD thread) {
    std::vector<HWND> windows;
    EnumThreadWindows(thread, collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// A direct child of `dialog` of the class with the id (the open-file dialog has several id 1).
HWND childOf(HWND dialog, int id, const wchar_t* wantedClass = nullptr) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == id && (wantedClass == nullptr || className(child) == wantedClass)) return child;
    }
    return nullptr;
}

bool isShownDialog(HWND window) { return className(window) == L"#32770" && IsWindowVisible(window); }

bool isMessageBox(HWND window) {
    if (!isShownDialog(window) || childOf(window, kMessageText, L"Static") == nullptr) return false;
    for (int id : {kAppList, kAutomatic, kFoundList, kTypeList, kFileNameBox}) {
        if (GetDlgItem(window, id) != nullptr) return false;
    }
    return true;
}

std::wstring messageText(HWND box) { return windowText(childOf(box, kMessageText, L"Static")); }

// The icon a message box shows, null for none (Wine keeps an empty icon control then).
HICON messageBoxIcon(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) != L"Static" || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        if (HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0))) return icon;
    }
    return nullptr;
}

// ---- List views and buttons, from the test thread ----

int itemCount(HWND list) { return ListView_GetItemCount(list); }

std::wstring itemText(HWND list, int index) {
    wchar_t buffer[1024] = {};
    ListView_GetItemText(list, index, 0, buffer, 1024);
    return buffer;
}

std::vector<std::wstring> itemTexts(HWND list) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < itemCount(list); ++i) texts.push_back(itemText(list, i));
    return texts;
}

void selectItem(HWND list, int index) {
    ListView_SetItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

// As a click on the item does: the selection is made anew even when it was already there.
void chooseItem(HWND list, int index) {
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    selectItem(list, index);
}

bool isSelected(HWND list, int index) { return ListView_GetItemState(list, index, LVIS_SELECTED) != 0; }
void setChecked(HWND list, int index, bool checked) { ListView_SetCheckState(list, index, checked); }
bool isChecked(HWND list, int index) { return ListView_GetCheckState(list, index) == 1; }

std::vector<int> checkedRows(HWND list) {
    std::vector<int> rows;
    for (int i = 0; i < itemCount(list); ++i) {
        if (isChecked(list, i)) rows.push_back(i);
    }
    return rows;
}

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool shown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

// "1" for each enabled control, "0" for each disabled one.
std::string enabledOf(HWND dialog, std::initializer_list<int> ids) {
    std::string states;
    for (int id : ids) states += enabled(dialog, id) ? '1' : '0';
    return states;
}

void setText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A click the user could make: the button must be shown and enabled. `later` posts it, for a
// click that opens a modal window or may; otherwise it has been handled on return.
::testing::AssertionResult click(HWND dialog, int id, bool later = false) {
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr) return ::testing::AssertionFailure() << "no button " << id;
    if (!IsWindowVisible(button)) return ::testing::AssertionFailure() << "button " << id << " is hidden";
    if (!IsWindowEnabled(button)) return ::testing::AssertionFailure() << "button " << id << " is disabled";
    if (later) {
        PostMessageW(button, BM_CLICK, 0, 0);
    } else {
        SendMessageW(button, BM_CLICK, 0, 0);
    }
    return ::testing::AssertionSuccess();
}

// The corner of the window's client area on the screen.
// The screen position of `window`'s top client corner on the side `owner` leads with: the left,
// or the right for a mirrored (right-to-left) owner, whose client origin that is.
std::pair<LONG, LONG> leadingCorner(HWND owner, HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
    ClientToScreen(window, &corners[0]);
    ClientToScreen(window, &corners[1]);
    const bool fromRight = (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    return {fromRight ? std::max(corners[0].x, corners[1].x) : std::min(corners[0].x, corners[1].x), corners[0].y};
}

// The window's client area lies inside an edge of its own.
bool hasEdge(HWND window) {
    WINDOWINFO info = {};
    info.cbSize = sizeof(info);
    return GetWindowInfo(window, &info) && info.rcClient.left > info.rcWindow.left &&
           info.rcClient.top > info.rcWindow.top;
}

// ---- The registry ----

std::wstring storedText() {
    std::vector<wchar_t> text(16384);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, kListKey, L"AppList", RRF_RT_REG_SZ, nullptr, text.data(), &size);
    return status == ERROR_SUCCESS ? text.data() : L"(unread: " + std::to_wstring(status) + L")";
}

std::vector<std::wstring> storedEntries() { return splitEntries(storedText()); }

std::vector<std::wstring> storedNames() {
    std::vector<std::wstring> names;
    for (const std::wstring& entry : storedEntries()) names.push_back(entryValue(entry, L"FRIENDLY_NAME"));
    return names;
}

// A field of the stored entry at `index`, "(none)" past the end.
std::wstring storedValue(size_t index, const wchar_t* field) {
    const std::vector<std::wstring> entries = storedEntries();
    return index < entries.size() ? entryValue(entries[index], field) : L"(none)";
}

// Set when the manager's thread takes the marker from its queue, so after all posted before it.
std::atomic<bool> g_markerTaken{false};
constexpr WPARAM kMarker = 0x6B766162;

LRESULT CALLBACK watchQueue(int code, WPARAM removal, LPARAM message) {
    const MSG* taken = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && taken->message == WM_NULL && taken->wParam == kMarker) {
        g_markerTaken = true;
    }
    return CallNextHookEx(nullptr, code, removal, message);
}


// The tests of every language share the brand key and the registered programs: one test
// program at a time, from its start to its end (Manager takes the same turn again on its own).
struct ProcessTurn {
    ProcessTurn() : turn(CreateMutexW(nullptr, FALSE, L"ebdg-manager-dialog-tests")) {
        if (turn != nullptr) WaitForSingleObject(turn, 110000);
    }
    HANDLE turn;  // left to the process's end, which gives it up
} const g_processTurn;

// The library copy, its brand key emptied, and LaunchGui running on its own thread. Every test
// of the dialogs uses the one brand key, so they take turns across processes.
class Manager {
public:
    explicit Manager(const std::vector<std::wstring>& entries = {}) {
        turn_ = CreateMutexW(nullptr, FALSE, L"ebdg-manager-dialog-tests");
        WaitForSingleObject(turn_, 110000);
        deleteKeyTree(HKEY_LOCAL_MACHINE, kBrandKey);
        std::wstring text;
        for (const std::wstring& entry : entries) text += entry;
        if (!entries.empty()) storeList(kListKey, text);
        const std::string path = folder_.file(kLibraryName);
        CopyFileA((ownFolder() + MANAGER_LIBRARY).c_str(), path.c_str(), FALSE);
        library_ = LoadLibraryA(path.c_str());
        if (library_ == nullptr) return;
        launch_ = reinterpret_cast<LaunchFn>(reinterpret_cast<void*>(GetProcAddress(library_, "LaunchGui")));
        if (launch_ == nullptr) return;
        worker_ = std::thread([this] {
            thread_ = GetCurrentThreadId();
            result_ = launch_();
            done_ = true;
        });
        waitUntil([this] { return thread_ != 0; });
        main_ = dialogWith(kAppList);
    }

    // A text of the library under test ("" when it has none).
    std::wstring text(UINT id) const {
        const wchar_t* resource = nullptr;
        const int length = library_ != nullptr ? LoadStringW(library_, id, reinterpret_cast<LPWSTR>(&resource), 0) : 0;
        return length > 0 ? std::wstring(resource, static_cast<size_t>(length)) : std::wstring();
    }

    ~Manager() {
        closeEverything();
        if (worker_.joinable()) {
            if (done_) {
                worker_.join();
            } else {
                worker_.detach();  // stuck: the library stays loaded rather than unloaded under it
                library_ = nullptr;
            }
        }
        if (library_ != nullptr) FreeLibrary(library_);
        deleteKeyTree(HKEY_LOCAL_MACHINE, kBrandKey);
        ReleaseMutex(turn_);
        CloseHandle(turn_);
    }

    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    HWND main() const { return main_; }
    HWND list() const { return GetDlgItem(main_, kAppList); }
    bool done() const { return done_; }
    LONG result() const { return result_; }
    LONG launchAgain() const { return launch_(); }

    // The shown window of the manager's thread that `match` picks, once it is there.
    HWND find(const std::function<bool(HWND)>& match) const {
        HWND found = nullptr;
        waitUntil([&] {
            for (HWND window : threadWindows(thread_)) {
                if (found == nullptr && match(window)) found = window;
            }
            return found != nullptr;
        });
        return found;
    }
    HWND dialogWith(int id) const {
        return find([id](HWND window) { return isShownDialog(window) && GetDlgItem(window, id) != nullptr; });
    }
    HWND messageBox() const { return find(isMessageBox); }

    // Clicks a button that opens a window, and finds the dialog with `control`, or the message box.
    HWND open(HWND dialog, int button, int control = kMessageText) const {
        const ::testing::AssertionResult clicked = click(dialog, button, true);
        if (!clicked) ADD_FAILURE() << clicked.message();
        return !clicked ? nullptr : control == kMessageText ? messageBox() : dialogWith(control);
    }

    // After a window of the manager's thread is gone, the handler that ran it goes on; this
    // returns once the thread reads messages again.
    void settle() const {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored);
    }

    // Returns once what was posted to the manager's thread so far has been handled (or has
    // opened a window, whose own loop then reads the rest).
    void drain() const {
        g_markerTaken = false;
        UniqueHook hook(SetWindowsHookExW(WH_GETMESSAGE, watchQueue, nullptr, thread_));
        ASSERT_TRUE(hook) << GetLastError();
        PostMessageW(main_, WM_NULL, kMarker, 0);
        ASSERT_TRUE(waitUntil([] { return g_markerTaken.load(); }));
        settle();
    }

    // Enter pressed in `control`, which has the focus; returns once the dialog has handled it.
    void pressEnter(HWND dialog, HWND control) const {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        PostMessageW(control, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(control, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001));
        drain();
    }

    // Answers a message box and waits for the work after it.
    void answer(HWND box, int button) const {
        HWND choice = childOf(box, button, L"Button");
        ASSERT_NE(nullptr, choice) << "no button " << button << " in the message box";
        SendMessageW(choice, BM_CLICK, 0, 0);
        ASSERT_TRUE(waitUntil([&] { return !IsWindow(box); }));
        settle();
    }

    // Clicks a button that ends its dialog, and waits until the caller has gone on.
    void clickAndWaitClosed(HWND dialog, int id) const {
        ASSERT_TRUE(click(dialog, id, true));
        ASSERT_TRUE(waitUntil([&] { return !IsWindow(dialog); })) << "dialog still open after " << id;
        settle();
    }

    // Dialog 104 on the item at `index`, opened with Modify.
    HWND modify(int index) const {
        chooseItem(list(), index);
        return open(main_, kModify, kTypeList);
    }

    // Removes the item at `index`, answering the question with `reply`.
    void remove(int index, int reply) const {
        chooseItem(list(), index);
        HWND box = open(main_, kRemove);
        ASSERT_NE(nullptr, box);
        answer(box, reply);
    }

    bool closeManager() {
        if (!click(main_, kClose, true)) return false;
        return waitUntil([this] { return done_.load(); });
    }

private:
    using LaunchFn = LONG(WINAPI*)();

    // Ends whatever is still open, innermost first: a failed test leaves no thread behind.
    void closeEverything() {
        if (thread_ == 0) return;
        waitUntil(
            [this] {
                if (done_) return true;
                for (HWND window : threadWindows(thread_)) {
                    if (!isShownDialog(window) || !IsWindowEnabled(window)) continue;
                    if (isMessageBox(window)) {
                        const int button = childOf(window, IDNO, L"Button") != nullptr ? IDNO : IDOK;
                        PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                    } else if (window == main_) {
                        PostMessageW(window, WM_CLOSE, 0, 0);
                    } else {
                        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                    }
                }
                Sleep(100);
                return done_.load();
            },
            60000);
    }

    HANDLE turn_ = nullptr;
    TempFolder folder_;
    HMODULE library_ = nullptr;
    LaunchFn launch_ = nullptr;
    std::thread worker_;
    std::atomic<DWORD> thread_{0};
    std::atomic<bool> done_{false};
    std::atomic<LONG> result_{-1};
    HWND main_ = nullptr;
};

std::wstring entry(const std::wstring& name, const std::wstring& path, bool isDefault = false,
                   const std::wstring& defaultType = L"JPG", const std::wstring& types = L"JPG,BMP") {
    return makeAppEntry(name, path, defaultType, types, isDefault);
}

std::vector<std::wstring> names(std::initializer_list<const wchar_t*> list) {
    return std::vector<std::wstring>(list.begin(), list.end());
}
}  // namespace

// ---- The text rules ----

TEST(ManagerText, NamesCountersAndConfirmations) {
    EXPECT_EQ(L"Foo  Bar", cleanFriendlyName(L"Foo & <Bar>")) << "the neighbours stay as they were";
    EXPECT_EQ(L"ab", cleanFriendlyName(L"\"a'&<>b'\""));
    EXPECT_EQ(L"\u5C0F\u756B\u5BB6 (x) / 1;", cleanFriendlyName(L"\u5C0F\u756B\u5BB6 (x) / 1;"));
    EXPECT_EQ(L"", cleanFriendlyName(L"<&>"));

    EXPECT_EQ(L"  (2 / 3)", positionCounter(2, 3, L"/", false));
    EXPECT_EQ(L"  \u200F(1 of 12)", positionCounter(1, 12, L"of", true)) << "the mark after the two blanks";

    EXPECT_EQ(L"Remove 'Viewer' now?", removeConfirmation(L"Remove '' now?", L"Viewer"));
    EXPECT_EQ(L"Remove 'Viewer' now 'x'", removeConfirmation(L"Remove 'old' now 'x'", L"Viewer"))
        << "the text between the first two apostrophes is replaced, the rest kept";
    EXPECT_EQ(L"Remove it?", removeConfirmation(L"Remove it?", L"Viewer"));
    EXPECT_EQ(L"Remove 'Viewer", removeConfirmation(L"Remove '", L"Viewer"));

    EXPECT_EQ(L"b.exe", fileNameOf(L"C:\\a\\b.exe"));
    EXPECT_EQ(L"b.exe", fileNameOf(L"b.exe"));
    EXPECT_EQ(L"", fileNameOf(L"C:\\a\\"));

    EXPECT_TRUE(isRightToLeftLanguage(L"HEBREW"));
    EXPECT_TRUE(isRightToLeftLanguage(L"arabic"));
    EXPECT_FALSE(isRightToLeftLanguage(L"Chi_Trad"));
    EXPECT_FALSE(isRightToLeftLanguage(L"HEBREW "));
    EXPECT_FALSE(isRightToLeftLanguage(L""));
    EXPECT_EQ(L"\u202AGIF (*.GIF)\u202C", displayTypeName(2, true));
    EXPECT_EQ(L"GIF (*.GIF)", displayTypeName(2, false));
}

TEST(ManagerText, TypeRowsPairWithTheirCodes) {
    ASSERT_EQ(24u, kFileTypeCount);
    // The picture and text rows pair with the association types by position.
    for (size_t row = 0; row < 18; ++row) {
        std::wstring type = kAssociationTypes[row];
        std::wstring code;
        for (wchar_t c : type.substr(1)) code += static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
        EXPECT_EQ(code, fileTypeCode(row)) << "row " << row;
    }
    EXPECT_STREQ(L"PCX (*.PCS)", fileTypeName(8));
    EXPECT_STREQ(L"PCX", fileTypeCode(8));
    // The office rows keep their own codes.
    const wchar_t* office[] = {L"DOC", L"DOCX", L"PPT", L"PPTX", L"XLS", L"XLSX"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_STREQ(office[i], fileTypeCode(18 + i));
        EXPECT_EQ(static_cast<int>(18 + i), rowForCode(office[i]));
    }
    EXPECT_EQ(-1, rowForCode(L"LSS"));
    EXPECT_EQ(-1, rowForCode(L""));
    EXPECT_EQ(3, rowForCode(L"jpg"));
    EXPECT_EQ(0, rowForCode(L" BMP")) << "the blanks of a hand-made list";

    const TypeRows word = rowsForEntry(L"RTF,TXT,JPG,BMP,DOC,DOCX", L"RTF");
    EXPECT_EQ(L"BMP,JPG,RTF,TXT,DOC,DOCX", supportedCodes(word.checked)) << "row order";
    EXPECT_EQ(16, word.defaultRow);
    EXPECT_EQ(0, firstChecked(word.checked));

    const TypeRows tiff = rowsForEntry(L"TIF,TIFF", L"TIFF");
    EXPECT_EQ(12, tiff.defaultRow) << "the default is the row of that code, not one it contains";
    EXPECT_EQ(-1, rowsForEntry(L"RTF,TXT,DOC,XLS", L"JPG").defaultRow) << "a default outside the list";
    EXPECT_EQ(-1, rowsForEntry(L"JPG", L"").defaultRow);
    const TypeRows gallery = rowsForEntry(L"JPG, BMP, JFIF, TIFF, PNG", L"JPG");
    EXPECT_EQ(L"BMP,JPG,JFIF,PNG,TIFF", supportedCodes(gallery.checked));
    EXPECT_EQ(L"", supportedCodes(rowsForEntry(L"", L"").checked));
    EXPECT_EQ(-1, firstChecked(rowsForEntry(L"LSS,,", L"LSS").checked));
}

// ---- Dialog 101 ----

TEST(ManagerDialog, MoveButtonsFollowTheSelectionAndMovesAreSaved) {
    {
        SCOPED_TRACE("one entry");
        Manager manager({entry(L"Solo", L"C:\\solo.exe", true)});
        ASSERT_NE(nullptr, manager.main());
        HWND list = manager.list();
        // The language's caption, and a right-to-left language's mirrored layout.
        EXPECT_EQ(fromUtf8(T_LIST_CAPTION), windowText(manager.main()));
        EXPECT_EQ(kRightToLeft, (GetWindowLongW(manager.main(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0);
        ASSERT_EQ(1, itemCount(list));
        EXPECT_EQ(L"Solo" + kDefaultAppMark, itemText(list, 0));
        EXPECT_EQ("000011", enabledOf(manager.main(), {kUp, kDown, kModify, kRemove, kAdd, kRefresh}));
        EXPECT_FALSE(shown(manager.main(), kSetDefault)) << "the set-default button is not offered";
        selectItem(list, 0);
        EXPECT_EQ("0011", enabledOf(manager.main(), {kUp, kDown, kModify, kRemove}));

        ASSERT_TRUE(manager.closeManager());
        EXPECT_EQ(0, manager.result());
        EXPECT_EQ(std::vector<std::wstring>({entry(L"Solo", L"C:\\solo.exe", true)}), storedEntries())
            << "close saves the list unchanged";
    }
    Manager manager({entry(L"A", L"C:\\a.exe"), entry(L"B", L"C:\\b.exe", true), entry(L"C", L"C:\\c.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND dialog = manager.main();
    HWND list = manager.list();
    ASSERT_EQ(3, itemCount(list));
    const char* const upDown[] = {"01", "11", "10"};
    for (int row = 0; row < 3; ++row) {
        selectItem(list, row);
        EXPECT_EQ(upDown[row], enabledOf(dialog, {kUp, kDown})) << "row " << row;
    }

    selectItem(list, 0);
    ASSERT_TRUE(click(dialog, kDown));
    EXPECT_EQ(names({L"B", L"A", L"C"}), storedNames()) << "saved at once";
    EXPECT_EQ(std::vector<std::wstring>({L"B" + kDefaultAppMark, L"A", L"C"}), itemTexts(list));
    EXPECT_TRUE(isSelected(list, 1)) << "the moved item stays chosen";
    EXPECT_EQ("111", enabledOf(dialog, {kUp, kDown, kModify}));

    ASSERT_TRUE(click(dialog, kDown));
    EXPECT_EQ(names({L"B", L"C", L"A"}), storedNames());
    EXPECT_TRUE(isSelected(list, 2));
    EXPECT_FALSE(enabled(dialog, kDown)) << "now the last";

    ASSERT_TRUE(click(dialog, kUp));
    ASSERT_TRUE(click(dialog, kUp));
    EXPECT_FALSE(click(dialog, kUp)) << "the first can't go up";
    EXPECT_EQ(names({L"A", L"B", L"C"}), storedNames());
    EXPECT_EQ(L"true", storedValue(1, L"DEFAULT_AIO_APP")) << "the default mark travels with its entry";
}

TEST(ManagerDialog, AnItemStateChangeKeepsTheItemChosenUntilAClickOnNoItem) {
    Manager manager({entry(L"A", L"C:\\a.exe"), entry(L"B", L"C:\\b.exe"), entry(L"C", L"C:\\c.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND dialog = manager.main();
    HWND list = manager.list();
    chooseItem(list, 1);
    EXPECT_EQ("1111", enabledOf(dialog, {kUp, kDown, kModify, kRemove}));
    // What Ctrl+Space does: the item loses the selection and keeps the focus.
    ListView_SetItemState(list, 1, 0, LVIS_SELECTED);
    ASSERT_EQ(-1, ListView_GetNextItem(list, -1, LVNI_SELECTED));
    EXPECT_EQ("1111", enabledOf(dialog, {kUp, kDown, kModify, kRemove})) << "still chosen, with no item selected";
    HWND edit = manager.open(dialog, kModify, kTypeList);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(L"B", windowText(GetDlgItem(edit, kNameEdit))) << "Modify takes the focused item";
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, IDCANCEL));
    EXPECT_EQ("00", enabledOf(dialog, {kModify, kRemove})) << "Modify turned the flag off";

    // A click reads the selection: on an item it chooses it, below the items it chooses none.
    chooseItem(list, 2);
    EXPECT_EQ("1011", enabledOf(dialog, {kUp, kDown, kModify, kRemove}));
    RECT client = {};
    GetClientRect(list, &client);
    const LPARAM belowTheItems = MAKELPARAM(client.right / 2, client.bottom - 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, belowTheItems);
    PostMessageW(list, WM_LBUTTONUP, 0, belowTheItems);
    EXPECT_TRUE(waitUntil([&] { return enabledOf(dialog, {kUp, kDown, kModify, kRemove}) == "0000"; }, 5000))
        << enabledOf(dialog, {kUp, kDown, kModify, kRemove});
}

TEST(ManagerDialog, TheCaptionTakesOnlyTheIconFileAsItsSmallIcon) {
    TempFolder folder;
    char previous[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous)) << GetLastError();
    struct Restore {
        const char* path;
        ~Restore() { SetCurrentDirectoryA(path); }
    } restore{previous};
    // The file is looked for in the host's current folder.
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str())) << GetLastError();
    auto icon = [](HWND dialog, WPARAM kind) { return SendMessageW(dialog, WM_GETICON, kind, 0); };
    {
        SCOPED_TRACE("no icon file");
        Manager manager({entry(L"A", L"C:\\a.exe")});
        ASSERT_NE(nullptr, manager.main());
        EXPECT_EQ(0, icon(manager.main(), ICON_SMALL)) << "no stand-in from the library's icons";
        EXPECT_EQ(0, icon(manager.main(), ICON_BIG));
    }
    std::string iconFile = APP_ICON_FILE;
    std::replace(iconFile.begin(), iconFile.end(), '/', '\\');
    ASSERT_TRUE(CopyFileA(("Z:" + iconFile).c_str(), folder.file("appmgr.ico").c_str(), FALSE)) << GetLastError();
    Manager manager({entry(L"A", L"C:\\a.exe")});
    ASSERT_NE(nullptr, manager.main());
    EXPECT_NE(0, icon(manager.main(), ICON_SMALL));
    EXPECT_EQ(0, icon(manager.main(), ICON_BIG)) << "the large icon is left alone";
}

TEST(ManagerDialog, RemovingAsksFirstAndKeepsOneDefault) {
    {
        Manager manager({entry(L"Solo", L"C:\\solo.exe", true)});
        ASSERT_NE(nullptr, manager.main());
        chooseItem(manager.list(), 0);
        HWND box = manager.open(manager.main(), kRemove);
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(removeQuestion(L"Solo"), messageText(box));
        EXPECT_EQ(L"", windowText(box)) << "no title";
        EXPECT_EQ(kRightToLeft, (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0)
            << "a right-to-left language's message box is laid out from the right";
        ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDNO));
        EXPECT_EQ(1u, storedEntries().size()) << "No removes nothing";
        EXPECT_EQ(1, itemCount(manager.list()));

        ASSERT_NO_FATAL_FAILURE(manager.remove(0, IDYES));
        EXPECT_EQ(L"", storedText()) << "the only default is gone and nothing else is marked";
        EXPECT_EQ(0, itemCount(manager.list()));
        EXPECT_FALSE(enabled(manager.main(), kRemove));
    }
    Manager manager({entry(L"A", L"C:\\a.exe"), entry(L"B", L"C:\\b.exe", true), entry(L"C", L"C:\\c.exe")});
    ASSERT_NE(nullptr, manager.main());
    ASSERT_NO_FATAL_FAILURE(manager.remove(2, IDYES));
    EXPECT_EQ(names({L"A", L"B"}), storedNames());
    EXPECT_EQ(L"true", storedValue(1, L"DEFAULT_AIO_APP")) << "removing another entry keeps the default";

    ASSERT_NO_FATAL_FAILURE(manager.remove(1, IDYES));
    ASSERT_EQ(names({L"A"}), storedNames());
    EXPECT_EQ(L"true", storedValue(0, L"DEFAULT_AIO_APP")) << "the first remaining entry becomes the default";
    EXPECT_EQ(L"A" + kDefaultAppMark, itemText(manager.list(), 0));
}

// ---- Dialog 104 from Modify ----

TEST(ManagerDialog, ModifyRefusesAnotherEntrysNameAndCleansTheName) {
    Manager manager({entry(L"A", L"C:\\tools\\a.exe", true), entry(L"B", L"C:\\tools\\b.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND edit = manager.modify(1);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(L"B", windowText(GetDlgItem(edit, kNameEdit)));
    EXPECT_EQ(kAddLabel + L"b.exe" + counter(1, 1), windowText(GetDlgItem(edit, kTitleLabel)));
    EXPECT_TRUE(shown(edit, kFinish));
    EXPECT_FALSE(shown(edit, kNext));
    EXPECT_TRUE(enabled(edit, kFinish));

    setText(edit, kNameEdit, L"A");
    HWND box = manager.open(edit, kFinish);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(kDuplicateTitle, windowText(box));
    EXPECT_EQ(kDuplicateText, messageText(box));
    EXPECT_EQ(nullptr, messageBoxIcon(box)) << "a plain message, no warning icon";
    ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDOK));
    EXPECT_TRUE(IsWindow(edit) && IsWindowVisible(edit)) << "the entry dialog stays for another name";
    EXPECT_EQ(names({L"A", L"B"}), storedNames());

    setText(edit, kNameEdit, L"");
    EXPECT_FALSE(enabled(edit, kFinish)) << "no name, no finish";
    setText(edit, kNameEdit, L"Foo & <Bar>");
    EXPECT_TRUE(enabled(edit, kFinish));
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    ASSERT_EQ(names({L"A", L"Foo  Bar"}), storedNames());
    EXPECT_EQ(entry(L"Foo  Bar", L"C:\\tools\\b.exe", false, L"JPG", L"BMP,JPG"), storedEntries()[1])
        << "the same path and types, the types in row order";
    EXPECT_EQ(L"Foo  Bar", itemText(manager.list(), 1));

    // The default application keeps its mark, and its own name is no duplicate.
    edit = manager.modify(0);
    ASSERT_NE(nullptr, edit);
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    ASSERT_EQ(2u, storedEntries().size());
    EXPECT_EQ(entry(L"A", L"C:\\tools\\a.exe", true, L"JPG", L"BMP,JPG"), storedEntries()[0]);
}

TEST(ManagerDialog, TypeRowsFollowTheEntryAndTheDefaultMarkMoves) {
    // Some known programs' types are written with a blank after each comma, as the second's.
    Manager manager({entry(L"Viewer", L"C:\\tools\\viewer.exe", false, L"BMP", L"JPG,BMP,DOCX,LSS"),
                     entry(L"Gallery", L"C:\\tools\\gallery.exe", false, L"JPG", L"JPG, BMP, JFIF, TIFF, PNG")});
    ASSERT_NE(nullptr, manager.main());
    HWND edit = manager.modify(0);
    ASSERT_NE(nullptr, edit);
    HWND types = GetDlgItem(edit, kTypeList);
    ASSERT_EQ(24, itemCount(types));
    EXPECT_EQ(std::vector<int>({0, 3, 19}), checkedRows(types));
    EXPECT_EQ(typeName(L"Bitmap (*.BMP)") + kDefaultTypeMark, itemText(types, 0));
    EXPECT_EQ(typeName(L"JPEG (*.JPG)"), itemText(types, 3));
    EXPECT_EQ(typeName(L"Microsoft Excel Worksheet (*.XLSX)"), itemText(types, 23));
    // The rows were checked as a user checks them: the last is selected and can be made the default.
    EXPECT_TRUE(isSelected(types, 19));
    EXPECT_TRUE(enabled(edit, kDefaultType));

    setChecked(types, 0, false);
    EXPECT_EQ(typeName(L"Bitmap (*.BMP)"), itemText(types, 0)) << "unchecking the default drops its mark";
    EXPECT_EQ(typeName(L"JPEG (*.JPG)") + kDefaultTypeMark, itemText(types, 3)) << "and the first checked row takes it";
    EXPECT_TRUE(isSelected(types, 0)) << "a check change selects the row";
    EXPECT_TRUE(enabled(edit, kDefaultType));

    selectItem(types, 11);
    ASSERT_TRUE(click(edit, kDefaultType));
    EXPECT_TRUE(isChecked(types, 11)) << "the new default type is checked too";
    EXPECT_EQ(typeName(L"TIF (*.TIF)") + kDefaultTypeMark, itemText(types, 11));
    EXPECT_EQ(typeName(L"JPEG (*.JPG)"), itemText(types, 3));
    EXPECT_FALSE(enabled(edit, kDefaultType));

    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    ASSERT_EQ(2u, storedEntries().size());
    EXPECT_EQ(L"TIF", storedValue(0, L"DEFAULT_FILE_TYPE"));
    EXPECT_EQ(L"JPG,TIF,DOCX", storedValue(0, L"SUPPORTED_FILE_TYPES"));

    // Unchecking every row leaves no default; a row checked again becomes it on saving.
    edit = manager.modify(0);
    ASSERT_NE(nullptr, edit);
    types = GetDlgItem(edit, kTypeList);
    for (int row : checkedRows(types)) setChecked(types, row, false);
    EXPECT_FALSE(enabled(edit, kFinish)) << "with a name but no type";
    EXPECT_EQ(typeName(L"Microsoft Word Document(*.DOCX)"), itemText(types, 19)) << "the mark went with the last checked row";
    setChecked(types, 22, true);
    EXPECT_TRUE(enabled(edit, kFinish));
    EXPECT_EQ(typeName(L"Microsoft Excel Worksheet (*.XLS)"), itemText(types, 22)) << "checking alone does not make a default";
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    EXPECT_EQ(L"XLS", storedValue(0, L"DEFAULT_FILE_TYPE"));
    EXPECT_EQ(L"XLS", storedValue(0, L"SUPPORTED_FILE_TYPES"));

    // An unchanged Modify of the list with blanks keeps every type.
    edit = manager.modify(1);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(std::vector<int>({0, 3, 4, 10, 12}), checkedRows(GetDlgItem(edit, kTypeList))) << "every type checked";
    EXPECT_EQ(typeName(L"JPEG (*.JPG)") + kDefaultTypeMark, itemText(GetDlgItem(edit, kTypeList), 3));
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    EXPECT_EQ(L"BMP,JPG,JFIF,PNG,TIFF", storedValue(1, L"SUPPORTED_FILE_TYPES")) << "no type lost";
    EXPECT_EQ(L"JPG", storedValue(1, L"DEFAULT_FILE_TYPE"));
}

TEST(ManagerDialog, TheDefaultTypeIsTheRowOfExactlyItsCode) {
    Manager manager({entry(L"Sheets", L"C:\\tools\\sheets.exe", false, L"XLS", L"TIF,TIFF,XLS,XLSX"),
                     entry(L"Photos", L"C:\\tools\\photos.exe", false, L"", L"JPG,JPEG")});
    ASSERT_NE(nullptr, manager.main());
    HWND edit = manager.modify(0);
    ASSERT_NE(nullptr, edit);
    HWND types = GetDlgItem(edit, kTypeList);
    EXPECT_EQ(std::vector<int>({11, 12, 22, 23}), checkedRows(types));
    EXPECT_EQ(typeName(L"Microsoft Excel Worksheet (*.XLS)") + kDefaultTypeMark, itemText(types, 22));
    EXPECT_EQ(typeName(L"Microsoft Excel Worksheet (*.XLSX)"), itemText(types, 23)) << "its code contains XLS, it is another type";
    EXPECT_EQ(typeName(L"TIF (*.TIFF)"), itemText(types, 12));
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    EXPECT_EQ(L"XLS", storedValue(0, L"DEFAULT_FILE_TYPE")) << "an unchanged save keeps the default";
    EXPECT_EQ(L"TIF,TIFF,XLS,XLSX", storedValue(0, L"SUPPORTED_FILE_TYPES"));

    edit = manager.modify(1);
    ASSERT_NE(nullptr, edit);
    types = GetDlgItem(edit, kTypeList);
    EXPECT_EQ(typeName(L"JPEG (*.JPG)"), itemText(types, 3)) << "no default type marks no row";
    EXPECT_EQ(typeName(L"JPEG (*.JPEG)"), itemText(types, 6));
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    EXPECT_EQ(L"JPG", storedValue(1, L"DEFAULT_FILE_TYPE")) << "saving makes the first checked row the default";
}

// ---- Adding: dialogs 102, 103 and 104 ----

TEST(ManagerDialog, EachDialogOpensOverItsOwnerAndOnlyTheChoiceTakesEnter) {
    ProgramFolder programs;
    programs.registered(L"ebdgenter.exe", L"ebdgenter.exe");
    Manager manager({entry(L"A", L"C:\\tools\\a.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND owner = FindWindowW(kGuiName, nullptr);
    ASSERT_NE(nullptr, owner);
    // Not centred: each dialog's client area starts where its owner's does. Every list has an edge.
    EXPECT_EQ(leadingCorner(owner, owner), leadingCorner(owner, manager.main()));
    EXPECT_TRUE(hasEdge(manager.list()));
    HWND choice = manager.open(manager.main(), kAdd, kAutomatic);
    ASSERT_NE(nullptr, choice);
    EXPECT_EQ(leadingCorner(manager.main(), manager.main()), leadingCorner(manager.main(), choice));

    // Enter presses OK, the choice's default button.
    ASSERT_NO_FATAL_FAILURE(manager.pressEnter(choice, GetDlgItem(choice, kAutomatic)));
    HWND search = manager.dialogWith(kFoundList);
    ASSERT_NE(nullptr, search) << "Enter pressed OK";
    EXPECT_EQ(leadingCorner(choice, choice), leadingCorner(choice, search));
    HWND found = GetDlgItem(search, kFoundList);
    EXPECT_TRUE(hasEdge(found));
    const std::vector<std::wstring> offered = itemTexts(found);
    const int row = static_cast<int>(std::find(offered.begin(), offered.end(), L"ebdgenter.exe") - offered.begin());
    ASSERT_LT(row, static_cast<int>(offered.size()));
    setChecked(found, row, true);
    ASSERT_TRUE(enabled(search, kNext));
    ASSERT_NO_FATAL_FAILURE(manager.pressEnter(search, found));
    EXPECT_TRUE(IsWindowEnabled(search)) << "no dialog over the search: Enter is not Next";

    HWND edit = manager.open(search, kNext, kTypeList);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(leadingCorner(search, search), leadingCorner(search, edit));
    EXPECT_TRUE(hasEdge(GetDlgItem(edit, kTypeList)));
    setText(edit, kNameEdit, L"Typed");
    ASSERT_NO_FATAL_FAILURE(manager.pressEnter(edit, GetDlgItem(edit, kNameEdit)));
    EXPECT_TRUE(IsWindowVisible(edit)) << "Enter in the name box neither saves nor closes";
    EXPECT_EQ(1u, storedEntries().size());
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(search) && !IsWindow(choice); }));
    manager.settle();
    EXPECT_EQ(names({L"A", L"Typed"}), storedNames());
}

TEST(ManagerDialog, ManualEntryTakesOnlyANameWithLowerCaseExe) {
    ProgramFolder programs;
    programs.add(L"", L"foo.exe");
    Manager manager({entry(L"A", L"C:\\tools\\a.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND choice = manager.open(manager.main(), kAdd, kAutomatic);
    ASSERT_NE(nullptr, choice);
    EXPECT_EQ(BST_CHECKED, SendMessageW(GetDlgItem(choice, kAutomatic), BM_GETCHECK, 0, 0));
    ASSERT_TRUE(click(choice, kManual));
    HWND picker = manager.open(choice, IDOK, kFileNameBox);
    ASSERT_NE(nullptr, picker) << "the open-file dialog";
    HWND entryDialog = manager.dialogWith(kTypeList);
    ASSERT_NE(nullptr, entryDialog);
    HWND nameBox = GetDlgItem(picker, kFileNameBox);
    HWND open = childOf(picker, IDOK, L"Button");
    ASSERT_NE(nullptr, open);

    DWORD_PTR ignored = 0;
    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(programs.file(L"FOO.EXE").c_str()));
    ASSERT_NE(0, SendMessageTimeoutW(open, BM_CLICK, 0, 0, SMTO_NORMAL, kWaitMs, &ignored));
    // A taken name ends the dialog, which hides it at once.
    EXPECT_TRUE(IsWindowVisible(picker)) << "FOO.EXE is refused";
    EXPECT_EQ(L"", windowText(nameBox)) << "and the box emptied";

    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(programs.file(L"foo.exe").c_str()));
    // The accepted click closes the dialog while it is handled, so its answer can't be relied on.
    PostMessageW(open, BM_CLICK, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(picker); })) << "foo.exe is taken";
    ASSERT_TRUE(waitUntil([&] { return windowText(GetDlgItem(entryDialog, kNameEdit)) == L"foo.exe"; }));
    EXPECT_EQ(kAddLabel + L"foo.exe" + counter(1, 1), windowText(GetDlgItem(entryDialog, kTitleLabel)));
    HWND types = GetDlgItem(entryDialog, kTypeList);
    EXPECT_TRUE(checkedRows(types).empty());
    EXPECT_TRUE(enabled(entryDialog, kFinish));

    setText(entryDialog, kNameEdit, L"A");
    setChecked(types, 15, true);
    setChecked(types, 3, true);
    HWND box = manager.open(entryDialog, kFinish);
    ASSERT_NE(nullptr, box) << "an added entry may not take a stored name either";
    EXPECT_EQ(kDuplicateTitle, windowText(box));
    ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDOK));
    ASSERT_TRUE(IsWindow(entryDialog));

    setText(entryDialog, kNameEdit, L"Foo's");
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(entryDialog, kFinish));
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(choice); })) << "the choice ends with the entry";
    manager.settle();
    ASSERT_EQ(2u, storedEntries().size());
    EXPECT_EQ(L"Foos", storedValue(1, L"FRIENDLY_NAME"));
    // Wine may hand back the path in the case it has on disk; both name the file typed.
    EXPECT_EQ(0, lstrcmpiW(programs.file(L"foo.exe").c_str(), storedValue(1, L"PATH").c_str())) << storedValue(1, L"PATH");
    EXPECT_EQ(L"JPG", storedValue(1, L"DEFAULT_FILE_TYPE")) << "the first checked row";
    EXPECT_EQ(L"JPG,PDF", storedValue(1, L"SUPPORTED_FILE_TYPES"));
    EXPECT_EQ(L"", storedValue(1, L"DEFAULT_AIO_APP"));
    EXPECT_EQ(2, itemCount(manager.list()));

    // Cancelling the open-file dialog ends the entry and the choice.
    choice = manager.open(manager.main(), kAdd, kAutomatic);
    ASSERT_NE(nullptr, choice);
    ASSERT_TRUE(click(choice, kManual));
    picker = manager.open(choice, IDOK, kFileNameBox);
    ASSERT_NE(nullptr, picker);
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(choice); }));
    manager.settle();
    EXPECT_EQ(2u, storedEntries().size());
}

TEST(ManagerDialog, SearchOffersOnlyProgramsWhosePathIsNotStored) {
    ProgramFolder programs;
    const std::wstring stored = programs.registered(L"ebdgstored.exe", L"ebdgstored.exe");
    const std::wstring first = programs.registered(L"ebdgfirst.exe", L"ebdgfirst.exe");
    const std::wstring second = programs.registered(L"ebdgsecond.exe", L"ebdgsecond.exe");
    Manager manager({entry(L"Known already", stored, true)});
    ASSERT_NE(nullptr, manager.main());
    HWND choice = manager.open(manager.main(), kAdd, kAutomatic);
    ASSERT_NE(nullptr, choice);
    HWND search = manager.open(choice, IDOK, kFoundList);
    ASSERT_NE(nullptr, search);
    HWND found = GetDlgItem(search, kFoundList);
    const std::vector<std::wstring> offered = itemTexts(found);
    auto position = [&](const std::wstring& name) {
        return static_cast<int>(std::find(offered.begin(), offered.end(), name) - offered.begin());
    };
    ASSERT_LT(position(L"ebdgfirst.exe"), static_cast<int>(offered.size())) << "named by the file without a description";
    ASSERT_LT(position(L"ebdgsecond.exe"), static_cast<int>(offered.size()));
    EXPECT_EQ(static_cast<int>(offered.size()), position(L"ebdgstored.exe")) << "its path is stored";
    EXPECT_TRUE(checkedRows(found).empty());
    EXPECT_FALSE(enabled(search, kNext));

    setChecked(found, position(L"ebdgsecond.exe"), true);
    EXPECT_TRUE(enabled(search, kNext));
    EXPECT_TRUE(isSelected(found, position(L"ebdgsecond.exe")));
    setChecked(found, position(L"ebdgsecond.exe"), false);
    EXPECT_FALSE(enabled(search, kNext));
    setChecked(found, position(L"ebdgfirst.exe"), true);
    setChecked(found, position(L"ebdgsecond.exe"), true);
    const bool firstListedFirst = position(L"ebdgfirst.exe") < position(L"ebdgsecond.exe");
    const std::wstring one = firstListedFirst ? L"ebdgfirst.exe" : L"ebdgsecond.exe";
    const std::wstring two = firstListedFirst ? L"ebdgsecond.exe" : L"ebdgfirst.exe";

    HWND edit = manager.open(search, kNext, kTypeList);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(one, windowText(GetDlgItem(edit, kNameEdit)));
    EXPECT_EQ(kAddLabel + one + counter(1, 2), windowText(GetDlgItem(edit, kTitleLabel)));
    EXPECT_TRUE(shown(edit, kNext)) << "not the last one";
    EXPECT_FALSE(shown(edit, kFinish));
    // Only Finish follows the name and the types; Next stays, and saving refuses an empty name.
    HWND types = GetDlgItem(edit, kTypeList);
    setChecked(types, 10, true);
    setChecked(types, 10, false);
    EXPECT_TRUE(enabled(edit, kNext)) << "with no type checked";
    setText(edit, kNameEdit, L"");
    EXPECT_TRUE(enabled(edit, kNext)) << "with no name";
    ASSERT_TRUE(click(edit, kNext));
    EXPECT_TRUE(IsWindowVisible(edit)) << "no name, no entry";
    EXPECT_EQ(1u, storedEntries().size());
    setText(edit, kNameEdit, one);
    setChecked(types, 10, true);
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kNext));

    edit = manager.dialogWith(kTypeList);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(kAddLabel + two + counter(2, 2), windowText(GetDlgItem(edit, kTitleLabel)));
    EXPECT_TRUE(shown(edit, kFinish));
    EXPECT_FALSE(shown(edit, kNext));
    // Back to the search, where only the one still to do is checked: the one added would only be
    // refused as a duplicate if it were offered again.
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kBack));
    ASSERT_TRUE(IsWindowVisible(search));
    EXPECT_EQ(std::vector<int>({position(two)}), checkedRows(found));
    EXPECT_EQ(2u, storedEntries().size()) << "the first one is added already";
    edit = manager.open(search, kNext, kTypeList);
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(kAddLabel + two + counter(1, 1), windowText(GetDlgItem(edit, kTitleLabel)));
    ASSERT_NO_FATAL_FAILURE(manager.clickAndWaitClosed(edit, kFinish));
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(search) && !IsWindow(choice); })) << "both end after the last";
    manager.settle();

    const std::vector<std::wstring> entries = storedEntries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(entry(L"Known already", stored, true), entries[0]);
    EXPECT_EQ(makeAppEntry(one, firstListedFirst ? first : second, L"PNG", L"PNG"), entries[1]);
    EXPECT_EQ(makeAppEntry(two, firstListedFirst ? second : first, L"", L""), entries[2]);
    EXPECT_EQ(3, itemCount(manager.list()));
}

TEST(ManagerDialog, RefreshDropsMissingProgramsAndAddsKnownOnes) {
    ProgramFolder programs;
    const std::wstring kept = programs.add(L"", L"ebdgkept.exe");
    const std::wstring known = programs.registered(L"ebdgpixedit.exe", L"pixedit.EXE");
    Manager manager({entry(L"Gone", L"C:\\ebdgnowhere\\gone.exe", true), entry(L"Kept", kept)});
    ASSERT_NE(nullptr, manager.main());
    ASSERT_TRUE(click(manager.main(), kRefresh));
    const std::vector<std::wstring> entries = storedEntries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entry(L"Kept", kept), entries[0]) << "the missing program is dropped";
    const auto added = std::find_if(entries.begin(), entries.end(),
                                    [&](const std::wstring& e) { return entryValue(e, L"PATH") == known; });
    ASSERT_NE(entries.end(), added) << "a known program is added";
    EXPECT_EQ(manager.text(122), entryValue(*added, L"FRIENDLY_NAME")) << "under its localised name";
    EXPECT_NE(L"", manager.text(122)) << "every language names it";
    EXPECT_EQ(static_cast<int>(entries.size()), itemCount(manager.list()));

    ASSERT_TRUE(click(manager.main(), kRefresh));
    EXPECT_EQ(entries, storedEntries()) << "a second refresh adds nothing twice";
}

// ---- The single manager, closing, and a list that can't be written ----

TEST(ManagerDialog, ASecondLaunchReturnsAtOnceAndBringsTheFirstForward) {
    Manager manager({entry(L"Solo", L"C:\\solo.exe")});
    ASSERT_NE(nullptr, manager.main());
    HWND owner = FindWindowW(kGuiName, nullptr);
    ASSERT_NE(nullptr, owner);
    EXPECT_EQ(owner, GetWindow(manager.main(), GW_OWNER));

    // Something else in front first. A system that keeps the foreground from a program (Windows'
    // foreground lock) leaves that check out; Wine lets the test put its window there.
    HWND other = CreateWindowExW(0, L"Static", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    SetForegroundWindow(other);
    const bool otherInFront = GetForegroundWindow() == other;

    std::future<LONG> second = std::async(std::launch::async, [&] { return manager.launchAgain(); });
    const bool quick = second.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!quick) manager.closeManager();  // unblocks the second call, so the test ends
    ASSERT_TRUE(quick) << "the second call waited for the first manager";
    EXPECT_EQ(0, second.get());
    if (otherInFront) {
        // Activation reaches the manager's thread as a message of its own: it lands a moment later.
        waitUntil([&] { return GetForegroundWindow() == manager.main(); }, 5000);
        EXPECT_EQ(manager.main(), GetForegroundWindow()) << "the first manager's dialog was brought forward, not its hidden owner";
    }
    DestroyWindow(other);
    EXPECT_TRUE(IsWindowVisible(manager.main())) << "the first manager stays open";
    int managers = 0;
    EnumWindows(countManagers, reinterpret_cast<LPARAM>(&managers));
    EXPECT_EQ(1, managers);

    ASSERT_TRUE(manager.closeManager());
    EXPECT_EQ(0, manager.result());
}

TEST(ManagerDialog, AListThatCannotBeSavedIsSaidAndCloseTriesAgainOrClosesWithoutIt) {
    // Read, delete and change its security, but no writing of values.
    const auto denyWriting = [] { return setKeyDacl(HKEY_LOCAL_MACHINE, kListKey, L"D:P(A;;0xF0019;;;WD)"); };
    struct Restore {
        ~Restore() { setKeyDacl(HKEY_LOCAL_MACHINE, kListKey, L"D:(A;;KA;;;WD)"); }
    };
    {
        Manager manager({entry(L"A", L"C:\\a.exe"), entry(L"B", L"C:\\b.exe")});
        ASSERT_NE(nullptr, manager.main());
        auto restored = std::make_unique<Restore>();
        ASSERT_TRUE(denyWriting());
        HKEY probe = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, KEY_SET_VALUE, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
            GTEST_SKIP() << "this system lets the owner write past the key's security";
        }

        // A removal that can't be saved: said, and the list shows what is in memory.
        chooseItem(manager.list(), 1);
        HWND box = manager.open(manager.main(), kRemove);
        ASSERT_NE(nullptr, box);
        ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDYES));
        box = manager.messageBox();
        ASSERT_NE(nullptr, box) << "the failed save is said";
        ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDOK));
        EXPECT_EQ(std::vector<std::wstring>({L"A"}), itemTexts(manager.list()));
        EXPECT_EQ(names({L"A", L"B"}), storedNames()) << "nothing reached the registry";

        // Close: said, with a choice; trying again while the key still refuses says it again.
        box = manager.open(manager.main(), kClose);
        ASSERT_NE(nullptr, box) << "the failure is said";
        EXPECT_NE(nullptr, messageBoxIcon(box)) << "an error icon";
        EXPECT_NE(std::wstring::npos, messageText(box).find(fromUtf8(T_191))) << messageText(box);
        ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDRETRY));
        box = manager.messageBox();
        ASSERT_NE(nullptr, box) << "said again";
        EXPECT_FALSE(manager.done());
        // Once the key may be written, trying again saves the list as shown and closes.
        restored.reset();
        ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDRETRY));
        ASSERT_TRUE(waitUntil([&] { return manager.done(); }));
        EXPECT_EQ(0, manager.result());
        EXPECT_EQ(names({L"A"}), storedNames()) << "the list as shown";
    }
    // Closing without saving leaves the stored list as it was: the manager never traps its user.
    Manager manager({entry(L"A", L"C:\\a.exe"), entry(L"B", L"C:\\b.exe")});
    ASSERT_NE(nullptr, manager.main());
    const auto restored = std::make_unique<Restore>();
    ASSERT_TRUE(denyWriting());
    HWND box = manager.open(manager.main(), kClose);
    ASSERT_NE(nullptr, box);
    ASSERT_NO_FATAL_FAILURE(manager.answer(box, IDCANCEL));
    ASSERT_TRUE(waitUntil([&] { return manager.done(); }));
    EXPECT_EQ(0, manager.result());
    EXPECT_EQ(names({L"A", L"B"}), storedNames());
}

TEST(ManagerDialog, MangledStoredListsFillTheListWithoutCrashOrHang) {
    uint32_t state = 77;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        // Every third list also carries an entry with a 100 000-character name.
        std::wstring text = mangledList(state, round % 3 == 0 ? 7 : 1);
        const std::wstring kept = text.substr(0, text.find(L'\0'));
        Manager manager({text});
        ASSERT_NE(nullptr, manager.main());
        EXPECT_EQ(static_cast<int>(splitEntries(kept).size()), itemCount(manager.list()));
        ASSERT_TRUE(manager.closeManager());
        EXPECT_EQ(0, manager.result());
    }
}
