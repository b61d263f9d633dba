// The real monitor under load: storms of random and mutated reports from the simulator, many
// library threads at once while devices come and go, and a long soak with its resources watched.
#include "MonitorHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>

using namespace testing_support;

namespace {
const char* const kDevice = "device port=USB001 transport=USB1 model=KV-1 hids=1\n";
const std::string kList = appListText(appEntryText("Viewer", "C:\\v.exe", "JPG"));

// Reports of every kind the panel sends, as storm bases (hex without blanks).
const char* const kScanToViewer = "0100130000000103";  // gray scan, application index 3: the stored entry
const char* const kScanNowhere = "0100330000000109";   // color scan to an index nobody has
const char* const kFax = "0100000000000400";
const char* const kInk = "0100000000000600";
const char* const kColorCopy = "0100000000000501";
const char* const kGrayCopy = "0100000000000A02";
const char* const kCard = "0100000000000700";
const char* const kAutoPrint = "0100000000000902";
const char* const kDuplex = "0100000000001001";
const char* const kHostCancel = "0102000000009900";
const char* const kEndSession = "0100000000009900";
const char* const kNoButton = "0102000000000500";
const char* const kNotPanel = "0200000000000101";

std::string bases(std::initializer_list<const char*> reports) {
    std::string out;
    for (const char* report : reports) out += std::string(" base=") + report;
    return out;
}

// "ok storm sent=N delivered=D unregistered=U results=R:n,..." as numbers.
struct StormReply {
    long long sent = -1, delivered = -1, unregistered = -1;
    std::map<long, long long> results;
};

StormReply parseStorm(const std::string& reply) {
    StormReply out;
    std::sscanf(reply.c_str(), "ok storm sent=%lld delivered=%lld unregistered=%lld", &out.sent, &out.delivered,
                &out.unregistered);
    const size_t at = reply.find("results=");
    if (at == std::string::npos) return out;
    std::string rest = reply.substr(at + 8);
    while (!rest.empty()) {
        long result = 0;
        long long times = 0;
        if (std::sscanf(rest.c_str(), "%ld:%lld", &result, &times) != 2) break;
        out.results[result] = times;
        const size_t comma = rest.find(',');
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    }
    return out;
}

void setLogging(MonitorHarness& monitor, DWORD on) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (monitor.settingsPath() + "\\logger").c_str(), 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof(on));
        RegCloseKey(key);
    }
}

// The started programs go away so that a storm's launches fail at once instead of starting
// thousands of processes; the first comes back for the check afterwards.
void removePrograms(MonitorHarness& monitor) {
    for (const std::string& name : {monitor.prefix() + "lsqx.exe", std::string("QuickPrn.exe"), std::string("PhotoDock.exe"),
                                   std::string("photodesk.exe")}) {
        monitor.removeFile(name);
    }
}

void restoreLightScan(MonitorHarness& monitor) {
    CopyFileA((ownFolder() + "kvablsqx.exe").c_str(), monitor.file(monitor.prefix() + "lsqx.exe").c_str(), FALSE);
}

// A scan sent the ordinary way reaches the light-scan program with its job file.
void expectAWorkingScan(MonitorHarness& monitor) {
    restoreLightScan(monitor);
    const int before = countLines(monitor.programJournal("lsqx"), "command ");
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 13 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForPrograms("lsqx", before + 1)) << monitor.programJournal("lsqx");
    EXPECT_TRUE(monitor.running());
}

std::vector<std::string> filesIn(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}
}  // namespace

TEST(Stress, AMillionRandomAndMutatedReportsGiveOnlyZeroOrThirteen) {
    MonitorHarness monitor("st01", kDevice);
    monitor.setAppList(kList);
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=1\n");
    setLogging(monitor, 0);  // a million log lines would measure the disk, not the monitor
    removePrograms(monitor);
    startAndWait(monitor);

    const long long count = 1000000;
    const std::string reply = monitor.command(
        "storm USB001 0 " + std::to_string(count) + " 20261209 mutate=1" +
        bases({kScanToViewer, kScanNowhere, kFax, kInk, kColorCopy, kGrayCopy, kCard, kAutoPrint, kDuplex, kHostCancel,
               kEndSession, kNoButton, kNotPanel}));
    const StormReply storm = parseStorm(reply);
    std::cout << "[ figures  ] " << reply << "\n";
    EXPECT_EQ(count, storm.sent) << reply;
    EXPECT_EQ(count, storm.delivered) << reply;
    for (const auto& [result, times] : storm.results) {
        EXPECT_TRUE(result == 0 || result == 13) << "result " << result << " came " << times << " times";
    }
    EXPECT_GT(storm.results.count(13) ? storm.results.at(13) : 0, count / 2) << "most random reports are too short or not from the panel";
    EXPECT_TRUE(monitor.running());
    setLogging(monitor, 1);
    expectAWorkingScan(monitor);
}

namespace {
struct LogCounts {
    int dispatched = 0;  // scans, faxes and ink requests taken up
    int ended = 0;       // requests that reached their end or a logged refusal
    int noDestination = 0;
    int createFailed = 0;
    std::vector<std::string> jobs;  // the job file of each light-scan start
};

bool endsWith(const std::string& line, const std::string& tail) {
    return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

LogCounts countLog(const std::string& log) {
    LogCounts counts;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (contains(line, "Scan. Color mode: ") || endsWith(line, " Fax") || endsWith(line, "Ink Reorder Application")) {
            ++counts.dispatched;
        }
        if (endsWith(line, " LaunchProgram =>") || contains(line, "RequestScan Not Active session") ||
            contains(line, "GetFriendlyName failure") || contains(line, "ERROR_INVALID_DATA")) {
            ++counts.ended;
        }
        if (contains(line, "no destination for application index")) ++counts.noDestination;
        if (contains(line, "Couldn't create file")) ++counts.createFailed;
        const size_t job = line.find(" -x ");
        if (contains(line, "LaunchProgram =>") && job != std::string::npos) counts.jobs.push_back(line.substr(job + 4));
    }
    return counts;
}

struct StormCall {
    MonitorHarness* monitor;
    std::string line;
    std::string reply;
};

DWORD WINAPI runStorm(void* parameter) {
    auto* call = static_cast<StormCall*>(parameter);
    call->reply = call->monitor->command(call->line);
    return 0;
}
}  // namespace

TEST(Stress, EightLibraryThreadsWhileDevicesComeAndGoAndListsAreRebuilt) {
    MonitorHarness monitor("st02", kDevice);
    monitor.setAppList(kList);
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=1\n");
    removePrograms(monitor);
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (monitor.settingsPath() + "\\logger").c_str(), 0,
                                               KEY_SET_VALUE, &key));
        const DWORD infoAndErrors = 9;  // every request's lines, without the traces
        RegSetValueExA(key, "All", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&infoAndErrors), sizeof(infoAndErrors));
        RegCloseKey(key);
    }
    startAndWait(monitor);
    const HWND window = monitor.waitForWindow();

    const int threads = 8, perThread = 10000;
    StormCall storm{&monitor, "storm USB001 0 " + std::to_string(perThread) + " 77 threads=" + std::to_string(threads) +
                                  " mutate=40" +
                                  bases({kScanToViewer, kScanNowhere, kFax, kInk, kColorCopy, kGrayCopy, kNoButton})};
    HANDLE stormThread = CreateThread(nullptr, 0, runStorm, &storm, 0, nullptr);
    ASSERT_NE(nullptr, stormThread);

    // Meanwhile the window thread re-enumerates, a second device comes and goes, and the panel
    // asks for the list, which rebuilds the destination table.
    int churns = 0;
    while (WaitForSingleObject(stormThread, 0) == WAIT_TIMEOUT) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"), SMTO_NORMAL, 20000,
                            &ignored);
        EXPECT_TRUE(contains(monitor.command("arrive port=USB009 model=KV-9 hids=2"), "ok added"));
        Sleep(100);
        EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));
        EXPECT_TRUE(contains(monitor.command("remove USB009"), "ok removed"));
        ++churns;
    }
    WaitForSingleObject(stormThread, INFINITE);
    CloseHandle(stormThread);

    const StormReply result = parseStorm(storm.reply);
    std::cout << "[ figures  ] " << storm.reply << " churn rounds=" << churns << "\n";
    EXPECT_EQ(threads * perThread, result.sent) << storm.reply;
    EXPECT_EQ(result.sent, result.delivered + result.unregistered);
    for (const auto& [code, times] : result.results) {
        EXPECT_TRUE(code == 0 || code == 13) << "result " << code << " came " << times << " times";
    }
    EXPECT_GT(churns, 0);
    EXPECT_TRUE(monitor.running());
    const std::string journal = monitor.journal();
    const size_t stuck = journal.find("gave up waiting");
    EXPECT_EQ(std::string::npos, stuck) << "a callback outlived an unregistration: "
                                        << journal.substr(stuck > 3000 ? stuck - 3000 : 0, 3200);

    // Every scan taken up ended with its job or a logged refusal; every started job has its
    // file, under a name of its own.
    const LogCounts counts = countLog(monitor.log());
    std::cout << "[ figures  ] scans taken up=" << counts.dispatched << " ended=" << counts.ended
              << " without destination=" << counts.noDestination << " job files=" << counts.jobs.size() << "\n";
    EXPECT_GT(counts.dispatched, 100);
    EXPECT_EQ(counts.dispatched, counts.ended);
    EXPECT_EQ(0, counts.createFailed);
    const std::set<std::string> distinct(counts.jobs.begin(), counts.jobs.end());
    EXPECT_EQ(counts.jobs.size(), distinct.size());
    for (const std::string& job : counts.jobs) {
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(job.c_str())) << job;
    }
    EXPECT_EQ(counts.jobs.size(), filesIn(monitor.tempFolder(), "LightScanXML*.xml").size());
    expectAWorkingScan(monitor);
}

TEST(Stress, TwoDevicesAtOnceKeepEachJobOnItsOwnPort) {
    // Scans from one device while the other's reports (cancel, end of session, duplex button,
    // auto-print) set the port of the report they serve: no job may carry the other port.
    MonitorHarness monitor("st06", std::string(kDevice) + "device port=USB002 transport=USB1 model=KV-2 hids=1\n");
    monitor.setAppList(kList);
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=1\n");
    setLogging(monitor, 0);
    removePrograms(monitor);
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return countLines(j, "DcsRegisterForReportsHid") >= 2; }))
        << monitor.journal();

    StormCall scans{&monitor, "storm USB001 0 300 11 threads=2 exact=1" + bases({kScanToViewer})};
    StormCall others{&monitor, "storm USB002 0 3000 12 threads=2 exact=1" +
                                   bases({kHostCancel, kDuplex, kEndSession, kAutoPrint})};
    HANDLE scanThread = CreateThread(nullptr, 0, runStorm, &scans, 0, nullptr);
    HANDLE otherThread = CreateThread(nullptr, 0, runStorm, &others, 0, nullptr);
    ASSERT_NE(nullptr, scanThread);
    ASSERT_NE(nullptr, otherThread);
    WaitForSingleObject(scanThread, INFINITE);
    WaitForSingleObject(otherThread, INFINITE);
    CloseHandle(scanThread);
    CloseHandle(otherThread);
    EXPECT_EQ(600, parseStorm(scans.reply).delivered) << scans.reply;
    EXPECT_EQ(6000, parseStorm(others.reply).delivered) << others.reply;

    const std::vector<std::string> jobs = filesIn(monitor.tempFolder(), "LightScanXML*.xml");
    int ownPort = 0, otherPort = 0;
    for (const std::string& name : jobs) {
        const std::string job = readFile(monitor.tempFolder() + name);
        ownPort += contains(job, "USB001") ? 1 : 0;
        otherPort += contains(job, "USB002") ? 1 : 0;
    }
    std::cout << "[ figures  ] two devices: " << jobs.size() << " scan jobs, " << ownPort << " on their own port, "
              << otherPort << " on the other device's\n";
    EXPECT_EQ(600u, jobs.size());
    EXPECT_EQ(static_cast<int>(jobs.size()), ownPort);
    EXPECT_EQ(0, otherPort);
    EXPECT_TRUE(monitor.running());
}

TEST(Stress, ClosingDuringAStormEndsTheMonitorCleanly) {
    // Reports keep arriving on the library's threads while the window is closed (by any sender:
    // "-u" also ends the process itself): the monitor stops them before the process winds
    // down, and ends with 0 of its own.
    MonitorHarness monitor("st07", kDevice);
    monitor.setAppList(kList);
    setLogging(monitor, 0);
    removePrograms(monitor);
    startAndWait(monitor);
    const HWND window = monitor.waitForWindow();
    StormCall storm{&monitor, "storm USB001 0 200000 21 threads=4" + bases({kScanToViewer, kHostCancel, kDuplex, kNoButton})};
    HANDLE stormThread = CreateThread(nullptr, 0, runStorm, &storm, 0, nullptr);
    ASSERT_NE(nullptr, stormThread);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return contains(j, "storm"); })) << monitor.journal();
    Sleep(300);
    DWORD_PTR ignored = 0;
    EXPECT_NE(0, SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 20000, &ignored));
    EXPECT_EQ(0, monitor.waitForExit());
    WaitForSingleObject(stormThread, 30000);
    CloseHandle(stormThread);
    const std::string journal = monitor.journal();
    EXPECT_EQ(1, calls(journal, "DcsUnregisterForReportsHid")) << journal.substr(journal.size() > 3000 ? journal.size() - 3000 : 0);
    EXPECT_EQ(std::string::npos, journal.find("gave up waiting"));
}

namespace {
struct Resources {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// As the monitor's own process sees itself, through the simulator inside it: Wine does not
// tell another process's handle count.
Resources resourcesOf(MonitorHarness& monitor) {
    Resources out;
    unsigned long handles = 0, privateBytes = 0;
    if (std::sscanf(monitor.command("resources").c_str(), "ok handles=%lu private=%lu", &handles, &privateBytes) == 2) {
        out.handles = handles;
        out.privateBytes = privateBytes;
    }
    return out;
}

void removeJobFiles(MonitorHarness& monitor) {
    for (const std::string& name : filesIn(monitor.tempFolder(), "LightScanXML*.xml")) {
        DeleteFileA((monitor.tempFolder() + name).c_str());
    }
}
}  // namespace

TEST(Stress, TenThousandCyclesOfEveryKindKeepHandlesAndMemoryFlat) {
    MonitorHarness monitor("st03", kDevice);
    monitor.setAppList(kList);
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=1\n");
    setLogging(monitor, 0);
    removePrograms(monitor);
    startAndWait(monitor);

    const std::string kinds = bases({kScanToViewer, kScanNowhere, kFax, kInk, kColorCopy, kGrayCopy, kCard, kAutoPrint,
                                     kDuplex, kHostCancel, kEndSession, kNoButton, kNotPanel, "0103000000000101"});
    const int kindCount = 14, chunks = 20, cyclesPerChunk = 500;
    const DWORD started = GetTickCount();
    std::vector<Resources> samples;
    long long reports = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const StormReply storm = parseStorm(monitor.command(
            "storm USB001 0 " + std::to_string(cyclesPerChunk * kindCount) + " " + std::to_string(chunk) + " exact=1" + kinds));
        ASSERT_EQ(cyclesPerChunk * kindCount, storm.delivered);
        reports += storm.delivered;
        if (chunk % 5 == 4) {  // a list request now and then: it waits for the panel on purpose
            EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 08 00"));
        }
        removeJobFiles(monitor);  // the folder would fill up with names, not the monitor
        samples.push_back(resourcesOf(monitor));
    }
    ASSERT_TRUE(monitor.running());
    const Resources& first = samples.front();
    const Resources& last = samples.back();
    SIZE_T highest = 0;
    for (const Resources& sample : samples) highest = std::max(highest, sample.privateBytes);
    std::cout << "[ figures  ] " << reports << " reports in " << chunks * cyclesPerChunk << " cycles of " << kindCount
              << " kinds: handles " << first.handles << " -> " << last.handles << ", private bytes " << first.privateBytes
              << " -> " << last.privateBytes << " (highest " << highest << "), " << (GetTickCount() - started) / 1000
              << " s\n";
    EXPECT_GT(first.handles, 0u) << "the system reports the monitor's handles";
    EXPECT_LE(last.handles, first.handles + 5) << "a handle per few thousand reports would be a leak";
    EXPECT_LE(last.privateBytes, first.privateBytes + 2 * 1024 * 1024);
    expectAWorkingScan(monitor);
}

TEST(Stress, ThousandCharacterPortsPrintersNamesAndPathsAreCutNeverOverrun) {
    MonitorHarness monitor("st04", kDevice);
    const std::string longName(1000, 'n');
    const std::string longPath = "C:\\" + std::string(1000, 'p') + "\\app.exe";
    monitor.setAppList(
        appListText(appEntryText(longName, longPath, std::string(1000, 'T'), false, std::string(1000, 'S'))));
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=0\n");
    startAndWait(monitor);

    // A port longer than any buffer can't be looked up again by its name: that device is left
    // alone. A model of that length doesn't fit either: the device is served as a printer
    // without a name.
    const std::string port(1000, 'U'), model(1000, 'M');
    ASSERT_TRUE(contains(monitor.command("arrive port=" + port + " hids=1"), "ok added"));
    ASSERT_TRUE(contains(monitor.command("arrive port=USB002 model=" + model + " hids=1"), "ok added"));
    ASSERT_TRUE(monitor.waitForJournal([&](const std::string& j) { return countLines(j, "DcsRegisterForReportsHid") >= 2; }))
        << "the long-named printer is registered";
    EXPECT_EQ("ok not registered", monitor.command("report " + port + " 0 01 00 13 00 00 00 01 03"));
    EXPECT_TRUE(monitor.running());
    const std::string reports[] = {"01 00 13 00 00 00 01 03", "01 00 00 00 00 00 08 00", "01 00 00 00 00 00 05 01",
                                   "01 00 00 00 00 00 07 00", "01 00 00 00 00 00 09 02", "01 00 00 00 00 00 0A 01",
                                   "01 02 00 00 00 00 99 00"};
    for (const std::string& report : reports) {
        const std::string reply = monitor.command("report USB002 0 " + report);
        EXPECT_TRUE(reply == "ok delivered result=0" || reply == "ok delivered result=13") << report << ": " << reply;
        EXPECT_TRUE(monitor.running()) << report;
    }
    // The job the scan wrote names the long application cut to its field, not beyond.
    EXPECT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.programJournal("lsqx");
    const std::string started = monitor.programJournal("lsqx");
    EXPECT_FALSE(contains(started, std::string(261, 'p'))) << "a path is never longer than its 260 characters";
    EXPECT_TRUE(monitor.waitForPrograms("QuickPrn", 1));
    const std::string printed = monitor.programJournal("QuickPrn");
    EXPECT_TRUE(contains(printed, "/printer=Null Printer")) << printed.substr(0, 400);
    EXPECT_TRUE(contains(monitor.log(), "Send ScanToList"));
    expectAWorkingScan(monitor);
}
