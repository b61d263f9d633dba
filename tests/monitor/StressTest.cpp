// The real monitor under load: storms of random and mutated reports from the simulator, many
// library threads at once while devices come and go, and a long soak with its resources watched.
#include "MonitorHarness.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>

using namespace testing_support;

namespace {
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* const kDevice = "device port=USB001 transport=USB1 model=KV-1 hids=1\n";
const std::string kList = "<APPLIST>\r\n     <APP>\r\n          <FRIENDLY_NAME>Viewer</FRIENDLY_NAME>\r\n"
                          "          <PATH>C:\\v.exe</PATH>\r\n          <DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n"
                          "          <SUPPORTED_FILE_TYPES>JPG</SUPPORTED_FILE_TYPES>\r\n     </APP>\r\n</APPLIST>";

// Reports of every kind the panel sends, as storm bases (hex without blanks).
const char* const kScanToViewer = "0100130000000103";  // gray scan, application index 3: the stored entry
const char* const kScanNowhere = "0100330000000109";   // color scan to an index nobody has
const char* const kFax = "0100000000000400";
const char* const kInk = "0100000000000600";
const char* const kColorCopy = "0100000000000501";
const char* const kGrayCopy = "0100000000000202";
const char* const kCard = "0100000000000700";
const char* const kAutoPrint = "0100000000000902";
const char* const kDuplex = "0100000000000A01";
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

void startAndWait(MonitorHarness& monitor) {
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return contains(j, "DcsRegisterForReportsHid"); }))
        << monitor.journal();
}

// A scan sent the ordinary way reaches the light-scan program with its job file.
void expectAWorkingScan(MonitorHarness& monitor) {
    restoreLightScan(monitor);
    const int before = countLines(monitor.programJournal("lsqx"), "command ");
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 13 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForPrograms("lsqx", before + 1)) << monitor.programJournal("lsqx");
    EXPECT_TRUE(monitor.running());
}

[[maybe_unused]] std::vector<std::string> filesIn(const std::string& folder, const std::string& pattern) {
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
