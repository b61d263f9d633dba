// Faults injected into the real monitor one family at a time: missing or failing outside
// libraries and entry points, an unwritable temporary folder, a denied registry key, a locked
// log file and a log mutex held elsewhere. Each must leave the monitor running, and where the
// fault can go away the monitor must work again afterwards.
#include "MonitorHarness.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <memory>

using namespace testing_support;

namespace {
const char kDevice[] = "device port=USB001 transport=USB1 model=KV-1 hids=1\n";
const char kTimings[] = "poll=300,reenum=100,enumretry=20";

template <typename Predicate>
bool waitUntil(Predicate predicate, DWORD timeoutMs = 15000) {
    for (DWORD waited = 0;; waited += 50) {
        if (predicate()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

std::string viewerList() { return appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")); }

// Panel reports used below.
const char kNoButton[] = "01 00 00 00 00 00 0B 00";
const char kScanToViewer[] = "01 00 13 00 00 00 01 03";  // Letter, colour, the first list entry
const char kScanToNothing[] = "01 00 33 00 00 00 01 FF";  // no application chosen: one error line
const char kListRequest[] = "01 00 00 00 00 00 08 00";

// How the monitor logs a report: lower-case hex pairs, each followed by a space.
std::string logged(const std::string& bytes) { return "HID Report = " + lowerAscii(bytes) + " "; }

std::string press(MonitorHarness& monitor, const std::string& bytes) { return monitor.command("report USB001 0 " + bytes); }

// Puts a binary of the build folder in place of a file of the monitor's folder in one step, so
// a monitor that keeps trying to load it never sees half a file.
bool install(MonitorHarness& monitor, const std::string& builtName, const std::string& name) {
    const std::string staged = monitor.file(name + ".new");
    if (!CopyFileA((ownFolder() + builtName).c_str(), staged.c_str(), FALSE)) return false;
    // The monitor may hold the old file for a moment while it tries it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (MoveFileExA(staged.c_str(), monitor.file(name).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        Sleep(20);
    }
    return false;
}


// A scan to the viewer starts its program as the `count`th start, with the viewer's job.
void expectViewerJob(MonitorHarness& monitor, int count, const std::string& what = "") {
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer)) << what;
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", count)) << what << "\n" << monitor.log();
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<APP_PATH>C:\\v.exe</APP_PATH>")) << what;
}

// How many of the programs started carry the computer's "<APP>" job, and how many the viewer's.
std::pair<int, int> jobsOf(const std::vector<ProgramRecord>& started) {
    std::pair<int, int> jobs;
    for (const ProgramRecord& record : started) {
        jobs.first += record.file.find("<APP><APPNAME>computer</APPNAME>") == 0 ? 1 : 0;
        jobs.second += contains(record.file, "<APP_PATH>C:\\v.exe</APP_PATH>") ? 1 : 0;
    }
    return jobs;
}

// The list request is answered, but no list reaches the panel and no program starts.
void expectNoListSent(MonitorHarness& monitor, const std::string& prefix) {
    EXPECT_EQ("ok delivered result=0", press(monitor, kListRequest));
    EXPECT_TRUE(monitor.waitForLog("Send ScanToList"));
    EXPECT_FALSE(contains(readFile(monitor.file(prefix + "scx.journal")), "sendList"));
    Sleep(300);
    EXPECT_EQ(0u, records(monitor.programJournal("lsqx")).size());
}

bool registered(const std::string& journal) { return calls(journal, "DcsRegisterForNotificationsHid") >= 1; }

void startAndWaitForDevice(MonitorHarness& monitor) {
    ASSERT_TRUE(monitor.start());
    waitUntilReady(monitor, "DcsRegisterForNotificationsHid");
}

// Ends the monitor the way an uninstaller does and checks it went.
void unloadCleanly(MonitorHarness& monitor, const std::string& what) {
    EXPECT_TRUE(monitor.running()) << what;
    EXPECT_EQ(0, monitor.runToEnd("-u")) << what;
    EXPECT_EQ(0, monitor.waitForExit()) << what;
}

// Replaces a key's access list with an empty one (nobody may open it) and puts the original
// back when asked or when the test ends, so the test key can still be deleted.
class DeniedKey {
public:
    explicit DeniedKey(const std::string& path) : path_(path) {
        ACL empty;
        InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
        denied_ = withKey([&](HKEY key) {
            return GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &originalDacl_,
                                   nullptr, &original_) == ERROR_SUCCESS &&
                   SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, &empty, nullptr) == ERROR_SUCCESS;
        });
    }
    ~DeniedKey() {
        restore();
        LocalFree(original_);
    }
    DeniedKey(const DeniedKey&) = delete;
    DeniedKey& operator=(const DeniedKey&) = delete;

    bool denied() const { return denied_; }
    void restore() {
        denied_ = denied_ && !withKey([&](HKEY key) {
            return SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, originalDacl_, nullptr) == ERROR_SUCCESS;
        });
    }

private:
    // Runs `use` on the key opened for its access list; false when it cannot be opened.
    template <typename Use>
    bool withKey(Use use) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS) return false;
        const bool done = use(key);
        RegCloseKey(key);
        return done;
    }

    std::string path_;
    PSECURITY_DESCRIPTOR original_ = nullptr;
    PACL originalDacl_ = nullptr;
    bool denied_ = false;
};

void setLoggerValue(MonitorHarness& monitor, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (monitor.settingsPath() + "\\logger").c_str(), 0,
                                           KEY_SET_VALUE, &key));
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

std::string logPathOf(const std::string& prefix) {
    char allUsers[MAX_PATH] = {};
    ExpandEnvironmentStringsA("%ALLUSERSPROFILE%\\", allUsers, MAX_PATH);
    return std::string(allUsers) + prefix + "scan.log";
}
}  // namespace

// ---- the device library ----

TEST(Faults, WithoutTheDeviceLibraryTheMonitorWaitsAndTakesTheLibraryWhenItAppears) {
    MonitorHarness monitor("fx01", kDevice);
    monitor.removeFile("fx01devlink.dll");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow()) << "the window is made although the enumeration failed";
    EXPECT_TRUE(monitor.waitForLog("DCS client failure in enumHids TRANSPORT_LOCAL with lRetCode = 126. Retrying."))
        << monitor.log();
    EXPECT_TRUE(monitor.waitForLog("CpdDcsClient::enumWindowsHids failed exiting."));
    EXPECT_TRUE(monitor.waitForLog("No Devices attached!"));
    EXPECT_TRUE(monitor.running());

    // The re-enumeration timer loads the library as soon as it is there.
    ASSERT_TRUE(install(monitor, "kvabdevlink.dll", "fx01devlink.dll"));
    ASSERT_TRUE(monitor.waitForJournal(registered)) << monitor.journal();
    EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
    EXPECT_TRUE(monitor.waitForLog(logged(kNoButton))) << monitor.log();
    unloadCleanly(monitor, "after the library appeared");
}

TEST(Faults, AFailingInitializationIsRetriedUntilTheLibraryComesUp) {
    // A few failures: the enumeration's own retries get past them.
    {
        MonitorHarness monitor("fx02", std::string(kDevice) + "fail init 4\n");
        startAndWaitForDevice(monitor);
        const std::string journal = monitor.journal();
        EXPECT_EQ(4, calls(journal, "DcsInitialize", "(fault)")) << journal;
        EXPECT_TRUE(monitor.waitForLog("DCS client failure in enumHids TRANSPORT_LOCAL with lRetCode = 126. Retrying."))
            << monitor.log();
        EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
        unloadCleanly(monitor, "after four failed initialisations");
    }
    // Failing for good: the monitor keeps trying, and a library that initialises again (its
    // scenario no longer fails) is taken without a restart, since a failed one is unloaded.
    {
        MonitorHarness monitor("fx03", std::string(kDevice) + "fail init always\n");
        ASSERT_TRUE(monitor.start());
        ASSERT_NE(nullptr, monitor.waitForWindow());
        EXPECT_TRUE(monitor.waitForLog("CpdDcsClient::enumWindowsHids failed exiting.")) << monitor.log();
        ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsInitialize", "(fault)") >= 30; }));
        EXPECT_EQ(0, calls(monitor.journal(), "DcsGetClientId", "")) << "nothing past the failed initialisation";
        EXPECT_TRUE(monitor.running());

        writeFile(monitor.file("fx03devlink.scenario"), kDevice);
        ASSERT_TRUE(monitor.waitForJournal(registered)) << monitor.journal();
        EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
        unloadCleanly(monitor, "after the initialisation recovered");
    }
}

TEST(Faults, DeviceCallsFailingForAWhileAreRetriedOnTheirOwnPaths) {
    MonitorHarness monitor("fx14", std::string(kDevice) + "fail clientid 2\nfail reports 2\nfail discovery always\n");
    monitor.setAppList(viewerList());
    HWND window = nullptr;
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, window = monitor.waitForWindow());
    // The identity failures fail the first enumeration, whose retry gets past them; the report
    // registration is retried by the poll; a failing discovery is not even looked at.
    ASSERT_TRUE(monitor.waitForJournal(registered)) << monitor.journal();
    std::string journal = monitor.journal();
    EXPECT_EQ(2, calls(journal, "DcsGetClientId", "(fault)")) << journal;
    EXPECT_EQ(2, calls(journal, "DcsRegisterForReportsHid", "(fault)")) << journal;
    EXPECT_TRUE(monitor.waitForLog("DCS client failure in enumHids TRANSPORT_LOCAL with lRetCode = 31. Retrying."));
    EXPECT_EQ(2, countLines(monitor.log(), "DCS client failure in registerForReportsHid")) << monitor.log();
    EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));

    // The scanner cannot be held once: the list reaches the panel anyway, and the next requests
    // hold it again.
    EXPECT_EQ("ok fail openscanner 1", monitor.command("fail openscanner 1"));
    for (int i = 0; i < 3; ++i) EXPECT_EQ("ok delivered result=0", press(monitor, kListRequest));
    journal = monitor.journal();
    EXPECT_EQ(1, calls(journal, "DcsOpenScanner", "(fault)")) << journal;
    EXPECT_EQ(2, calls(journal, "DcsOpenScanner")) << journal;
    EXPECT_EQ(2, calls(journal, "DcsCloseScanner")) << "released at once for a local device\n" << journal;
    const std::string scx = readFile(monitor.file("fx14scx.journal"));
    EXPECT_EQ(3, countLines(scx, "sendList"));
    EXPECT_EQ(1, countLines(scx, "held=0")) << scx;

    // A display change whose handle look-up fails leaves a record the poll cannot open; the
    // next device change finds the device again.
    EXPECT_EQ("ok fail enumspecific 1", monitor.command("fail enumspecific 1"));
    SendMessageA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"));
    EXPECT_EQ("ok not registered", press(monitor, kNoButton));
    EXPECT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsOpenHid", "handle=0 ") >= 2; }));
    const std::string added = monitor.command("arrive port=USB002 hids=1");
    EXPECT_TRUE(contains(added, "ok added port=USB002")) << added;
    EXPECT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return calls(j, "DcsRegisterForNotificationsHid", "handle=257 ") >= 2;
    })) << monitor.journal();
    EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
    unloadCleanly(monitor, "after the passing device faults");
}

namespace {
struct MissingEntry {
    const char* entry;
    const char* prefix;
};

std::unique_ptr<MonitorHarness> startWithout(const MissingEntry& missing, const std::string& appList = std::string()) {
    auto monitor = std::make_unique<MonitorHarness>(missing.prefix, kDevice);
    const std::string own = std::string(missing.prefix) + "devlink.dll";
    EXPECT_TRUE(install(*monitor, std::string("kvabno") + missing.entry + "devlink.dll", own)) << missing.entry;
    if (!appList.empty()) monitor->setAppList(appList);
    EXPECT_TRUE(monitor->start()) << missing.entry;
    return monitor;
}
}  // namespace

// Without these entry points no report can ever arrive: the monitor logs, retries on its timers
// and stays up.
TEST(Faults, MissingDeviceEntryPointsOnTheWayToTheReportsLeaveTheMonitorRunning) {
    const MissingEntry cases[] = {
        {"DcsInitialize", "fm01"},  {"DcsGetClientId", "fm02"}, {"DcsEnumHids", "fm03"},
        {"DcsEnumSpecificHid", "fm04"}, {"DcsGetStringHid", "fm05"}, {"DcsOpenHid", "fm06"},
        {"DcsRegisterForReportsHid", "fm07"},
    };
    std::vector<std::unique_ptr<MonitorHarness>> monitors;
    for (const MissingEntry& missing : cases) monitors.push_back(startWithout(missing));

    for (size_t i = 0; i < monitors.size(); ++i) {
        MonitorHarness& monitor = *monitors[i];
        const std::string entry = cases[i].entry;
        SCOPED_TRACE(entry);
        ASSERT_NE(nullptr, monitor.waitForWindow());
        if (entry == "DcsInitialize" || entry == "DcsGetClientId" || entry == "DcsEnumHids") {
            // 126: the library could not be made ready; 127: an entry point is missing.
            const std::string code = entry == "DcsInitialize" ? "126" : "127";
            EXPECT_TRUE(monitor.waitForLog("with lRetCode = " + code + ". Retrying.")) << monitor.log();
            EXPECT_TRUE(monitor.waitForLog("CpdDcsClient::enumWindowsHids failed exiting."));
            EXPECT_TRUE(monitor.waitForLog("No Devices attached!"));
            EXPECT_EQ(0, calls(monitor.journal(), "DcsOpenHid", ""));
        } else if (entry == "DcsEnumSpecificHid" || entry == "DcsGetStringHid") {
            // The device is counted, but its handle cannot be learnt: the record keeps handle 0,
            // which the poll keeps trying to open.
            EXPECT_TRUE(monitor.waitForLog("DCS enumHids LOCAL = 0")) << monitor.log();
            EXPECT_TRUE(monitor.waitForJournal([](const std::string& j) {
                return calls(j, "DcsOpenHid", "handle=0 ") >= 2;
            })) << monitor.journal();
            EXPECT_EQ(0, calls(monitor.journal(), "DcsRegisterForReportsHid", ""));
        } else if (entry == "DcsOpenHid") {
            EXPECT_TRUE(waitUntil([&] { return countLines(monitor.log(), "DCS openHid = FAILED") >= 3; }))
                << "retried on every poll\n" << monitor.log();
            EXPECT_TRUE(contains(monitor.log(), "Opening: 257"));
            EXPECT_EQ(0, calls(monitor.journal(), "DcsRegisterForReportsHid", ""));
        } else {
            // Reports cannot be registered: the handle is closed again and the poll retries.
            EXPECT_TRUE(waitUntil([&] {
                return countLines(monitor.log(), "DCS client failure in registerForReportsHid") >= 3;
            })) << monitor.log();
            EXPECT_GE(calls(monitor.journal(), "DcsCloseHid"), 2) << monitor.journal();
            EXPECT_EQ(0, calls(monitor.journal(), "DcsRegisterForNotificationsHid", ""));
        }
        if (entry != "DcsInitialize") {
            EXPECT_EQ("ok not registered", press(monitor, kNoButton));
        }
        EXPECT_TRUE(monitor.running());
    }

    // A library without "DcsInitialize" is unloaded after every try, so the complete one put in
    // its place is picked up without a restart.
    MonitorHarness& first = *monitors[0];
    ASSERT_TRUE(install(first, "kvabdevlink.dll", "fm01devlink.dll"));
    ASSERT_TRUE(first.waitForJournal(registered)) << first.journal();
    EXPECT_EQ("ok delivered result=0", press(first, kNoButton));

    for (size_t i = 0; i < monitors.size(); ++i) unloadCleanly(*monitors[i], cases[i].entry);
}

// Without these entry points reports still flow: the panel's requests are answered, the list
// reaches the panel and a re-enumeration registers the device again.
TEST(Faults, MissingDeviceEntryPointsBesideTheReportsLeaveReportsFlowing) {
    const MissingEntry cases[] = {
        {"DcsUninitialize", "fn01"}, {"DcsDiscovery", "fn02"}, {"DcsEnumSpecificScanner", "fn03"},
        {"DcsOpenScanner", "fn04"}, {"DcsCloseScanner", "fn05"}, {"DcsRegisterForNotificationsHid", "fn06"},
        {"DcsUnregisterForReportsHid", "fn07"}, {"DcsUnregisterForNotificationsHid", "fn08"}, {"DcsCloseHid", "fn09"},
    };
    std::vector<std::unique_ptr<MonitorHarness>> monitors;
    for (const MissingEntry& missing : cases) monitors.push_back(startWithout(missing, viewerList()));

    for (size_t i = 0; i < monitors.size(); ++i) {
        MonitorHarness& monitor = *monitors[i];
        const std::string entry = cases[i].entry;
        SCOPED_TRACE(entry);
        HWND window = monitor.waitForWindow();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForReportsHid") >= 1; }))
            << monitor.journal();
        if (entry == "DcsRegisterForNotificationsHid") {
            EXPECT_TRUE(monitor.waitForLog("registerForNotificationsHid with DCS failed!!!")) << monitor.log();
        }
        EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));

        // The list request holds the scanner through the session controller; without its entry
        // points the hold fails quietly and the list is sent all the same.
        EXPECT_EQ("ok delivered result=0", press(monitor, kListRequest));
        EXPECT_TRUE(monitor.waitForLog("Send ScanToList"));
        EXPECT_TRUE(contains(readFile(monitor.file(std::string(cases[i].prefix) + "scx.journal")), "sendList"));
        EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer));
        EXPECT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();

        // A display change tears the registrations down and makes them again.
        const int before = calls(monitor.journal(), "DcsRegisterForReportsHid");
        SendMessageA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"));
        EXPECT_GT(calls(monitor.journal(), "DcsRegisterForReportsHid"), before) << monitor.journal();
        if (entry == "DcsUnregisterForReportsHid") {
            EXPECT_TRUE(monitor.waitForLog("DCS client failure in unregisterForReportsHid rc=127")) << monitor.log();
        } else if (entry == "DcsUnregisterForNotificationsHid") {
            EXPECT_TRUE(monitor.waitForLog("DCS client failuer in unregisterForNotificationsHid rc=127")) << monitor.log();
        } else if (entry == "DcsCloseHid") {
            EXPECT_TRUE(monitor.waitForLog("DCS client failure in closeHid rc=127")) << monitor.log();
        }
        EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton)) << "after the re-enumeration";
        EXPECT_TRUE(monitor.running());
    }
    for (size_t i = 0; i < monitors.size(); ++i) unloadCleanly(*monitors[i], cases[i].entry);
}

// ---- the other outside libraries ----

TEST(Faults, WithoutTheScanSessionLibraryScansAndListRequestsGoOnWithoutObjects) {
    MonitorHarness monitor("fx04", kDevice);
    monitor.removeFile("fx04scx.dll");
    monitor.setAppList(viewerList());
    startAndWaitForDevice(monitor);

    // E-mail: no object answers the option query, so the job is the plain JPG one.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>"))
        << monitor.programJournal("lsqx");
    // The list cannot be handed to the panel; the request is still answered and logged.
    EXPECT_EQ("ok delivered result=0", press(monitor, kListRequest));
    EXPECT_TRUE(monitor.waitForLog("Send ScanToList"));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 02 00 00 00 00 01 00"));
    EXPECT_TRUE(monitor.waitForLog("Send Host ScanToList"));
    EXPECT_FALSE(fileExists(monitor.file("fx04scx.journal")));
    // The list built for that request still serves a scan.
    expectViewerJob(monitor, 2);
    unloadCleanly(monitor, "without the scan-session library");
}

TEST(Faults, WithoutWorkingCapabilitiesEveryScanAlsoGoesToTheComputerUntilTheyWork) {
    MonitorHarness monitor("fx05", kDevice);
    monitor.removeFile("fx05capq.dll");
    monitor.setAppList(viewerList());
    startAndWaitForDevice(monitor);

    // Without a filled record the panel counts as taking no list, so a scan also writes the
    // "<APP>" job for the computer. The programs start in any order: count, don't sequence.
    int scans = 0;
    int expectedAppJobs = 0;
    auto scan = [&](bool appJob, const char* what) {
        ++scans;
        if (appJob) ++expectedAppJobs;
        EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer)) << what;
        ASSERT_TRUE(monitor.waitForPrograms("lsqx", scans + expectedAppJobs)) << what << "\n" << monitor.log();
        EXPECT_EQ(std::make_pair(expectedAppJobs, scans), jobsOf(records(monitor.programJournal("lsqx")))) << what;
    };
    scan(true, "library missing");

    // The library arrives, but makes no object; then its fill fails (and scribbles on the record).
    monitor.setCapabilities("create=none\n");
    ASSERT_TRUE(install(monitor, "kvabcapq.dll", "fx05capq.dll"));
    scan(true, "no object");
    EXPECT_TRUE(contains(readFile(monitor.file("fx05capq.journal")), "create -> none"));
    monitor.setCapabilities("fill=5\n");
    scan(true, "failing fill: the record is cleared, not used as the library left it");
    EXPECT_TRUE(contains(readFile(monitor.file("fx05capq.journal")), "fill -> 5"));

    // Working capabilities: one job per scan, and the record is kept from then on.
    monitor.setCapabilities("");
    scan(false, "working library");
    monitor.setCapabilities("fill=5\n");
    scan(false, "the filled record is not asked for again");
    EXPECT_EQ(1, countLines(readFile(monitor.file("fx05capq.journal")), "fill -> 0"));
    unloadCleanly(monitor, "after the capabilities recovered");
}

TEST(Faults, WithoutTheConfigurationLibraryTheMonitorRunsOnDefaults) {
    MonitorHarness monitor("fx06", kDevice);
    monitor.removeFile("fx06cnf.dll");
    monitor.setAppList(viewerList());
    startAndWaitForDevice(monitor);

    // The logger has no settings: error lines only, each with its time stamp.
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToNothing));
    ASSERT_TRUE(monitor.waitForLog("no destination for application index 255")) << monitor.log();
    const std::string log = monitor.log();
    EXPECT_FALSE(contains(log, "HID Report =")) << log;
    EXPECT_FALSE(contains(log, "+CMonitor::Enum()")) << log;
    EXPECT_EQ('2', log.empty() ? '\0' : log[0]) << "a line starts with the year\n" << log;

    // Devices and scans do not need the configuration.
    expectViewerJob(monitor, 1);
    unloadCleanly(monitor, "without the configuration library");
}

TEST(Faults, WithoutTheApplicationListOrItsListExportNoScanHasADestination) {
    // The library missing, then put in place: it is loaded at the next use.
    {
        HarnessOptions options;
        options.appList = false;
        MonitorHarness monitor("fx07", kDevice, kTimings, options);
        startAndWaitForDevice(monitor);
        EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 01"));
        EXPECT_TRUE(monitor.waitForLog("no destination for application index 0")) << "not even the fixed ones\n"
                                                                                 << monitor.log();
        expectNoListSent(monitor, "fx07");

        monitor.setAppList(viewerList());
        ASSERT_TRUE(install(monitor, "kvabtestapplist.dll", "fx07appmgr.dll"));
        expectViewerJob(monitor, 1);
        unloadCleanly(monitor, "after the application list appeared");
    }
    // The library without its list export: the same as no library, and no crash.
    {
        MonitorHarness monitor("fx08", kDevice);
        ASSERT_TRUE(install(monitor, "kvabnoGetWideAppListapplist.dll", "fx08appmgr.dll"));
        monitor.setAppList(viewerList());
        startAndWaitForDevice(monitor);
        EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer));
        EXPECT_TRUE(monitor.waitForLog("no destination for application index 2")) << monitor.log();
        expectNoListSent(monitor, "fx08");
        unloadCleanly(monitor, "without the list export");
    }
    // The installation and manager switches with exports missing end normally and leave the
    // running monitor alone ("LaunchGui" is missing from the double anyway). This monitor never
    // loads the library itself, so the file can be swapped between the runs.
    {
        MonitorHarness monitor("fx13", kDevice);
        startAndWaitForDevice(monitor);
        for (const char* variant : {"kvabnoInitializeapplist.dll", "kvabnoCreateAppListapplist.dll"}) {
            ASSERT_TRUE(install(monitor, variant, "fx13appmgr.dll")) << variant;
            writeFile(monitor.file("moire0.lut"), variant);
            EXPECT_EQ(0, monitor.runToEnd("-a")) << variant;
            EXPECT_EQ(variant, readFile(monitor.file("moire.lut"))) << "the table is copied all the same";
            EXPECT_EQ(0, monitor.runToEnd("-s")) << variant;
        }
        EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
        unloadCleanly(monitor, "after the switches with exports missing");
    }
}

// ---- the system's resources ----

TEST(Faults, AnUnwritableTemporaryFolderLosesTheJobFilesButNoProgramStart) {
    MonitorHarness monitor("fx09", kDevice);
    monitor.setCapabilities("SendAppListToOpPanel=0\n");  // each scan also writes the "<APP>" job
    monitor.setAppList(viewerList());
    startAndWaitForDevice(monitor);

    // A file where the temporary folder should be: nothing can be created in it.
    std::string folder = monitor.tempFolder();
    folder.pop_back();
    ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
    writeFile(folder, "not a folder");

    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.log();
    EXPECT_TRUE(monitor.waitForLog("Couldn't create file successfully.")) << monitor.log();
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 05 02"));  // a colour copy
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 3)) << monitor.log();
    for (const ProgramRecord& record : records(monitor.programJournal("lsqx"))) {
        EXPECT_FALSE(record.hasFile) << "started with the path of the file that could not be written: " << record.command;
        EXPECT_TRUE(contains(record.command, " -x " + monitor.tempFolder() + "LightScanXML")) << record.command;
    }
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 07 00"));  // a memory card
    ASSERT_TRUE(monitor.waitForPrograms("PhotoDock", 1)) << monitor.log();
    EXPECT_TRUE(monitor.waitForLog("Couldn't create hid report file."));
    EXPECT_FALSE(records(monitor.programJournal("PhotoDock")).back().hasFile);

    // The folder is back: the same requests get their files.
    ASSERT_TRUE(DeleteFileA(folder.c_str()));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 5)) << monitor.log();
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 05 02"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 6)) << monitor.log();
    const std::vector<ProgramRecord> started = records(monitor.programJournal("lsqx"));
    ASSERT_EQ(6u, started.size());
    // The scan's two programs start in either order.
    EXPECT_EQ(std::make_pair(1, 1), jobsOf({started.begin() + 3, started.begin() + 5}));
    EXPECT_TRUE(contains(started[5].file, "<DEST_TYPE>printer</DEST_TYPE>")) << started[5].file;
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 07 00"));
    ASSERT_TRUE(monitor.waitForPrograms("PhotoDock", 2));
    EXPECT_EQ("<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>",
              records(monitor.programJournal("PhotoDock")).back().file);
    unloadCleanly(monitor, "after the temporary folder came back");
}

TEST(Faults, ADeniedLoggerKeyLeavesBareErrorLinesUntilItsAccessReturns) {
    MonitorHarness monitor("fx10", kDevice);
    monitor.setAppList(viewerList());
    DeniedKey logger(monitor.settingsPath() + "\\logger");
    ASSERT_TRUE(logger.denied());
    HKEY probe = nullptr;
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (monitor.settingsPath() + "\\logger").c_str(), 0,
                                                 KEY_READ, &probe))
        << "this Wine enforces registry access lists";
    startAndWaitForDevice(monitor);

    // Every switch reads as 0: error lines only, without the time stamp.
    EXPECT_EQ("ok delivered result=0", press(monitor, kNoButton));
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToNothing));
    ASSERT_TRUE(monitor.waitForLog("no destination for application index 255")) << monitor.log();
    std::string log = monitor.log();
    EXPECT_FALSE(contains(log, "HID Report =")) << log;
    EXPECT_EQ(0u, log.find("PANELMON ")) << log;
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToViewer)) << "scans do not need the switches";
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1));

    // Access restored: each switch is read again once its cached value is five seconds old, so
    // the lines come back, and a moment later their time stamps too.
    logger.restore();
    ASSERT_FALSE(logger.denied());
    const std::string marker = logged(kNoButton);
    auto stampedReport = [&] {
        const std::string text = monitor.log();
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
            const size_t line = text.rfind('\n', at);
            if (line != std::string::npos && text[line + 1] == '2') return true;
        }
        return false;
    };
    bool again = false;
    for (int attempt = 0; attempt < 40 && !again; ++attempt) {
        press(monitor, kNoButton);
        again = waitUntil(stampedReport, 500);
    }
    EXPECT_TRUE(again) << monitor.log();
    unloadCleanly(monitor, "after the logger key was opened again");
}

TEST(Faults, ALockedLogFileLosesOnlyTheLinesOfItsLockedTime) {
    MonitorHarness monitor("fx11", kDevice);
    startAndWaitForDevice(monitor);
    const std::string path = logPathOf("fx11");
    ASSERT_TRUE(monitor.waitForLog("DCS enumHids LOCAL = 1"));

    // The monitor may be writing a line: its own handle is open only for that moment.
    HANDLE locked = INVALID_HANDLE_VALUE;
    waitUntil([&] {
        locked = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return locked != INVALID_HANDLE_VALUE;
    });
    ASSERT_NE(INVALID_HANDLE_VALUE, locked) << GetLastError();
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 0B 01"));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 0C 01"));
    CloseHandle(locked);

    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 0B 02"));
    EXPECT_TRUE(monitor.waitForLog(logged("01 00 00 00 00 00 0B 02"))) << monitor.log();
    const std::string log = monitor.log();
    EXPECT_FALSE(contains(log, logged("01 00 00 00 00 00 0B 01"))) << log;
    EXPECT_FALSE(contains(log, logged("01 00 00 00 00 00 0C 01"))) << log;
    EXPECT_TRUE(contains(log, "DCS enumHids LOCAL = 1")) << "the lines from before stay";
    unloadCleanly(monitor, "after the log file was unlocked");
}

namespace {
// Holds a named mutex until the parent lets go, as a stuck writer of the same log would.
TEST_CHILD(hold_mutex) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, args.at(0).c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, args.at(1).c_str());
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, args.at(2).c_str());
    if (mutex == nullptr || release == nullptr || ready == nullptr) return 2;
    if (WaitForSingleObject(mutex, 20000) != WAIT_OBJECT_0) return 3;
    SetEvent(ready);
    WaitForSingleObject(release, 120000);
    ReleaseMutex(mutex);
    return 0;
}
}  // namespace

TEST(Faults, ALogMutexHeldElsewhereDelaysReportsButNeverStopsThem) {
    MonitorHarness monitor("fx12", kDevice);
    setLoggerValue(monitor, "startLog", 0);  // the product's default: error lines only
    startAndWaitForDevice(monitor);

    const std::string tag = "fx12-" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, ("release-" + tag).c_str());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ("ready-" + tag).c_str());
    HANDLE holder =
        startProcess("\"" + ownPath() + "\" --child hold_mutex KVLOG_fx12scan.log release-" + tag + " ready-" + tag);
    ASSERT_NE(nullptr, holder);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 20000));

    // Each report below writes one error line; the monitor gives up on the mutex and answers.
    EXPECT_EQ("ok delivered result=0", press(monitor, kScanToNothing));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 09"));
    EXPECT_FALSE(contains(monitor.log(), "no destination for application index")) << monitor.log();
    EXPECT_NE(nullptr, FindWindowA(nullptr, monitor.instanceName().c_str()));

    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder, 20000));
    CloseHandle(holder);
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 0A"));
    EXPECT_TRUE(monitor.waitForLog("no destination for application index 9")) << monitor.log();
    EXPECT_FALSE(contains(monitor.log(), "no destination for application index 255"));
    unloadCleanly(monitor, "after the log mutex was released");
    CloseHandle(release);
    CloseHandle(ready);
}
