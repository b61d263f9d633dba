// Small helpers shared by the benchmarks: a clock, figures, private folders and registry keys,
// child processes, and the real monitor run from a folder of its own beside copies of the
// stand-ins. Only the standard library and Win32; narrow system calls throughout, so a wide
// benchmark can use it too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

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

std::string ownPath();
std::string ownFolder();  // ends with "\"
// The first four letters of this program's file name: the product prefix of the build.
std::string productPrefix();

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
size_t fileSize(const std::string& path);
// Files of `folder` whose names start with `start`.
std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& start);

// A unique, empty folder in the temporary directory, removed with its contents afterwards.
class Folder {
public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const std::string& path() const { return path_; }  // no trailing separator
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool deleteKeyTree(HKEY root, const std::string& path);
void setDword(HKEY root, const std::string& path, const char* name, DWORD value);
void setText(HKEY root, const std::string& path, const char* name, const std::wstring& value);

// A unique key below Software of a root, deleted with its tree before and after use.
class PrivateKey {
public:
    explicit PrivateKey(HKEY root = HKEY_LOCAL_MACHINE);
    ~PrivateKey();
    PrivateKey(const PrivateKey&) = delete;
    PrivateKey& operator=(const PrivateKey&) = delete;
    HKEY root() const { return root_; }
    const std::string& path() const { return path_; }

private:
    HKEY root_;
    std::string path_;
};

// Starts a command line; the process handle, or null.
HANDLE startProcess(const std::string& commandLine, const char* directory = nullptr);
// Runs a command line to its end; the exit code or -1.
int runCommand(const std::string& commandLine, DWORD timeoutMs = 60000);

// One command to the simulator copy named `prefix`devlink.dll; its reply line, or "" when unreachable.
std::string pipeCommand(const std::string& prefix, const std::string& line);

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

int countLines(const std::string& text, const std::string& part);

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

// Process figures read from outside.
struct ProcessFigures {
    double cpuMs = 0;  // user + kernel
    DWORD handles = 0;
    size_t privateBytes = 0;
};
ProcessFigures processFigures(HANDLE process);
// The values of the handles a process holds, and one handle's kind and name ("Key \\REGISTRY\\...").
std::vector<unsigned> handleValues(DWORD processId);
std::string describeHandle(HANDLE process, unsigned value);

}  // namespace bench
