// Idle: the monitor with every interface ready and its product intervals asks the device
// library nothing and uses next to no processor time; its handles and private bytes stay flat
// over many reports.
#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

using namespace bench;

namespace {
// Reports that do their work without starting a program: nothing pressed, the duplex button on
// and off, the end of a session, a fax and a scan with no destination (both read the list and
// the capabilities and log an error line).
const char* const kReports[] = {
    "report USB001 0 01 00 00 00 00 00 00 00", "report USB001 0 01 00 00 00 00 00 10 01",
    "report USB001 0 01 00 00 00 00 00 10 00", "report USB001 0 01 00 00 00 00 00 99 00",
    "report USB001 0 01 00 33 00 00 00 04 07", "report USB001 0 01 00 33 00 00 00 01 09",
};

std::string figuresText(const ProcessFigures& f) {
    return std::to_string(f.handles) + " handles, " + number(static_cast<double>(f.privateBytes) / 1024.0, 0) +
           " KiB private";
}

int countJournalLines(const std::string& text) { return countLines(text, "\n"); }

// Processor time and device library calls over `idleMs` of quiet; the figures at its end.
ProcessFigures measureIdle(MonitorRig& rig, DWORD idleMs) {
    Sleep(500);  // start-up settles
    const std::string before = rig.journal();
    const ProcessFigures start = processFigures(rig.process());
    const PageFaults faults = PageFaults::of(rig.process());
    const long long faultsBefore = faults.count();
    Sleep(idleMs);
    const double idleFaults = faultsPer(faultsBefore, faults.count(), idleMs / 1000.0);
    line("page faults while idle: " + faultText(idleFaults) + " a second");
    faultGoal("P2", idleFaults, 0, 0.1, "page faults a second while idle");
    const ProcessFigures idle = processFigures(rig.process());
    const std::string after = rig.journal();
    const std::string during = after.substr(before.size());
    const double cpu = idle.cpuMs - start.cpuMs;
    line("processor time while idle: " + number(cpu, 1) + " ms over " + std::to_string(idleMs / 1000) + " s (" +
         number(cpu * 100.0 / idleMs, 3) + " %)");
    const int calls = countJournalLines(during);
    line("device library calls while idle: " + std::to_string(calls));
    if (calls > 0) line(during);
    goal("P2", calls, 0, "device library calls while idle");
    if (idleMs < 60000) note("the short form idles shorter than the 60 s poll interval");
    return idle;
}

// Sends the reports in turn, counting on from the last call.
class ReportSender {
public:
    explicit ReportSender(const std::string& prefix) : pipe_(prefix) {}
    bool send(int count) {
        for (int i = 0; i < count; ++i, ++sent_) {
            if (pipe_.call(kReports[sent_ % (sizeof(kReports) / sizeof(kReports[0]))]).find("ok delivered") != 0) {
                return false;
            }
        }
        return true;
    }
    PipeClient& pipe() { return pipe_; }

private:
    PipeClient pipe_;
    int sent_ = 0;
};

// Which kind of report the growth comes with: 50 of each, and the handles they leave.
void growthByKind(MonitorRig& rig, PipeClient& pipe) {
    for (const char* report : kReports) {
        const ProcessFigures kindBefore = processFigures(rig.process());
        const std::vector<unsigned> valuesBefore = handleValues(GetProcessId(rig.process()));
        for (int i = 0; i < 50; ++i) pipe.call(report);
        const ProcessFigures kindAfter = processFigures(rig.process());
        const std::vector<unsigned> valuesAfter = handleValues(GetProcessId(rig.process()));
        std::map<std::string, int> grown;
        for (unsigned value : valuesAfter) {
            if (std::find(valuesBefore.begin(), valuesBefore.end(), value) == valuesBefore.end()) {
                ++grown[describeHandle(rig.process(), value)];
            }
        }
        line("  50 x " + std::string(report + 16) + ": " +
             std::to_string(static_cast<long>(kindAfter.handles) - static_cast<long>(kindBefore.handles)) + " handles, " +
             number((static_cast<double>(kindAfter.privateBytes) - static_cast<double>(kindBefore.privateBytes)) / 1024.0, 0) +
             " KiB private");
        for (const auto& [what, count] : grown) line("    new: " + std::to_string(count) + " x " + what);
    }
}

// The same opens the monitor makes to look for an OCR program, made bare here: a missing key
// below the classes root, with and without a registry view.
void bareMissingKeyOpens() {
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(0)}) {
        const size_t handlesBefore = handleValues(GetCurrentProcessId()).size();
        for (int i = 0; i < 50; ++i) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "Applications\\sprint.exe", 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
                RegCloseKey(key);
            }
        }
        const size_t handlesAfter = handleValues(GetCurrentProcessId()).size();
        line(std::string("  bare: 50 opens of a missing classes-root key") + (view != 0 ? " with the 64-bit view: " : ": ") +
             std::to_string(static_cast<long>(handlesAfter) - static_cast<long>(handlesBefore)) + " handles grown");
    }
}
}  // namespace

int main(int argc, char** argv) {
    const bool quick = shortForm(argc, argv);
    const DWORD idleMs = quick ? 1000 : 60000;
    const int warmup = quick ? 30 : 300;
    const int reports = quick ? 200 : 10000;

    heading("P2 idle for " + std::to_string(idleMs / 1000) + " s, then " + std::to_string(reports) +
            " reports (product intervals, logging off)");
    MonitorRig rig("wbi1", "OemInkjet", "device port=USB001 transport=USB1 model=KV-1 hids=2\n", "", false);
    if (!rig.start() || rig.waitForWindow() == nullptr || !rig.waitForJournal("DcsRegisterForNotificationsHid", 2)) {
        line("FAILED: the monitor did not start and register");
        return 1;
    }
    const ProcessFigures idle = measureIdle(rig, idleMs);
    ReportSender sender(rig.prefix());
    if (!sender.send(warmup)) {
        line("FAILED: a report was not delivered");
        return 1;
    }
    const ProcessFigures warm = processFigures(rig.process());
    const PageFaults faults = PageFaults::of(rig.process());
    const long long faultsBefore = faults.count();
    const double began = nowMs();
    if (!sender.send(reports)) {
        line("FAILED: a report was not delivered");
        return 1;
    }
    const double took = nowMs() - began;
    // None of these reports starts a program: nothing forks the process, and a report that
    // allocates nothing the heap must get from the system again faults nothing.
    const double reportFaults = faultsPer(faultsBefore, faults.count(), reports);
    line("page faults over the reports: " + faultText(reportFaults) + " a report");
    faultGoal("P2", reportFaults, 0, 0.05, "page faults a report once warm");
    const ProcessFigures end = processFigures(rig.process());
    line("idle, before any report:        " + figuresText(idle));
    line("after " + std::to_string(warmup) + " warm-up reports:      " + figuresText(warm));
    line("after " + std::to_string(reports) + " more reports:     " + figuresText(end) + " (" +
         number(reports * 1000.0 / took, 0) + " reports/s, " + number(end.cpuMs - warm.cpuMs, 0) + " ms processor)");
    const long handleGrowth = static_cast<long>(end.handles) - static_cast<long>(warm.handles);
    const double byteGrowth = static_cast<double>(end.privateBytes) - static_cast<double>(warm.privateBytes);
    line("growth over the " + std::to_string(reports) + " reports: " + std::to_string(handleGrowth) + " handles, " +
         number(byteGrowth / 1024.0, 0) + " KiB private (" + number(byteGrowth / reports, 1) + " bytes a report)");
    goal("P2", static_cast<double>(handleGrowth), 0, "handle growth");
    growthByKind(rig, sender.pipe());
    bareMissingKeyOpens();
    // Flat: the heap may round up by a few pages, but grows with no count of reports.
    goal("P2", byteGrowth / 1024.0, 64, "KiB private bytes grown over the reports");
    return 0;
}
