// Runs the real monitor on Wine from a folder of its own, under a product prefix of its own,
// beside copies of the stand-ins: tests in parallel never share a mutex, window, pipe or log.
#pragma once

#include "AppListText.h"
#include "TestSupport.h"

#include <windows.h>

#include <string>
#include <vector>

// What the monitor's folder holds besides the monitor and the device stand-ins.
struct HarnessOptions {
    bool photoDock = true;       // PhotoDock.exe present
    bool photoDesk = true;       // photodesk.exe present
    bool appList = true;         // the application-list double as <prefix>appmgr.dll
    bool realAppList = false;    // the real library instead of the double
    std::string subfolder;       // the monitor's folder below the test folder (may hold a space)
    std::string workingFolder;   // the monitor's current folder; empty: its own folder
    std::string pathFront;       // a folder put first on the monitor's PATH
    std::string temporary;       // the monitor's TMP and TEMP; empty: a folder of its own
};

class MonitorHarness {
public:
    // `prefix` must be 4 characters and unique among the tests; `scenario` is the simulator's
    // device list; `timings` goes to PANELMON_TIMINGS.
    MonitorHarness(const std::string& prefix, const std::string& scenario,
                   const std::string& timings = "poll=300,reenum=100,enumretry=20",
                   const HarnessOptions& options = HarnessOptions());
    ~MonitorHarness();
    MonitorHarness(const MonitorHarness&) = delete;
    MonitorHarness& operator=(const MonitorHarness&) = delete;

    // Starts the monitor with a command line; false when the process could not be created.
    bool start(const std::string& arguments = "");
    // Runs the monitor to its end with a command line (e.g. "-u"); its exit code or -1.
    int runToEnd(const std::string& arguments, DWORD timeoutMs = 30000);
    // Waits for the started monitor's hidden window.
    HWND waitForWindow(DWORD timeoutMs = 20000);
    // Waits for the started monitor to end; its exit code or -1.
    int waitForExit(DWORD timeoutMs = 20000);
    bool running() const;

    // One command to the simulator in the monitor; its reply line, or "" when unreachable.
    std::string command(const std::string& line);
    // Polls until `predicate(journal())` holds.
    template <typename Predicate>
    bool waitForJournal(Predicate predicate, DWORD timeoutMs = 15000) {
        for (DWORD waited = 0;; waited += 50) {
            if (predicate(journal())) return true;
            if (waited >= timeoutMs) return false;
            Sleep(50);
        }
    }
    bool waitForLog(const std::string& text, DWORD timeoutMs = 15000);

    std::string journal() const;
    // The record journal of a started program ("lsqx" for the light-scan program, else
    // "PhotoDock", "photodesk", "QuickPrn"), and a wait for its n-th record.
    std::string programJournal(const std::string& program) const;
    bool waitForPrograms(const std::string& program, int records, DWORD timeoutMs = 15000) const;
    // The document the application-list double hands out, and the capabilities stand-in's lines.
    void setAppList(const std::string& utf8Document);
    void setCapabilities(const std::string& lines);
    // The monitor's temporary folder (TMP and TEMP), ending in a separator.
    std::string tempFolder() const { return temporary_.empty() ? dir_ + "temp\\" : temporary_; }
    // A file of the monitor's folder.
    std::string file(const std::string& name) const { return dir_ + name; }
    std::string log() const;
    std::string instanceName() const;  // the window's title
    std::string folder() const { return dir_.substr(0, dir_.size() - 1); }
    const std::string& prefix() const { return prefix_; }
    std::string exe() const;
    // The registry key named by the configuration stand-in (logger switches live below it).
    const std::string& settingsPath() const { return settingsPath_; }
    void removeFile(const std::string& name);

private:
    HANDLE launch(const std::string& arguments) const;

    std::string prefix_;
    testing_support::TempFolder folder_;
    std::string dir_;  // the monitor's folder, with a trailing separator
    testing_support::TestRegistryKey registry_;
    std::string settingsPath_;
    std::string timings_;
    std::string workingFolder_;
    std::string pathFront_;
    std::string temporary_;
    std::string logPath_;
    HANDLE process_ = nullptr;
};

using testing_support::countLines;
// The simulator journal's lines of one entry point that also contain `part`.
int calls(const std::string& journal, const std::string& entry, const std::string& part = " -> 0");

// Waits for the started monitor's window and for a successful call of `entry` in the journal:
// with its registration done, the monitor takes panel reports.
void waitUntilReady(MonitorHarness& monitor, const std::string& entry = "DcsRegisterForReportsHid");
void startAndWait(MonitorHarness& monitor, const std::string& entry = "DcsRegisterForReportsHid");

struct ProgramRecord {
    std::string command;
    bool hasFile = false;
    std::string file;
};
// A recorder's journal: "command <line>", then "file <n>" with n bytes or "nofile", then "end".
std::vector<ProgramRecord> records(const std::string& journal);
