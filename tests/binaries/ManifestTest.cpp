// The shipped binaries' manifests as the system reads them, the manager's common controls in a
// host program that has no manifest of its own (this test program), and a monitor that stays
// light with them.
#include "Handles.h"
#include "MonitorHarness.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace testing_support;

namespace {
bool isProgram(const std::string& name) { return lowerAscii(name.substr(name.size() - 4)) == ".exe"; }

// The shipped binaries' file names, written by the build beside bin/.
std::vector<std::string> shippedBinaries() {
    std::vector<std::string> names;
    std::ifstream list(ownFolder() + "..\\shipped.txt");
    for (std::string name; std::getline(list, name);) {
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

// The context of a binary's manifest: resource 1 of a program, 2 of a library.
HANDLE contextOf(const std::string& path) {
    const std::wstring source(path.begin(), path.end());
    ACTCTXW request = {sizeof(request)};
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = source.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(isProgram(path) ? 1 : 2);
    return CreateActCtxW(&request);
}

// A setting of the manifest's windowsSettings in the namespace of its year, "" when it has none.
std::wstring setting(HANDLE context, const wchar_t* year, const wchar_t* name) {
    const std::wstring space = std::wstring(L"http://schemas.microsoft.com/SMI/") + year + L"/WindowsSettings";
    wchar_t value[128] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, context, space.c_str(), name, value, 128, &written)) return L"";
    return value;
}

// Whether common controls 6 take the place of the system's comctl32.dll in the context.
bool redirectsCommonControls(HANDLE context) {
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context, &cookie)) return false;
    ACTCTX_SECTION_KEYED_DATA data = {sizeof(data)};
    const bool found = FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                                &data) != FALSE;
    DeactivateActCtx(0, cookie);
    return found;
}

// The file of the module whose code runs a window, in lower case.
std::string codeFile(HWND window) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(GetWindowLongPtrW(window, GWLP_WNDPROC)), &module);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return lowerAscii(path);
}

// Common controls 6 are loaded from their side-by-side assembly's folder, not the system folder.
// (Wine's copy there answers DllGetVersion with 5, so the folder is what tells them apart.)
bool runByCommonControls6(HWND control) {
    return contains(codeFile(control), "microsoft.windows.common-controls_6595b64144ccf1df_6.0.");
}

BOOL CALLBACK findManager(HWND window, LPARAM found) {
    if (IsWindowVisible(window) && GetDlgItem(window, 1030) != nullptr) *reinterpret_cast<HWND*>(found) = window;
    return TRUE;
}

// The modules of the running program of this name, in lower case: " name name ... ".
std::string modulesOf(const std::string& program) {
    DWORD id = 0;
    UniqueHandle processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 process = {sizeof(process)};
    for (BOOL more = Process32First(processes.get(), &process); more; more = Process32Next(processes.get(), &process)) {
        if (lstrcmpiA(process.szExeFile, program.c_str()) == 0) id = process.th32ProcessID;
    }
    std::string names = " ";
    UniqueHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id));
    MODULEENTRY32 module = {sizeof(module)};
    for (BOOL more = Module32First(modules.get(), &module); more; more = Module32Next(modules.get(), &module)) {
        names += lowerAscii(module.szModule) + " ";
    }
    return names;
}
}  // namespace

TEST(Manifests, EveryShippedBinaryRunsAsItsCallerOnTheSystemsItNames) {
    const std::vector<std::string> shipped = shippedBinaries();
    ASSERT_EQ(12u, shipped.size()) << "the build's list of shipped binaries";
    for (const std::string& name : shipped) {
        SCOPED_TRACE(name);
        HANDLE context = contextOf(ownFolder() + name);
        ASSERT_NE(INVALID_HANDLE_VALUE, context) << "the manifest is not read: " << GetLastError();
        ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
        EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof(level),
                                 nullptr));
        EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level.RunLevel);
        struct {
            DWORD count;
            COMPATIBILITY_CONTEXT_ELEMENT elements[8];
        } systems = {};
        EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, &systems,
                                 sizeof(systems), nullptr));
        EXPECT_EQ(4u, systems.count) << "Windows 7, 8, 8.1 and 10";

        const bool monitor = name == "kvabpanelmon.exe", manager = name == "kvabappmgr.dll";
        EXPECT_EQ(monitor ? L"PerMonitorV2, PerMonitor" : L"", setting(context, L"2016", L"dpiAwareness"))
            << "the manager's process alone is aware of each monitor's DPI";
        EXPECT_EQ(monitor ? L"true/pm" : L"", setting(context, L"2005", L"dpiAware")) << "the same before Windows 10";
        EXPECT_EQ(manager, redirectsCommonControls(context))
            << "common controls 6 for the manager's dialogs only: the monitor stays without them";
        ReleaseActCtx(context);
    }
}

TEST(Manifests, TheManagerUsesCommonControls6InAHostWithoutAManifest) {
    ASSERT_FALSE(redirectsCommonControls(nullptr)) << "this host's own context names no common controls";
    TempFolder folder;
    const std::string copy = folder.file("mfstappmgr.dll");
    ASSERT_TRUE(CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), copy.c_str(), FALSE));
    HMODULE library = LoadLibraryA(copy.c_str());
    ASSERT_NE(nullptr, library) << GetLastError();
    const auto launch = exportOf<LONG(WINAPI*)()>(library, "LaunchGui");
    ASSERT_NE(nullptr, launch);

    std::atomic<DWORD> thread{0};
    std::atomic<LONG> result{-1};
    std::thread worker([&] {
        thread = GetCurrentThreadId();
        result = launch();
    });
    HWND manager = nullptr;
    for (int i = 0; i < 1500 && manager == nullptr; ++i) {
        Sleep(20);
        if (thread != 0) EnumThreadWindows(thread, findManager, reinterpret_cast<LPARAM>(&manager));
    }
    if (manager != nullptr) {
        EXPECT_TRUE(runByCommonControls6(GetDlgItem(manager, 1030))) << codeFile(GetDlgItem(manager, 1030));
        HWND close = GetDlgItem(manager, 1008);
        EXPECT_TRUE(runByCommonControls6(close)) << "the dialog's buttons too: " << codeFile(close);
        SIZE ideal = {};
        EXPECT_TRUE(SendMessageW(close, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > 0)
            << "a button that knows the message of common controls 6";
        PostMessageW(manager, WM_CLOSE, 0, 0);
    }
    worker.join();
    FreeLibrary(library);
    ASSERT_NE(nullptr, manager) << "the manager did not open";
    EXPECT_EQ(0, result.load());
}

TEST(Manifests, AMonitorServingScansAndListsLoadsNoCommonControls) {
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("mfst", "device port=USB001 transport=USB1 hids=1\n", "poll=300,reenum=100,enumretry=20",
                           options);
    startAndWait(monitor);
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));  // the list
    ASSERT_TRUE(monitor.waitForLog("Send ScanToList")) << monitor.log();
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 01 01"));  // a scan
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();

    const std::string modules = modulesOf("mfstpanelmon.exe");
    ASSERT_TRUE(contains(modules, " mfstappmgr.dll ")) << "the list came from the real library: " << modules;
    for (const char* name : {" comctl32.dll ", " comdlg32.dll ", " shell32.dll "}) {
        EXPECT_FALSE(contains(modules, name)) << modules;
    }
}
