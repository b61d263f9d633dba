// Libraries come from where they belong, in a host program of any folder: the system's from the
// system folder, a program's siblings from its own folder. A copy planted where a search would
// look first (beside the host, in the current folder, on the path) is never taken.
#include "Handles.h"
#include "LazyLibrary.h"
#include "LibraryLoad.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
void plant(const std::string& path) {
    ASSERT_TRUE(CopyFileA((ownFolder() + "planted.dll").c_str(), path.c_str(), FALSE)) << path;
}

std::string folderOf(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH + 1);
    const std::string text(path, length);
    return lowerAscii(text.substr(0, text.rfind('\\')));
}

std::string systemFolder() {
    char path[MAX_PATH + 1] = {};
    return lowerAscii(std::string(path, GetSystemDirectoryA(path, MAX_PATH + 1)));
}
}  // namespace

// In a copy of the test program beside planted system libraries: binds them as the list library
// binds its own, and answers 0 when each came from the system folder.
TEST_CHILD(BindSystemLibraries) {
    (void)args;
    static LazyLibrary versions("version.dll");
    static LazyLibrary network("mpr.dll");
    if (LAZY_ENTRY(versions, GetFileVersionInfoSizeW) == nullptr) return 2;
    if (LAZY_ENTRY(network, WNetGetResourceInformationA) == nullptr) return 3;
    for (const char* name : {"version.dll", "mpr.dll"}) {
        if (folderOf(GetModuleHandleA(name)) != systemFolder()) return 4;
    }
    const UniqueModule direct(loadSystemLibrary("winspool.drv"));
    return direct && folderOf(direct.get()) == systemFolder() ? 0 : 5;
}

TEST(LibraryLoad, SystemLibrariesPlantedBesideAHostProgramAreNeverTaken) {
    TempFolder host("kvll");
    ASSERT_TRUE(CopyFileA(ownPath().c_str(), host.file("host.exe").c_str(), FALSE));
    for (const char* name : {"version.dll", "mpr.dll", "winspool.drv"}) plant(host.file(name));
    EXPECT_EQ(0, runChild(host.file("host.exe"), "BindSystemLibraries"));
    for (const char* name : {"version.dll", "mpr.dll", "winspool.drv"}) {
        EXPECT_FALSE(fileExists(host.file(std::string(name) + ".loaded"))) << name;
    }
}

TEST(LibraryLoad, ASiblingIsTakenFromTheProgramsFolderOnly) {
    TempFolder current("kvlc");
    const std::string name = "kvllsibling.dll";
    plant(current.file(name));
    char previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH + 1, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(current.path().c_str()));
    const tstring wide(name.begin(), name.end());
    SetLastError(0);
    HMODULE loaded = loadSiblingLibrary(wide);
    const DWORD error = GetLastError();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(nullptr, loaded) << "absent beside the program, so not loaded at all";
    EXPECT_NE(0u, error);
    EXPECT_FALSE(fileExists(current.file(name + ".loaded")));
    const tstring path = siblingPath(wide);
    EXPECT_EQ(ownFolder() + name, std::string(path.begin(), path.end()));
    EXPECT_TRUE(siblingPath(tstring(300, _T('n'))).empty()) << "a path that would not fit is none";
}
