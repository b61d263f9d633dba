// Report to launch: a scan report handed to the monitor's callback, up to the started
// light-scan program, against a bare program doing the system calls of the same work.
//
// The simulator's "report" command answers after the callback returned, so one command's round
// trip is pipe + delivery + callback. The bare program is a minimal listener on a second copy of
// the simulator: its callback creates, writes and closes the same job file and starts the same
// program, nothing else. Both are driven alike and both start a process that competes for the
// machine while the reply travels back, so the two round trips compare like with like. A report
// that asks for nothing ("no button") costs the same pipe and delivery with an empty callback;
// the scan's round trip minus that one, paired round by round, is the callback's own work.
//
// A second bare program is as large as the monitor (its private bytes and system libraries):
// starting a process costs more from a larger parent on some systems, and that part is no
// work of the monitor's code.
//
// With BENCH_PROFILE set, the program instead makes 20 reports of each kind in blocks marked by
// named events "bench-mark ...", for a trace of the system's requests (a Wine server started
// with -d1), and prints the two processes' ids.
#include "AppListText.h"
#include "BareProgram.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace bench;

namespace {
const char kNothing[] = "report USB001 0 01 00 00 00 00 00 00 00";
const char kList[] = "report USB001 0 01 00 00 00 00 00 08 00";
// The panel's third name: the first program of the stored list.
const char kScan[] = "report USB001 0 01 00 33 00 00 00 01 03";

struct ProgramRecord {
    std::string command;
    std::string file;
};

ProgramRecord lastRecord(const std::string& journal) {
    ProgramRecord record;
    const size_t start = journal.rfind("command ");
    if (start == std::string::npos) return record;
    const size_t end = journal.find("\r\n", start);
    record.command = journal.substr(start + 8, end - start - 8);
    const size_t file = journal.find("file ", end);
    if (file != std::string::npos) {
        const size_t sizeEnd = journal.find("\r\n", file);
        const size_t size = std::stoul(journal.substr(file + 5, sizeEnd - file - 5));
        record.file = journal.substr(sizeEnd + 2, size);
    }
    return record;
}

// The bare work: what the monitor must do at least for one scan to an application.
double bareLaunch(const std::string& folder, const std::string& program, const std::string& jobBytes, int round) {
    const double start = nowMs();
    char name[32];
    std::snprintf(name, sizeof(name), "LightScanXML%05d.xml", round % 100000);
    const std::string path = folder + "\\" + name;
    writeJobFile(path, jobBytes);
    startDetached("\"" + program + "\" -x " + path);
    return nowMs() - start;
}

// ---- the bare program: started as "<this program> --bare FOLDER PREFIX PROGRAM JOBFILE" -------
struct Bare {
    std::string temp, program, jobBytes;
    int round = 0;
} g_bare;

LONG WINAPI bareReport(uint32_t, DcsHandle, const uint8_t* report, uint32_t length) {
    if (report == nullptr || length < 8 || report[6] == 0) return 0;
    bareLaunch(g_bare.temp, g_bare.program, g_bare.jobBytes, ++g_bare.round);
    return 0;
}

// As large as the monitor: the system libraries it has loaded (listed one a line in "modules"),
// and private memory written so it is really committed, up to the monitor's private bytes.
void growTo(const std::string& folder, size_t sizeBytes) {
    const std::string modules = readFile(folder + "\\modules");
    for (size_t at = 0; at < modules.size();) {
        const size_t end = modules.find('\n', at);
        const std::string name = modules.substr(at, end - at);
        if (!name.empty()) LoadLibraryA(name.c_str());
        at = end == std::string::npos ? modules.size() : end + 1;
    }
    // In steps, as this process's own figure is the one to match.
    constexpr size_t kStep = 256 * 1024;
    while (processFigures(GetCurrentProcess()).privateBytes + kStep / 2 < sizeBytes) {
        void* block = VirtualAlloc(nullptr, kStep, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (block == nullptr) break;
        std::memset(block, 1, kStep);
    }
}

int bareMain(const std::string& folder, const std::string& prefix, const std::string& program,
             const std::string& jobFile, size_t sizeBytes) {
    g_bare.temp = folder + "\\temp";
    g_bare.program = program;
    g_bare.jobBytes = readFile(jobFile);
    BareListener listener;
    if (!listener.open(folder, prefix, bareReport)) return 3;
    // Grown last, once the simulator's threads are there too.
    if (sizeBytes > 0) growTo(folder, sizeBytes);
    serveUntilStopped(folder, false);
    return 0;
}

// The bare program, started at once and ready; `sizeBytes` and `modules` make it as large as
// the monitor.
class LaunchBare : public BareProgram {
public:
    LaunchBare(const std::string& prefix, const std::string& program, const std::string& jobBytes, size_t sizeBytes = 0,
               const std::string& modules = std::string())
        : BareProgram(prefix) {
        writeFile(file("modules"), modules);
        writeFile(file("job"), jobBytes);
        if (start("\"" + program + "\" \"" + file("job") + "\" " + std::to_string(sizeBytes))) waitUntilReady();
    }
};

void removeJobs(const std::string& folder) {
    for (const std::string& path : filesStartingWith(folder, "LightScanXML")) DeleteFileA(path.c_str());
}

// Starts the monitor and brings it to its steady state: the list sent to the panel (with its
// deliberate 250 ms pause), the capabilities read and the first programs started.
// `sample` is the last program's record, with the job file the bare programs write too.
bool startSteady(MonitorRig& rig, int& records, ProgramRecord& sample) {
    rig.setAppList(testing_support::appEntryText(L"Viewer", L"C:\\v.exe", L"JPG") +
                   testing_support::appEntryText(L"Paint", L"C:\\p.exe", L"BMP"));
    if (!rig.start() || rig.waitForWindow() == nullptr || !rig.waitForJournal("DcsRegisterForReportsHid", 1)) {
        DWORD code = 0;
        GetExitCodeProcess(rig.process(), &code);
        line("FAILED: the monitor did not start and register (exit " + std::to_string(code) + ")\n" + rig.journal() + rig.log());
        return false;
    }
    if (rig.command(kList).find("ok delivered") != 0) {
        line("FAILED: the list request was not delivered");
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        rig.command(kScan);
        if (!rig.waitForPrograms(++records)) {
            line("FAILED: no light-scan program started");
            return false;
        }
        removeJobs(rig.tempFolder());
    }
    sample = lastRecord(readFile(rig.programJournalPath()));
    if (sample.file.empty()) {
        line("FAILED: the light-scan program got no job file");
        return false;
    }
    return true;
}

void describeSizes(MonitorRig& rig, LaunchBare& bare, LaunchBare& sized, const ProcessFigures& monitorFigures,
                   const ProcessFigures& bareFigures) {
    line("private bytes: monitor " + std::to_string(monitorFigures.privateBytes / 1024) + " KiB, bare program " +
         std::to_string(bareFigures.privateBytes / 1024) + " KiB, sized bare program " +
         std::to_string(processFigures(sized.process()).privateBytes / 1024) + " KiB; modules: monitor " +
         std::to_string(moduleCount(rig.process())) + ", bare " + std::to_string(moduleCount(bare.process())) +
         ", sized bare " + std::to_string(moduleCount(sized.process())));
}

// Marked blocks for a trace of the system's requests (run with WINEDEBUG=+pid,+server).
void profileBlocks(MonitorRig& rig, LaunchBare& bare, int& records) {
    auto block = [&](const char* mark, auto work) {
        CloseHandle(CreateEventA(nullptr, FALSE, FALSE, mark));
        for (int i = 0; i < 20; ++i) work();
    };
    block("bench-mark monitor-scan", [&] {
        rig.command(kScan);
        rig.waitForPrograms(++records);
        removeJobs(rig.tempFolder());
    });
    block("bench-mark monitor-nothing", [&] { rig.command(kNothing); });
    block("bench-mark bare-scan", [&] {
        bare.command(kScan);
        rig.waitForPrograms(++records);
        removeJobs(bare.tempFolder());
    });
    block("bench-mark bare-nothing", [&] { bare.command(kNothing); });
    CloseHandle(CreateEventA(nullptr, FALSE, FALSE, "bench-mark end"));
    line("monitor pid " + std::to_string(GetProcessId(rig.process())) + ", bare pid " +
         std::to_string(GetProcessId(bare.process())));
}

// Round trips of the seven kinds, and the callbacks' own work paired round by round.
struct LaunchSamples {
    std::vector<double> rtt[7];
    std::vector<double> ownMonitor, ownBare, ownSized;
    // Page faults of the monitor's and the bare program's processes over their scans and
    // no-button reports, the first round left out as warm-up.
    long long monitorFaults = 0, bareFaults = 0;
    int countedRounds = 0;
    bool faultsKnown = true;
};

// What a round's kinds share: the three targets, the program all of them start, its job file.
struct LaunchRound {
    MonitorRig& rig;
    LaunchBare& bare;
    LaunchBare& sized;
    // One connection each for every report: a connection of its own would start a thread in
    // the simulator, inside the process measured, each time.
    PipeClient& rigPipe;
    PipeClient& barePipe;
    PipeClient& sizedPipe;
    const std::string& program;
    const std::string& jobBytes;
    int& records;
    PageFaults monitorFaults, bareFaults;
};

// One kind of one round: kinds 0-5 are a no-button then a scan report to the monitor, the bare
// program and the sized bare program in turn; kind 6 the bare calls made right here (no pipe,
// no competing start-up: the system calls alone). False when a report was not delivered or a
// program did not start.
bool launchStep(LaunchRound& r, int kind, int round, LaunchSamples& s) {
    bool ok = true;
    if (kind < 6) {
        const bool scan = kind % 2 == 1;
        const std::function<std::string(const std::string&)> targets[] = {
            [&](const std::string& report) { return r.rigPipe.call(report); },
            [&](const std::string& report) { return r.barePipe.call(report); },
            [&](const std::string& report) { return r.sizedPipe.call(report); },
        };
        const PageFaults* counted = kind < 2 ? &r.monitorFaults : kind < 4 ? &r.bareFaults : nullptr;
        const long long before = counted != nullptr ? counted->count() : -1;
        const double start = nowMs();
        ok = targets[kind / 2](scan ? kScan : kNothing) == "ok delivered result=0";
        s.rtt[kind].push_back(nowMs() - start);
        if (scan) ok = r.rig.waitForPrograms(++r.records) && ok;
        if (counted != nullptr && round > 0) {
            const long long after = counted->count();
            if (before < 0 || after < before) s.faultsKnown = false;
            (kind < 2 ? s.monitorFaults : s.bareFaults) += after - before;
        }
    } else {
        s.rtt[6].push_back(bareLaunch(r.bare.tempFolder(), r.program, r.jobBytes, 90000 + round));
        ok = r.rig.waitForPrograms(++r.records);
    }
    // The next step starts with no program running and the job names free again.
    removeJobs(r.rig.tempFolder());
    removeJobs(r.bare.tempFolder());
    removeJobs(r.sized.tempFolder());
    return ok;
}

bool measureLaunch(LaunchRound& r, int rounds, LaunchSamples& s) {
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        // The order turns each round, so no kind always follows the same one.
        for (int step = 0; step < 7; ++step) ok = launchStep(r, (round + step) % 7, round, s) && ok;
        s.ownMonitor.push_back(s.rtt[1].back() - s.rtt[0].back());
        s.ownBare.push_back(s.rtt[3].back() - s.rtt[2].back());
        s.ownSized.push_back(s.rtt[5].back() - s.rtt[4].back());
        if (round > 0) ++s.countedRounds;
    }
    return ok;
}

void reportLaunch(const LaunchSamples& s, MonitorRig& rig, const ProgramRecord& sample, bool logging) {
    const ProgramRecord last = lastRecord(readFile(rig.programJournalPath()));
    line("job file " + std::to_string(sample.file.size()) + " bytes; command " + last.command);
    line("monitor, no-button round trip:           " + describe(figuresOf(s.rtt[0])));
    line("monitor, scan round trip:                " + describe(figuresOf(s.rtt[1])));
    line("bare program, no-button round trip:      " + describe(figuresOf(s.rtt[2])));
    line("bare program, scan round trip:           " + describe(figuresOf(s.rtt[3])));
    line("sized bare program, no-button round trip:" + describe(figuresOf(s.rtt[4])));
    line("sized bare program, scan round trip:     " + describe(figuresOf(s.rtt[5])));
    line("monitor callback (scan - no-button):     " + describe(figuresOf(s.ownMonitor)));
    line("bare callback (scan - no-button):        " + describe(figuresOf(s.ownBare)));
    line("sized bare callback (scan - no-button):  " + describe(figuresOf(s.ownSized)));
    line("bare calls alone, in this program:       " + describe(figuresOf(s.rtt[6])));
    const bool counted = s.faultsKnown && s.countedRounds > 0;
    const double monitorFaults = counted ? static_cast<double>(s.monitorFaults) / s.countedRounds : -1;
    const double bareFaults = counted ? static_cast<double>(s.bareFaults) / s.countedRounds : -1;
    line("page faults a scan and a no-button report: monitor " + faultText(monitorFaults) + ", bare program " +
         faultText(bareFaults));
    goal("P1", figuresOf(s.ownMonitor).median / figuresOf(s.ownBare).median, 1.15,
         std::string("monitor / bare callback, report to program started, logging ") + (logging ? "on" : "off"));
    faultGoal("P1", monitorFaults, bareFaults, forkSlack(bareFaults),
              std::string("page faults a scan and a no-button report, logging ") + (logging ? "on" : "off"));
    line("(whole round trips, monitor / bare: " + number(figuresOf(s.rtt[1]).median / figuresOf(s.rtt[3]).median, 2) +
         "; monitor / sized bare callback: " + number(figuresOf(s.ownMonitor).median / figuresOf(s.ownSized).median, 2) +
         ")");
}

bool runLaunch(bool logging, int rounds, const char* prefix) {
    heading(std::string("P1 report to launch, logging ") + (logging ? "on (every level)" : "off (the default)") + ", " +
            std::to_string(rounds) + " rounds");
    MonitorRig rig(prefix, "OemInkjet", BareProgram::kScenario, "enumretry=20",
                   logging);
    int records = 0;
    ProgramRecord sample;
    if (!startSteady(rig, records, sample)) return false;
    const std::string program = rig.file(std::string(prefix) + "lsqx.exe");
    std::string barePrefix = prefix;
    barePrefix[2] = 'b';
    LaunchBare bareProgram(barePrefix, program, sample.file);
    // A second bare program as large as the monitor: its private bytes and system libraries.
    const ProcessFigures monitorFigures = processFigures(rig.process());
    const ProcessFigures bareFigures = processFigures(bareProgram.process());
    barePrefix[2] = 'm';
    LaunchBare sizedProgram(barePrefix, program, sample.file, monitorFigures.privateBytes, systemModules(rig.process()));
    if (!bareProgram.ready() || !sizedProgram.ready()) {
        line("FAILED: the bare program did not start");
        return false;
    }
    describeSizes(rig, bareProgram, sizedProgram, monitorFigures, bareFigures);
    if (std::getenv("BENCH_PROFILE") != nullptr) {
        profileBlocks(rig, bareProgram, records);
        return true;
    }
    PipeClient rigPipe(prefix), barePipe(bareProgram.prefix()), sizedPipe(sizedProgram.prefix());
    LaunchRound round{rig, bareProgram, sizedProgram, rigPipe, barePipe, sizedPipe, program, sample.file, records,
                      PageFaults::of(rig.process()), PageFaults::of(bareProgram.process())};
    LaunchSamples samples;
    if (!measureLaunch(round, rounds, samples)) {
        line("FAILED: a report was not delivered or a program did not start");
        return false;
    }
    reportLaunch(samples, rig, sample, logging);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--bare") == 0) {
        return bareMain(argv[2], argv[3], argv[4], argv[5], static_cast<size_t>(std::strtoul(argv[6], nullptr, 10)));
    }
    const bool quick = shortForm(argc, argv);
    bool ok = runLaunch(false, quick ? 6 : 200, "wbl1");
    ok = runLaunch(true, quick ? 3 : 100, "wbl2") && ok;
    return ok ? 0 : 1;
}
