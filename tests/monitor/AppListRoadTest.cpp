// The monitor with the real application-list library: the list the panel receives, the scan
// that resolves the panel's index through it, and the installation run "-a".
#include "AppListClient.h"
#include "MonitorHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
// The list of the brand the harness prefix chooses ("os.." Ostrel, "nt.." T-Nova), removed after.
class BrandList {
public:
    explicit BrandList(const std::string& brand) : brand_(brand), path_(std::wstring(brand.begin(), brand.end())) {
        path_ = L"Software\\" + path_ + L"\\App List Manager\\";
        deleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\" + brand_);
    }
    ~BrandList() { deleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\" + brand_); }
    void store(const std::wstring& text) const {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegSetValueExW(key, L"AppList", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    bool stored(std::wstring& text) const {
        wchar_t buffer[16384] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, path_.c_str(), L"AppList", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
            return false;
        }
        text = buffer;
        return true;
    }

private:
    std::string brand_;
    std::wstring path_;
};

// A list request from the panel; the session object's journal of what was sent, once it went.
std::string requestList(MonitorHarness& monitor) {
    DeleteFileA(monitor.file("os01scx.journal").c_str());
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));
    std::string sent;
    for (int i = 0; i < 200 && !contains(sent, "sendList"); ++i) {
        Sleep(50);
        sent = readFile(monitor.file("os01scx.journal"));
    }
    return sent;
}
}  // namespace

TEST(AppListRoad, ThePanelGetsTheStoredListAndAScanResolvesItsIndex) {
    BrandList brand("OstrelInkjet");
    brand.store(appEntryText(L"Viewer", L"C:\\v.exe", L"JPG") + appEntryText(L"Notes", L"C:\\n.exe", L"TXT") +
                appEntryText(L"Paint", L"C:\\p.exe", L"BMP", true));
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("os01", "device port=USB001 transport=USB1 hids=1\n", "poll=300,reenum=100,enumretry=20",
                           options);
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return contains(j, "DcsRegisterForReportsHid"); }));

    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));
    ASSERT_TRUE(monitor.waitForLog("Send ScanToList"));
    const std::string scx = readFile(monitor.file("os01scx.journal"));
    EXPECT_TRUE(contains(scx, "addName name=E-mail  length=7 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "addName name=File  length=5 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "addName name=Viewer  length=7 value=5")) << scx;
    EXPECT_FALSE(contains(scx, "Notes")) << "a text program needs an OCR program";
    EXPECT_TRUE(contains(scx, "addName name=Paint  length=6 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "setDefault name=Paint")) << scx;

    // Index 4 on the panel is the fourth name it was sent: Paint.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 01 04"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    EXPECT_TRUE(contains(monitor.programJournal("lsqx"), "<APP_PATH>C:\\p.exe</APP_PATH>")) << monitor.programJournal("lsqx");

    // With a fax program beside the monitor the fax destination takes index 1 and the list's
    // entries move up by one.
    writeFile(monitor.file("os01Fax.exe"), "MZ");
    const std::string withFax = requestList(monitor);
    const size_t fax = withFax.find("addName name=Fax  length=4");
    EXPECT_NE(std::string::npos, fax) << withFax;
    EXPECT_LT(withFax.find("addName name=E-mail "), fax);
    EXPECT_LT(fax, withFax.find("addName name=File "));
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 01 04"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.log();
    EXPECT_TRUE(contains(monitor.programJournal("lsqx").substr(monitor.programJournal("lsqx").rfind("command ")),
                         "<APP_PATH>C:\\v.exe</APP_PATH>"))
        << "index 4 is now Viewer";

    // A shorter list read into the room the longer one left: none of the longer one remains.
    brand.store(appEntryText(L"Vw", L"C:\\w.exe", L"JPG"));
    const std::string shorter = requestList(monitor);
    EXPECT_TRUE(contains(shorter, "addName name=Vw  length=3 value=5")) << shorter;
    EXPECT_EQ(4, countLines(shorter, "addName")) << "E-mail, Fax, File and Vw only:\n" << shorter;
}

TEST(AppListRoad, InstallationRunCreatesTheListWhileAMonitorRuns) {
    BrandList brand("T-NovaInkjet");
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("nt02", "device port=USB001 hids=1\n", "poll=300,reenum=100,enumretry=20", options);
    writeFile(monitor.file("moire0.lut"), "fresh table");
    writeFile(monitor.file("moire.lut"), "old table");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());

    EXPECT_EQ(0, monitor.runToEnd("-a"));
    std::wstring stored = L"unset";
    EXPECT_TRUE(brand.stored(stored)) << "the list value exists";
    // The prefix registers its browser under App Paths, a program of the known table.
    EXPECT_NE(std::wstring::npos, stored.find(L"<FRIENDLY_NAME>Internet Expl.</FRIENDLY_NAME>"));
    EXPECT_EQ("fresh table", readFile(monitor.file("moire.lut")));
    EXPECT_TRUE(monitor.running()) << "the running monitor is left alone";
}

TEST(AppListRoad, TheInstallationRunStoresTheListAndEndsWithoutBecomingTheMonitor) {
    // Run with an administrator's rights, it must leave no monitor with them behind.
    BrandList brand("Kelvara Tools");  // the brand of prefixes outside the table: this test's alone
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("zz01", "device port=USB001 hids=1\n", "poll=300,reenum=100,enumretry=20", options);
    EXPECT_EQ(0, monitor.runToEnd("-a", 60000));
    std::wstring stored;
    EXPECT_TRUE(brand.stored(stored));
    EXPECT_NE(std::wstring::npos, stored.find(L"<APP>")) << "the list was found and stored";
    EXPECT_EQ(nullptr, FindWindowA(nullptr, monitor.instanceName().c_str()));
    EXPECT_EQ("", monitor.journal()) << "no device was opened";
}

namespace {
// The manager dialogs owned by the hidden window of this prefix's library: other tests run
// managers of their own at the same time.
struct ManagerSearch {
    std::wstring ownerClass;
    int count = 0;
    HWND first = nullptr;
};

BOOL CALLBACK findManager(HWND window, LPARAM search) {
    auto* found = reinterpret_cast<ManagerSearch*>(search);
    wchar_t title[64] = {};
    wchar_t ownerClass[128] = {};
    GetWindowTextW(window, title, 64);
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) GetClassNameW(owner, ownerClass, 128);
    if (std::wstring(title) == L"\u61C9\u7528\u7A0B\u5F0F\u6E05\u55AE\u7BA1\u7406\u54E1" &&
        _wcsicmp(ownerClass, found->ownerClass.c_str()) == 0) {
        if (found->count++ == 0) found->first = window;
    }
    return TRUE;
}

ManagerSearch managers(const std::string& prefix) {
    ManagerSearch search;
    search.ownerClass = L"Application List" + std::wstring(prefix.begin(), prefix.end()) + L"appmgr.dll";
    EnumWindows(findManager, reinterpret_cast<LPARAM>(&search));
    return search;
}

int managerDialogs(const std::string& prefix) { return managers(prefix).count; }

HWND waitForManager(const std::string& prefix) {
    for (int i = 0; i < 400; ++i) {
        if (HWND found = managers(prefix).first) return found;
        Sleep(50);
    }
    return nullptr;
}
}  // namespace

BOOL CALLBACK noteInputMethodWindow(HWND candidate, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(candidate, name, 16);
    if (lstrcmpW(name, L"IME") == 0) *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// Whether the thread of `window` has its default input-method window.
bool hasInputMethodWindow(HWND window) {
    bool found = false;
    EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), noteInputMethodWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(AppListRoad, SwitchSOpensTheManagerOnceAndASecondBringsItForward) {
    BrandList brand("QuarzelInkJet");
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("qz01", "device port=USB001 hids=1\n", "poll=300,reenum=100,enumretry=20", options);
    ASSERT_TRUE(monitor.start("-s"));
    HWND manager = waitForManager("qz01");
    ASSERT_NE(nullptr, manager) << "the manager opened";
    EXPECT_TRUE(hasInputMethodWindow(manager)) << "names are typed through an input method in the manager";

    // The second start finds the manager, brings it forward and goes on without a second one:
    // with no monitor running yet it becomes the monitor.
    std::string line = "\"" + monitor.exe() + "\" -s";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION second = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, monitor.folder().c_str(), &startup,
                               &second));
    CloseHandle(second.hThread);
    HWND window = nullptr;
    for (int i = 0; i < 400 && window == nullptr; ++i) {
        window = FindWindowA(nullptr, monitor.instanceName().c_str());
        Sleep(50);
    }
    EXPECT_NE(nullptr, window) << "the second start returned from the manager call";
    EXPECT_EQ(1, managerDialogs("qz01"));

    // Closing the manager ends the first start: the monitor already runs.
    PostMessageW(manager, WM_COMMAND, 1008, 0);
    EXPECT_EQ(0, monitor.waitForExit());
    EXPECT_EQ(0, managerDialogs("qz01"));
    EXPECT_EQ(0, monitor.runToEnd("-u"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.hProcess, 20000));
    CloseHandle(second.hProcess);
}

TEST(AppListRoad, AnOcrProgramCountsInTheNativeViewAndInThe32BitOne) {
    // The native view is the 64-bit one on both builds: a 32-bit monitor names it explicitly.
    TestRegistryKey name;  // a unique name, used here as a program name under App Paths
    const std::string exe = name.path().substr(name.path().rfind('\\') + 1) + ".exe";
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe;
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_WOW64_32KEY)}) {
        SCOPED_TRACE(view == KEY_WOW64_64KEY ? "registered in the 64-bit view" : "registered in the 32-bit view");
        HKEY created = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                                 nullptr, &created, nullptr));
        RegCloseKey(created);
        EXPECT_TRUE(AppListClient::programRegistered(exe, view == KEY_WOW64_64KEY));
        // Wine shares App Paths between the views where Windows keeps one in each: only where
        // they are apart does the other lookup miss.
        const REGSAM other = view == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        HKEY seen = nullptr;
        const bool shared = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | other, &seen) == ERROR_SUCCESS;
        if (seen != nullptr) RegCloseKey(seen);
        EXPECT_EQ(shared, AppListClient::programRegistered(exe, view != KEY_WOW64_64KEY));
        deleteKeyTree(HKEY_LOCAL_MACHINE, key, view);
        EXPECT_FALSE(AppListClient::programRegistered(exe, true) || AppListClient::programRegistered(exe, false));
    }
}

TEST(AppListRoad, ALongDefaultNameIsCutAsItsEntryIs) {
    // The panel matches the default name against the names it was sent: both are cut alike.
    BrandList brand("SorvaniInkJet");
    brand.store(appEntryText(std::wstring(300, L'n'), L"C:\\n.exe", L"JPG", true));
    HarnessOptions options;
    options.realAppList = true;
    MonitorHarness monitor("ro04", "device port=USB001 transport=USB1 hids=1\n", "poll=300,reenum=100,enumretry=20",
                           options);
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return contains(j, "DcsRegisterForReportsHid"); }));
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));
    ASSERT_TRUE(monitor.waitForLog("Send ScanToList"));
    const std::string scx = readFile(monitor.file("ro04scx.journal"));
    EXPECT_TRUE(contains(scx, "addName name=" + std::string(253, 'n') + "  length=254")) << scx;
    EXPECT_TRUE(contains(scx, "setDefault name=" + std::string(253, 'n'))) << scx;
    EXPECT_FALSE(contains(scx, std::string(254, 'n'))) << scx;
}
