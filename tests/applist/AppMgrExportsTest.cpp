// The real library through its exports, loaded under the names that choose its brand key.
#include "AppEntry.h"
#include "BrandKey.h"

#include "AppListStore.h"
#include "ListTestSupport.h"
#include "TestSupport.h"
#include "../support/SupportTestHelpers.h"

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
    const std::wstring& keyPath() const { return keyPath_; }
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

// The library with its manager's system libraries failing to load. They come from the system
// folder only, so Wine's loader is told they are missing. (Wine's own libraries need the shell's
// and the version library, so those can't be taken away here.)
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
    const std::string program = folder.file("kvabtest_appmgrlibs.exe");
    ASSERT_TRUE(CopyFileA(ownPath().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), folder.file("kvabappmgr.dll").c_str(), FALSE));
    MissingSystemLibraries missing("kvabtest_appmgrlibs.exe", "comctl32,comdlg32");
    EXPECT_EQ(0, runChild(program, "without_manager_libraries"))
        << "10: not loaded, 11: no document, 12: the manager's launch failed, 13: the controls were loaded";
}

TEST(AppMgrExports, TheStoreKeyLetsEveryoneUseButNotAdministerIt) {
    LoadedCopy library("uaexappmgr.dll");
    ASSERT_NE(nullptr, library.module());
    EXPECT_EQ(kEmpty, library.document()) << "the first read creates the key";
    UniqueKey created;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, library.keyPath().c_str(), 0, READ_CONTROL, created.put()));
    tstring owner;
    expectSharedRights(securityInfoAces(created.get(), SE_REGISTRY_KEY, &owner),
                       KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE);
    expectStandardUserRights(HKEY_LOCAL_MACHINE, library.keyPath());

    // Another user's manager saves the list and every monitor reads it.
    AsStandardUser user(owner);
    ASSERT_TRUE(user.active());
    AppListStore store(library.keyPath());
    const std::wstring one = makeAppEntry(L"Viewer", L"C:\\v.exe", L"JPG", L"JPG");
    ASSERT_EQ(0u, store.add(one));
    EXPECT_EQ(0u, store.save());
    EXPECT_EQ(L"<APPLIST>\r\n" + one + L"</APPLIST>", library.document());
}

TEST(AppMgrExports, TheListReadInPlaceKeepsTheSizeProtocolAtEveryEdge) {
    LoadedCopy library("ipedappmgr.dll");  // a brand no other test uses
    ASSERT_NE(nullptr, library.module());
    auto wide = library.get<ListFn>("GetWideAppList");
    auto narrow = library.get<NarrowListFn>("GetAppList");
    const std::wstring open = L"<APPLIST>\r\n", close = L"</APPLIST>";
    const auto storeRaw = [&](const std::wstring& chars, DWORD type = REG_SZ) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, library.keyPath().c_str(), L"AppList", type,
                                                 chars.data(), static_cast<DWORD>(chars.size() * sizeof(wchar_t))));
    };
    // Each buffer ends at an inaccessible page: nothing is written past the size given.
    const auto callWith = [&](uint32_t size, uint32_t& needed, std::wstring& text) {
        GuardedBuffer buffer(size * sizeof(wchar_t));
        const LONG status = wide(buffer.as<wchar_t>(), size, &needed);
        text = status == 0 ? std::wstring(buffer.as<wchar_t>()) : std::wstring();
        return status;
    };
    const std::wstring entry = makeAppEntry(L"Viewer", L"C:\\v.exe", L"JPG", L"JPG");
    const uint32_t exact = static_cast<uint32_t>(open.size() + entry.size() + close.size() + 1);
    for (const std::wstring& stored : {entry + std::wstring(1, L'\0'), entry}) {  // with and without its NUL
        storeRaw(stored);
        uint32_t needed = 0;
        std::wstring text;
        EXPECT_EQ(0, callWith(exact, needed, text)) << stored.size();
        EXPECT_EQ(open + entry + close, text);
        EXPECT_EQ(exact, needed);
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, callWith(exact - 1, needed, text)) << "one short";
        EXPECT_EQ(exact, needed);
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, callWith(40, needed, text)) << "far too short";
        EXPECT_EQ(exact, needed);
        EXPECT_EQ(0, callWith(exact + 500, needed, text));
        EXPECT_EQ(exact, needed) << "the size needed, not the size given";
    }
    // Text after a NUL inside the value is not part of the list, read in place or not.
    storeRaw(entry + std::wstring(1, L'\0') + L"<APP>hidden</APP>" + std::wstring(1, L'\0'));
    uint32_t needed = 0;
    std::wstring text;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(nullptr, 0, &needed));
    EXPECT_EQ(exact, needed);
    EXPECT_EQ(0, callWith(exact + 40, needed, text));
    EXPECT_EQ(open + entry + close, text);
    // A value of another type is an empty list, whatever the room.
    storeRaw(std::wstring(64, L'x'), REG_BINARY);
    EXPECT_EQ(0, callWith(22, needed, text));
    EXPECT_EQ(kEmpty, text);
    EXPECT_EQ(0, callWith(4000, needed, text));
    EXPECT_EQ(22u, needed);
    // A list that grew since the size call answers with its new size, then reads whole.
    storeRaw(entry);
    ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(nullptr, 0, &needed));
    storeRaw(entry + entry);
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, callWith(needed, needed, text));
    EXPECT_EQ(exact + entry.size(), needed);
    EXPECT_EQ(0, callWith(needed, needed, text));
    EXPECT_EQ(open + entry + entry + close, text);
    // The 8-bit list the same way.
    GuardedBuffer bytes(needed);
    EXPECT_EQ(0, narrow(bytes.as<char>(), needed, &needed));
    EXPECT_EQ(std::string(open.begin(), open.end()) + std::string(entry.begin(), entry.end()) +
                  std::string(entry.begin(), entry.end()) + std::string(close.begin(), close.end()),
              std::string(bytes.as<char>()));
}
