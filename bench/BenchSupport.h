// Small helpers shared by the benchmarks: a clock, figures, and the real monitor run from a
// folder of its own beside copies of the stand-ins; folders, keys and processes come from the
// tests' GoogleTest-free support. Only the standard library and Win32, built narrow.
#pragma once

#include "TestSupport.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Folders, keys, files, processes and the simulator's pipe, as the tests have them.
using Folder = testing_support::TempFolder;
using PrivateKey = testing_support::TestRegistryKey;
using testing_support::countLines;
using testing_support::deleteKeyTree;
using testing_support::exportOf;
using testing_support::fileExists;
using testing_support::ownFolder;
using testing_support::ownPath;
using testing_support::pipeCommand;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::startProcess;
using testing_support::writeFile;

// Milliseconds from the performance counter.
double nowMs();

struct Figures {
    size_t count = 0;
    double median = 0, p10 = 0, p90 = 0, mean = 0, min = 0;
};
Figures figuresOf(std::vector<double> samples);
// "12.345 ms (p10 12.000, p90 13.000, n=200)"
std::string describe(const Figures& figures, const char* unit = "ms", int decimals = 3);
std::string number(double value, int decimals = 3);

// The command line asks for the short form.
bool shortForm(int argc, char** argv);
// Prints one goal line and returns whether it was met.
bool goal(const std::string& name, double value, double limit, const std::string& what);
void heading(const std::string& text);
void line(const std::string& text);
void note(const std::string& text);

// The first four letters of this program's file name: the product prefix of the build.
std::string productPrefix();

size_t fileSize(const std::string& path);
// Files of `folder` whose names start with `start`.
std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& start);

void setDword(HKEY root, const std::string& path, const char* name, DWORD value);
void setText(HKEY root, const std::string& path, const char* name, const std::wstring& value);

// One connection to a simulator's pipe kept for many commands, so the simulator starts no
// thread a command in the process it serves; reconnects when the simulator dropped it.
class PipeClient {
public:
    explicit PipeClient(const std::string& prefix) : prefix_(prefix) {}
    ~PipeClient();
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;
    std::string call(const std::string& line);

private:
    bool connect();
    std::string prefix_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::string pending_;
};

// The real monitor under a prefix of its own, in a private folder with copies of the stand-ins
// and the real application-list library, TMP and TEMP pointing into that folder.
class MonitorRig {
public:
    // `prefix`: 4 letters; `brand`: the key below HKLM\Software its first two letters choose for
    // the application list (emptied before and after). `timings` goes to PANELMON_TIMINGS.
    MonitorRig(const std::string& prefix, const std::string& brand, const std::string& scenario,
               const std::string& timings, bool logging);
    ~MonitorRig();
    MonitorRig(const MonitorRig&) = delete;
    MonitorRig& operator=(const MonitorRig&) = delete;

    // Stores the application list the real library hands out (wide text of APP entries).
    void setAppList(const std::wstring& entries);
    bool start();
    HWND waitForWindow(DWORD timeoutMs = 20000);
    // Waits until the simulator's journal holds `count` lines containing `part`.
    bool waitForJournal(const std::string& part, int count, DWORD timeoutMs = 20000);
    bool waitForPrograms(int records, DWORD timeoutMs = 20000);
    void stop();
    bool running() const;

    // One command to the simulator; its reply line, or "" when unreachable.
    std::string command(const std::string& line);

    HANDLE process() const { return process_; }
    HWND window() const { return window_; }
    std::string journal() const { return readFile(file(prefix_ + "devlink.journal")); }
    std::string journalPath() const { return file(prefix_ + "devlink.journal"); }
    std::string programJournalPath() const { return file(prefix_ + "lsqx.journal"); }
    std::string log() const { return readFile(logPath_); }
    std::string file(const std::string& name) const { return folder_.file(name); }
    std::string tempFolder() const { return folder_.file("temp"); }
    std::string exe() const { return file(prefix_ + "panelmon.exe"); }
    const std::string& prefix() const { return prefix_; }

private:
    std::string prefix_;
    Folder folder_;
    PrivateKey settings_;
    std::string brandKey_;
    std::string timings_;
    std::string logPath_;
    HANDLE process_ = nullptr;
    HWND window_ = nullptr;
};

// Minor page faults of a process as Linux counts them for the Wine process that runs it (field 10
// of /proc/<pid>/stat): the count a time ratio hides, whatever a fault costs on the machine.
// Inside Wine the system's own page-fault counter reads 0. Unknown (-1) off Wine.
class PageFaults {
public:
    // This process.
    static PageFaults self();
    // The process `process` runs: the Linux process whose program is the same file.
    static PageFaults of(HANDLE process);
    long long count() const;
    bool known() const { return !statPath_.empty(); }

private:
    std::string statPath_;
};

// Faults per operation over `operations` operations between two counts; "?" text when unknown.
double faultsPer(long long before, long long after, double operations);
std::string faultText(double perOperation);
// A goal line on faults per operation: the product's against the bare program's (or another
// reference), with `slack` faults per operation allowed above it. Met when unknown (nothing to
// judge by), and says so.
bool faultGoal(const std::string& name, double product, double bare, double slack, const std::string& what);
// The slack for work that starts a program. Wine starts a process by forking the parent: every
// page the parent writes afterwards faults once, so a start costs the parent about one fault a
// page its next work writes. The monitor's report writes some pages more than a bare callback
// (its device record, destination, job text, logger switches): a fifth more is allowed.
double forkSlack(double bare);

// Process figures read from outside.
struct ProcessFigures {
    double cpuMs = 0;  // user + kernel
    DWORD handles = 0;
    size_t privateBytes = 0;
};
ProcessFigures processFigures(HANDLE process);
// The file names of the modules a process has loaded, in load order; with `systemOnly`, only
// those of the system folder.
std::vector<std::string> moduleNames(HANDLE process, bool systemOnly = false);
// The system libraries a process has loaded, one file name a line.
std::string systemModules(HANDLE process);
int moduleCount(HANDLE process);
// The values of the handles a process holds, and one handle's kind and name ("Key \\REGISTRY\\...").
std::vector<unsigned> handleValues(DWORD processId);
std::string describeHandle(HANDLE process, unsigned value);

}  // namespace bench
