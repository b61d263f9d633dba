// The real library through its exports, loaded under the names that choose its brand key.
#include "AppEntry.h"
#include "BrandKey.h"

#include "ListTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

using namespace testing_support;

namespace {
using ListFn = LONG(WINAPI*)(wchar_t*, uint32_t, uint32_t*);
using NarrowListFn = LONG(WINAPI*)(char*, uint32_t, uint32_t*);
using VoidFn = LONG(WINAPI*)();

// A copy of the library under `fileName`, loaded, with its brand key emptied before and after.
class LoadedCopy {
public:
    explicit LoadedCopy(const std::string& fileName) {
        const std::string path = folder_.file(fileName);
        CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), path.c_str(), FALSE);
        const std::wstring wide(fileName.begin(), fileName.end());
        keyPath_ = appListKeyPath(wide);
        clear();
        module_ = LoadLibraryA(path.c_str());
    }
    ~LoadedCopy() {
        if (module_ != nullptr) FreeLibrary(module_);
        clear();
    }
    HMODULE module() const { return module_; }
    template <typename Fn>
    Fn get(const char* name) const {
        return exportOf<Fn>(module_, name);
    }
    void store(const std::wstring& text) const { storeList(keyPath_, text); }
    std::wstring document() const {
        auto list = get<ListFn>("GetWideAppList");
        uint32_t needed = 0;
        if (list(nullptr, 0, &needed) != ERROR_INSUFFICIENT_BUFFER) return L"(no size)";
        std::wstring buffer(needed, L'\0');
        if (list(&buffer[0], needed, &needed) != 0) return L"(failed)";
        buffer.resize(needed - 1);
        return buffer;
    }

private:
    void clear() {
        std::wstring brand = keyPath_.substr(0, keyPath_.find(L"\\App List Manager"));
        deleteKeyTree(HKEY_LOCAL_MACHINE, brand);
    }
    TempFolder folder_;
    std::wstring keyPath_;
    HMODULE module_ = nullptr;
};

const std::wstring kEmpty = L"<APPLIST>\r\n</APPLIST>";
}  // namespace

TEST(AppMgrExports, ExportsAreBareNamesAndTheSizeProtocolHolds) {
    LoadedCopy library("uaexappmgr.dll");
    ASSERT_NE(nullptr, library.module());
    for (const char* name : {"Initialize", "Uninitialize", "CreateAppList", "GetAppList", "GetWideAppList", "LaunchGui"}) {
        EXPECT_NE(nullptr, GetProcAddress(library.module(), name)) << name;
    }
    auto list = library.get<ListFn>("GetWideAppList");
    // No Initialize first.
    uint32_t needed = 99;
    EXPECT_EQ(122, list(nullptr, 0, &needed));
    EXPECT_EQ(22u, needed);
    wchar_t small[21];
    EXPECT_EQ(122, list(small, 21, &needed)) << "no room for the terminator";
    EXPECT_EQ(22u, needed);
    wchar_t buffer[1000];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(0, list(buffer, 22, &needed));
    EXPECT_EQ(kEmpty, std::wstring(buffer));
    EXPECT_EQ(L'#', buffer[22]) << "nothing past the terminator";

    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(87, list(buffer, 1000, nullptr));
    EXPECT_EQ(L'#', buffer[0]) << "nothing written without a needed count";
    needed = 0;
    EXPECT_EQ(87, list(nullptr, 1000, &needed));
    EXPECT_EQ(22u, needed) << "the size is still reported";

    const std::wstring one = makeAppEntry(L"Viewer", L"C:\\v.exe", L"JPG", L"JPG");
    library.store(one);
    EXPECT_EQ(L"<APPLIST>\r\n" + one + L"</APPLIST>", library.document()) << "read from the registry at each call";
    EXPECT_EQ(0, library.get<VoidFn>("Initialize")());
    EXPECT_EQ(0, library.get<VoidFn>("Uninitialize")());
    EXPECT_EQ(0, library.get<VoidFn>("Uninitialize")()) << "twice is harmless";
    EXPECT_EQ(L"<APPLIST>\r\n" + one + L"</APPLIST>", library.document()) << "and works again after Uninitialize";
}

TEST(AppMgrExports, NarrowListFailsOnlyForCharactersAboveLatin1) {
    LoadedCopy library("roexappmgr.dll");
    auto narrow = library.get<NarrowListFn>("GetAppList");
    const std::wstring latin = makeAppEntry(L"Caf\u00E9", L"C:\\c.exe", L"JPG", L"JPG");
    library.store(latin);
    uint32_t needed = 0;
    EXPECT_EQ(122, narrow(nullptr, 0, &needed));
    std::string buffer(needed, '#');
    EXPECT_EQ(0, narrow(&buffer[0], needed, &needed));
    EXPECT_EQ('\xE9', buffer[buffer.find("Caf") + 3]) << "U+00E9 becomes the byte E9";
    EXPECT_EQ('\0', buffer[needed - 1]);

    const std::wstring chinese = makeAppEntry(L"\u5C0F\u756B\u5BB6", L"C:\\p.exe", L"BMP", L"BMP");
    library.store(chinese);
    needed = 0;
    EXPECT_EQ(122, narrow(nullptr, 0, &needed));
    const uint32_t size = needed;
    EXPECT_GT(size, 22u);
    buffer.assign(size, '#');
    EXPECT_EQ(50, narrow(&buffer[0], size, &needed));
    EXPECT_EQ(0u, needed);
    EXPECT_EQ(L"<APPLIST>\r\n" + chinese + L"</APPLIST>", library.document()) << "the wide list has it";
    EXPECT_EQ(87, narrow(&buffer[0], size, nullptr));
}

TEST(AppMgrExports, TheFileNameChoosesTheBrandKey) {
    for (const char* name : {"gnxxappmgr.dll", "zzzzappmgr.dll", "NVABAPPMGR.DLL"}) {
        LoadedCopy library(name);
        ASSERT_NE(nullptr, library.module()) << name;
        const std::wstring one = makeAppEntry(L"Only here", L"C:\\o.exe", L"JPG", L"JPG");
        library.store(one);
        EXPECT_EQ(L"<APPLIST>\r\n" + one + L"</APPLIST>", library.document()) << name;
    }
    // Another brand's list is not seen.
    LoadedCopy first("tqaaappmgr.dll");
    LoadedCopy second("rvaaappmgr.dll");
    first.store(makeAppEntry(L"TQ", L"C:\\t.exe", L"JPG", L"JPG"));
    EXPECT_EQ(kEmpty, second.document());
}

TEST(AppMgrExports, AListOfLongNamesFillsABufferOfExactlyTheSizeNeeded) {
    LoadedCopy library("nrgdappmgr.dll");  // a brand no other test uses
    ASSERT_NE(nullptr, library.module());
    std::wstring stored;
    for (wchar_t c : {L'a', L'b', L'c'}) {
        stored += L"     <APP>\r\n          <FRIENDLY_NAME>" + std::wstring(1000, c) + L"</FRIENDLY_NAME>\r\n          <PATH>C:\\" +
                  std::wstring(1000, c) + L".exe</PATH>\r\n     </APP>\r\n";
    }
    library.store(stored);
    auto wide = library.get<ListFn>("GetWideAppList");
    auto narrow = library.get<NarrowListFn>("GetAppList");
    uint32_t needed = 0;
    ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(nullptr, 0, &needed));
    {
        // The buffer ends at an inaccessible page: the terminator is the last thing written.
        GuardedBuffer buffer(needed * sizeof(wchar_t));
        EXPECT_EQ(0, wide(buffer.as<wchar_t>(), needed, &needed));
        EXPECT_EQ(kEmpty.substr(0, 11) + stored + L"</APPLIST>", std::wstring(buffer.as<wchar_t>()));
        GuardedBuffer short_(needed * sizeof(wchar_t) - sizeof(wchar_t));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(short_.as<wchar_t>(), needed - 1, &needed)) << "one short";
    }
    ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, narrow(nullptr, 0, &needed));
    GuardedBuffer buffer(needed);
    EXPECT_EQ(0, narrow(buffer.as<char>(), needed, &needed));
    EXPECT_EQ(needed - 1, std::strlen(buffer.as<char>()));
}

TEST(AppMgrExports, LaunchGuiReturnsTheCodeOfALockItCannotCreateAndOpensNothing) {
    LoadedCopy library("lgmxappmgr.dll");  // a brand no other test uses
    ASSERT_NE(nullptr, library.module());
    const wchar_t guiName[] = L"Application Listlgmxappmgr.dll";
    // An event holds the lock's name, so no mutex can be made under it.
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, (std::wstring(guiName) + L"_mutex").c_str());
    ASSERT_NE(nullptr, squatter) << GetLastError();
    std::atomic<LONG> result{-1};
    std::thread launch([&] { result = library.get<VoidFn>("LaunchGui")(); });
    // A manager that opened regardless holds the call until it is closed.
    bool opened = false;
    for (int i = 0; i < 400 && result == -1; ++i) {
        Sleep(25);
        if (HWND owner = FindWindowW(guiName, nullptr)) {
            opened = true;
            PostMessageW(GetLastActivePopup(owner), WM_CLOSE, 0, 0);
        }
    }
    launch.join();
    CloseHandle(squatter);
    EXPECT_FALSE(opened) << "no manager opens without the lock";
    EXPECT_EQ(ERROR_INVALID_HANDLE, result.load()) << "the code of the failed create";
}

// The library with its manager's and discovery's system libraries failing to load: copies of
// them that are no libraries lie beside the program, where the system looks first. (Wine's own
// window library needs the version library, so that one can't be broken here.)
TEST_CHILD(without_manager_libraries) {
    (void)args;
    LoadedCopy library("rvnlappmgr.dll");
    if (library.module() == nullptr) return 10;
    library.store(makeAppEntry(L"Viewer", L"C:\\v.exe", L"JPG", L"JPG"));
    if (library.document().find(L"Viewer") == std::wstring::npos) return 11;
    library.get<VoidFn>("CreateAppList")();  // a status, whatever it is, and no crash
    if (library.get<VoidFn>("LaunchGui")() != 0) return 12;  // no manager can open: nothing shown
    return GetModuleHandleA("comctl32.dll") == nullptr ? 0 : 13;
}

TEST(AppMgrExports, WithoutItsManagersLibrariesTheListIsStillServed) {
    TempFolder folder;
    const std::string program = folder.file("kvabtest_nocontrols.exe");
    ASSERT_TRUE(CopyFileA(ownPath().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), folder.file("kvabappmgr.dll").c_str(), FALSE));
    for (const char* name : {"comctl32.dll", "comdlg32.dll", "shell32.dll"}) {
        writeFile(folder.file(name), "not a library");
    }
    // The manager takes common controls from the side-by-side store, which no copy beside the
    // program reaches: Wine's override for this program's name keeps them from loading instead.
    const std::wstring overrides = L"Software\\Wine\\AppDefaults\\kvabtest_nocontrols.exe";
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (overrides + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    RegSetValueExW(key, L"comctl32", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(key);
    const int child = runChild(program, "without_manager_libraries");
    deleteKeyTree(HKEY_CURRENT_USER, overrides);
    EXPECT_EQ(0, child)
        << "10: not loaded, 11: no document, 12: the manager's launch failed, 13: the controls were loaded";
}
