// Footprint (P5): the monitor's private bytes and loaded modules after start-up and after a mixed
// set of reports (scan, copy, card, list request, duplex), beside a bare program that makes the
// same device-library calls and writes the same files from a hidden window of its own, and the
// time from process start to the last HID registration of each.
//
// The bare program is this program started as "--bare FOLDER PREFIX": on a copy of the simulator
// it enumerates, opens and registers the interface for reports and notifications, and its report
// callback writes each request's job file and starts its program, holds the scanner for a list
// request, and asks the spooler for the duplex button's printer, as the monitor does.
#include "AppListText.h"
#include "BareProgram.h"

#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace bench;

namespace {
// One report of each kind the monitor serves all day.
const char* const kKindNames[] = {"scan", "copy", "card", "list request", "duplex"};
const char* const kMixedReports[] = {
    "01 00 33 00 00 00 01 03",  // scan to the first program of the list
    "01 00 00 00 00 00 05 02",  // colour copy of 2
    "01 00 00 00 00 00 07 00",  // memory card
    "01 00 00 00 00 00 08 00",  // the panel asks for the list
    "01 00 00 00 00 00 10 01",  // duplex on
};

// ---- the bare program ------------------------------------------------------------------------
struct Bare {
    std::string folder, prefix;
    BareListener listener;
    int round = 0;
} g_bare;

std::string writeJob(const std::string& name, const std::string& bytes) {
    const std::string path = g_bare.folder + "\\temp\\" + name;
    writeJobFile(path, bytes, CREATE_ALWAYS);
    return path;
}

void lightScan(const std::string& bytes) {
    char name[32];
    std::snprintf(name, sizeof(name), "LightScanXML%d.xml", ++g_bare.round);
    const std::string path = writeJob(name, bytes);
    startDetached("\"" + g_bare.folder + "\\" + g_bare.prefix + "lsqx.exe\" -x " + path);
}

void holdScanner() {
    const HMODULE library = g_bare.listener.library();
    const uint32_t client = g_bare.listener.client();
    DcsHandle scanner = 0;
    exportOf<DcsEnumSpecificFn>(library, "DcsEnumSpecificScanner")(client, "USB001", &scanner);
    if (exportOf<DcsHandleFn>(library, "DcsOpenScanner")(client, scanner) == 0) {
        exportOf<DcsHandleFn>(library, "DcsCloseScanner")(client, scanner);
    }
}

void askSpooler() {
    static HMODULE spooler = LoadLibraryA("winspool.drv");
    auto open = exportOf<decltype(&::OpenPrinterA)>(spooler, "OpenPrinterA");
    auto close = exportOf<decltype(&::ClosePrinter)>(spooler, "ClosePrinter");
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA use = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (open != nullptr && open(const_cast<char*>("KV-1"), &printer, &use) && close != nullptr) close(printer);
}

LONG WINAPI bareNotification(DcsHandle, uint32_t, uint32_t) { return 0; }

LONG WINAPI bareReport(uint32_t, DcsHandle, const uint8_t* report, uint32_t length) {
    if (report == nullptr || length < 8) return 0;
    switch (report[6]) {
        case 1: case 2: case 3:
            lightScan("<SCANJOB><DEST_TYPE>application</DEST_TYPE><PORT_NAME>USB001</PORT_NAME></SCANJOB>");
            break;
        case 5: case 10:
            lightScan("<SCANJOB><DEST_TYPE>printer</DEST_TYPE><PORT_NAME>USB001</PORT_NAME></SCANJOB>");
            break;
        case 7:
            startDetached("PhotoDock.exe -f " +
                          writeJob("LocalCardReader.kvr", "<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>"
                                                          "\r\n</hid_report>"));
            break;
        case 8:
            holdScanner();
            break;
        case 16:
            askSpooler();
            break;
        default:
            break;
    }
    return 0;
}

// `ordered`: the monitor's order of start-up, its window class and the instance check before the
// enumeration and its window before the open, so the first calls into the windowing system come
// before the devices too.
int bareMain(const std::string& folder, const std::string& prefix, bool ordered) {
    g_bare.folder = folder;
    g_bare.prefix = prefix;
    if (ordered) {
        registerBareClass();
        CloseHandle(CreateMutexA(nullptr, TRUE, ("wbfp-" + prefix).c_str()));
        FindWindowA(nullptr, "bare_program");
    }
    const auto window = [] { bareWindow(); };
    if (!g_bare.listener.open(folder, prefix, bareReport, bareNotification, ordered ? window : std::function<void()>())) {
        return 3;
    }
    serveUntilStopped(folder, true);
    return 0;
}

// ---- the measurement -------------------------------------------------------------------------
constexpr int kKinds = sizeof(kMixedReports) / sizeof(kMixedReports[0]);

struct Footprint {
    double registeredMs = -1;
    ProcessFigures started, served;
    int startedModules = 0, servedModules = 0;
    std::vector<std::string> modules;
    double faultsPerReport[kKinds] = {-1, -1, -1, -1, -1};  // after warm-up, by kind
};

// Page faults a report of each kind once the process is warm: `perKind` reports of one kind,
// counted from the moment the reports before them have settled.
template <typename Send>
void faultsByKind(HANDLE process, int perKind, Send send, Footprint& out) {
    const PageFaults faults = PageFaults::of(process);
    if (!faults.known()) return;
    for (int kind = 0; kind < kKinds; ++kind) {
        const std::string report = std::string("report USB001 0 ") + kMixedReports[kind];
        send(report);  // this kind's own first use
        Sleep(300);
        const long long before = faults.count();
        for (int i = 0; i < perKind; ++i) send(report);
        Sleep(300);  // the started programs end, the list request's pause passes
        out.faultsPerReport[kind] = faultsPer(before, faults.count(), perKind);
    }
}

// Milliseconds from `startedAt` until the journal shows the notification registration.
template <typename Journal>
double untilRegistered(double startedAt, Journal journal) {
    for (int i = 0; i < 20000; ++i) {
        if (journal().find("DcsRegisterForNotificationsHid client") != std::string::npos) return nowMs() - startedAt;
        Sleep(1);
    }
    return -1;
}

// ---- start-up: several starts of each, and one split by step ------------------------------

// The stand-ins' time lines of one traced start ("<ms since the process started> <what>"),
// merged in time order, each with its step from the one before.
std::string startSplit(const std::vector<std::string>& timeFiles) {
    std::vector<std::pair<double, std::string>> steps;
    for (const std::string& path : timeFiles) {
        const std::string text = readFile(path);
        for (size_t at = 0; at < text.size();) {
            const size_t end = std::min(text.find("\r\n", at), text.size());
            const std::string row = text.substr(at, end - at);
            at = end + 2;
            const size_t space = row.find(' ');
            if (space == std::string::npos) continue;
            steps.emplace_back(std::atof(row.c_str()), row.substr(space + 1));
        }
    }
    std::sort(steps.begin(), steps.end());
    std::string split;
    double before = 0;
    for (const auto& [at, what] : steps) {
        // The registration is the last step that counts.
        split += "    " + number(at, 1) + " ms (+" + number(at - before, 1) + ") " + what.substr(0, 70) + "\n";
        before = at;
        if (what.find("DcsRegisterForNotificationsHid") != std::string::npos) break;
    }
    return split;
}

// STANDIN_TIMES for the processes started while it lives.
class TracedStart {
public:
    TracedStart() { SetEnvironmentVariableA("STANDIN_TIMES", "1"); }
    ~TracedStart() { SetEnvironmentVariableA("STANDIN_TIMES", nullptr); }
};

// Milliseconds from process start to the last registration, or -1; with `split`, the step
// lines of the stand-ins' times.
double startMonitorOnce(const std::string& prefix, std::string* split) {
    MonitorRig rig(prefix, "OemInkjet", BareProgram::kScenario, "poll=60000,reenum=10000,enumretry=5000", false);
    rig.setAppList(testing_support::appEntryText(L"Viewer", L"C:\\v.exe", L"JPG"));
    std::unique_ptr<TracedStart> traced(split != nullptr ? new TracedStart : nullptr);
    const double startedAt = nowMs();
    if (!rig.start()) return -1;
    traced.reset();
    const double ms = untilRegistered(startedAt, [&] { return rig.journal(); });
    if (split != nullptr) {
        *split = startSplit({rig.file(prefix + "cnf.times"), rig.file(prefix + "scx.times"), rig.file(prefix + "devlink.times")});
    }
    return ms;
}

double startBareOnce(const std::string& prefix, std::string* split, bool ordered) {
    BareProgram bare(prefix);
    std::unique_ptr<TracedStart> traced(split != nullptr ? new TracedStart : nullptr);
    const double startedAt = nowMs();
    if (!bare.start(ordered ? "ordered" : "")) return -1;
    traced.reset();
    const double ms = untilRegistered(startedAt, [&] { return bare.journal(); });
    if (split != nullptr) *split = startSplit({bare.file(prefix + "devlink.times")});
    bare.waitUntilReady();
    return ms;
}

// `starts` starts of each, taking turns; the medians, then one traced start of each, split.
bool measureStartUp(int starts) {
    std::vector<double> monitor, bare, ordered;
    for (int i = 0; i < starts; ++i) {
        // Each start after the last one's process has wound down.
        Sleep(300);
        monitor.push_back(startMonitorOnce("wbs" + std::to_string(i % 10), nullptr));
        Sleep(300);
        bare.push_back(startBareOnce("wbt" + std::to_string(i % 10), nullptr, false));
        Sleep(300);
        ordered.push_back(startBareOnce("wbo" + std::to_string(i % 10), nullptr, true));
        if (monitor.back() < 0 || bare.back() < 0 || ordered.back() < 0) {
            line("FAILED: a start did not reach its registration");
            return false;
        }
    }
    std::string monitorSplit, bareSplit, orderedSplit;
    Sleep(300);
    startMonitorOnce("wbsx", &monitorSplit);
    Sleep(300);
    startBareOnce("wbtx", &bareSplit, false);
    Sleep(300);
    startBareOnce("wbox", &orderedSplit, true);
    const Figures m = figuresOf(monitor), b = figuresOf(bare), o = figuresOf(ordered);
    line("start to the last HID registration: monitor " + describe(m) + ", bare " + describe(b) +
         ", bare in the monitor's order " + describe(o));
    line("one traced start of each, split by the steps the stand-ins saw (ms since the process started):");
    line("  monitor:\n" + monitorSplit + "  bare program:\n" + bareSplit + "  bare program in the monitor's order:\n" +
         orderedSplit);
    note("before the first step: the process's own start-up (system libraries, runtime). The monitor's steps: its");
    note("logger's first configuration read; the scan-session objects; the device library's load, after the resource");
    note("library, the window class and the instance checks (the first call into the windowing system, some 15-30 ms");
    note("on Wine, is most of that gap: the monitor's window exists before any device is heard); the enumeration; the");
    note("window (the gap before the first open) and the registration. The bare program makes its window afterwards;");
    note("in the monitor's order it registers its class and looks for its window before loading the device library and");
    note("makes its window before the open, and pays the windowing system's first calls before its registration too.");
    note("Traced starts pay a time line a step: they are not the figures above.");
    // The monitor's window exists before any device is heard, so the goal is judged against a bare
    // program that keeps that order; the plain one stays printed, to show what the order costs.
    line("monitor / bare program that makes its window after the registration = " + number(m.median / b.median, 2) +
         " (the order's cost, no goal)");
    goal("P5", m.median / o.median, 1.2, "start to the last HID registration, monitor / bare program in the monitor's order");
    return true;
}

template <typename Send>
void sendMixed(int rounds, Send send) {
    for (int round = 0; round < rounds; ++round) {
        for (const char* report : kMixedReports) send(std::string("report USB001 0 ") + report);
    }
    Sleep(500);  // the started programs end, the list request's pause passes
}

// The figures of one process: started at `startedAt`, registered when its journal says so and
// ready when `ready` holds, then fed the mixed reports through `send`.
template <typename Journal, typename Ready, typename Send>
bool measure(HANDLE process, double startedAt, Journal journal, Ready ready, Send send, int rounds, Footprint& out,
             const std::function<void()>& beforeFaults = [] {}) {
    out.registeredMs = untilRegistered(startedAt, journal);
    for (int i = 0; i < 400 && !ready(); ++i) Sleep(10);
    if (out.registeredMs < 0 || !ready()) return false;
    Sleep(500);
    out.started = processFigures(process);
    out.startedModules = moduleCount(process);
    sendMixed(rounds, send);
    out.served = processFigures(process);
    out.servedModules = moduleCount(process);
    out.modules = moduleNames(process);
    beforeFaults();
    faultsByKind(process, rounds * 2, send, out);
    return true;
}

std::wstring hundredEntries() {
    std::wstring list;
    for (int i = 1; i <= 100; ++i) {
        const std::wstring n = std::to_wstring(i);
        list += testing_support::appEntryText(L"Program " + n, L"C:\\Programs\\app" + n + L".exe", L"JPG");
    }
    return list;
}

bool measureMonitor(int rounds, Footprint& out) {
    MonitorRig rig("wbfp", "OemInkjet", BareProgram::kScenario, "poll=60000,reenum=10000,enumretry=5000", false);
    rig.setAppList(testing_support::appEntryText(L"Viewer", L"C:\\v.exe", L"JPG"));
    // One connection for every report: a connection of its own would start a thread in the
    // simulator, inside the process measured, each time.
    PipeClient pipe(rig.prefix());
    const double startedAt = nowMs();
    return rig.start() &&
           measure(rig.process(), startedAt, [&] { return rig.journal(); }, [&] { return rig.waitForWindow() != nullptr; },
                   [&](const std::string& line) { pipe.call(line); }, rounds, out,
                   // A list of the size users keep, read at every list request.
                   [&] { rig.setAppList(hundredEntries()); }) &&
           rig.running();
}

bool measureBare(int rounds, Footprint& out) {
    BareProgram bare("wbfq");
    bare.copyBuilt("lsqx.exe", "wbfqlsqx.exe");
    bare.copyBuilt("PhotoDock.exe", "PhotoDock.exe");
    PipeClient pipe("wbfq");
    const double startedAt = nowMs();
    return bare.start() && measure(bare.process(), startedAt, [&] { return bare.journal(); }, [&] { return bare.ready(); },
                                   [&](const std::string& line) { pipe.call(line); }, rounds, out);
}

// A module's name to compare by: the two programs' own files differ only in their prefix.
std::string comparable(const std::string& name) {
    std::string text = testing_support::lowerAscii(name);
    return text.compare(0, 3, "wbf") == 0 && text.size() > 4 ? "*" + text.substr(4) : text;
}

void report(const Footprint& monitor, const Footprint& bare) {
    const auto kib = [](size_t bytes) { return std::to_string(bytes / 1024) + " KiB"; };
    line("after start-up:     monitor " + kib(monitor.started.privateBytes) + ", " +
         std::to_string(monitor.startedModules) + " modules; bare " + kib(bare.started.privateBytes) + ", " +
         std::to_string(bare.startedModules) + " modules");
    line("after the reports:  monitor " + kib(monitor.served.privateBytes) + ", " +
         std::to_string(monitor.servedModules) + " modules; bare " + kib(bare.served.privateBytes) + ", " +
         std::to_string(bare.servedModules) + " modules");
    std::string extra;
    for (const std::string& name : monitor.modules) {
        const bool shared = std::any_of(bare.modules.begin(), bare.modules.end(),
                                        [&](const std::string& other) { return comparable(other) == comparable(name); });
        if (!shared) extra += " " + name;
    }
    line("modules the monitor has and the bare program has not:" + (extra.empty() ? std::string(" none") : extra));
    goal("P5", static_cast<double>(monitor.served.privateBytes) / static_cast<double>(bare.served.privateBytes), 1.3,
         "monitor / bare program, private bytes after the mixed reports");
    line("page faults a report once warm (monitor / bare program):");
    for (int kind = 0; kind < kKinds; ++kind) {
        line("  " + std::string(kKindNames[kind]) + ": " + faultText(monitor.faultsPerReport[kind]) + " / " +
             faultText(bare.faultsPerReport[kind]));
    }
    for (int kind = 0; kind < kKinds; ++kind) {
        // Scans, copies and cards start a program; list requests and the duplex button don't.
        const bool starts = kind < 3;
        faultGoal("P5", monitor.faultsPerReport[kind], bare.faultsPerReport[kind],
                  starts ? forkSlack(bare.faultsPerReport[kind]) : 0.25,
                  std::string("page faults a ") + kKindNames[kind] + " report");
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--bare") {
        return bareMain(argv[2], argv[3], argc >= 5 && std::string(argv[4]) == "ordered");
    }
    const int rounds = shortForm(argc, argv) ? 2 : 10;
    const int starts = shortForm(argc, argv) ? 2 : 15;
    heading("P5 footprint: start-up, then " + std::to_string(rounds) + " rounds of scan, copy, card, list and duplex");
    Footprint monitor, bare;
    if (!measureMonitor(rounds, monitor)) {
        line("FAILED: the monitor did not start, register and serve the reports");
        return 1;
    }
    if (!measureBare(rounds, bare)) {
        line("FAILED: the bare program did not start and register");
        return 1;
    }
    report(monitor, bare);
    heading("P5 start-up: " + std::to_string(starts) + " starts of each, taking turns");
    return measureStartUp(starts) ? 0 : 1;
}
