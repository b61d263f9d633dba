#include "MonitorHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
void copyBeside(const std::string& from, const std::string& to) { CopyFileA(from.c_str(), to.c_str(), FALSE); }

void setDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}
}  // namespace

int calls(const std::string& journal, const std::string& entry, const std::string& part) {
    int count = 0;
    size_t start = 0;
    while (start < journal.size()) {
        size_t end = journal.find('\n', start);
        if (end == std::string::npos) end = journal.size();
        const std::string line = journal.substr(start, end - start);
        if (line.compare(0, entry.size() + 1, entry + " ") == 0 && line.find(part) != std::string::npos) ++count;
        start = end + 1;
    }
    return count;
}

std::vector<ProgramRecord> records(const std::string& journal) {
    std::vector<ProgramRecord> out;
    size_t at = 0;
    while (at < journal.size()) {
        size_t end = journal.find("\r\n", at);
        if (end == std::string::npos) break;
        const std::string line = journal.substr(at, end - at);
        at = end + 2;
        if (line.compare(0, 8, "command ") == 0) {
            out.push_back(ProgramRecord{line.substr(8)});
        } else if (line.compare(0, 5, "file ") == 0 && !out.empty()) {
            const size_t size = std::stoul(line.substr(5));
            out.back().hasFile = true;
            out.back().file = journal.substr(at, size);
            at += size + 2;
        }
    }
    return out;
}

MonitorHarness::MonitorHarness(const std::string& prefix, const std::string& scenario, const std::string& timings,
                               const HarnessOptions& options)
    : prefix_(prefix),
      timings_(timings),
      workingFolder_(options.workingFolder),
      pathFront_(options.pathFront),
      temporary_(options.temporary) {
    dir_ = folder_.path() + "\\";
    if (!options.subfolder.empty()) {
        dir_ += options.subfolder + "\\";
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    CreateDirectoryA(tempFolder().c_str(), nullptr);
    const std::string bin = ownFolder();
    copyBeside(bin + "kvabpanelmon.exe", file(prefix + "panelmon.exe"));
    copyBeside(bin + "kvabdevlink.dll", file(prefix + "devlink.dll"));
    copyBeside(bin + "kvabscx.dll", file(prefix + "scx.dll"));
    copyBeside(bin + "kvabpanelmonr.dll", file(prefix + "panelmonr.dll"));
    copyBeside(bin + "kvabcnf.dll", file(prefix + "cnf.dll"));
    copyBeside(bin + "kvabcapq.dll", file(prefix + "capq.dll"));
    copyBeside(bin + "kvablsqx.exe", file(prefix + "lsqx.exe"));
    copyBeside(bin + "QuickPrn.exe", file("QuickPrn.exe"));
    if (options.photoDock) copyBeside(bin + "PhotoDock.exe", file("PhotoDock.exe"));
    if (options.photoDesk) copyBeside(bin + "photodesk.exe", file("photodesk.exe"));
    if (options.realAppList) {
        copyBeside(bin + "kvabappmgr.dll", file(prefix + "appmgr.dll"));
    } else if (options.appList) {
        copyBeside(bin + "kvabtestapplist.dll", file(prefix + "appmgr.dll"));
    }
    writeFile(file(prefix + "devlink.scenario"), scenario);

    // Settings below a key of this test, with every log level on.
    writeFile(file(prefix + "cnf.txt"), "10002=" + registry_.path() + "\n10000=Model\n10001=Kelvara\n");
    settingsPath_ = registry_.path() + "\\Model\\Scan";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (settingsPath_ + "\\logger").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        setDword(key, "startLog", 1);
        setDword(key, "All", 0xFFFFFFFF);
        RegCloseKey(key);
    }
    char allUsers[MAX_PATH] = {};
    ExpandEnvironmentStringsA("%ALLUSERSPROFILE%\\", allUsers, MAX_PATH);
    logPath_ = std::string(allUsers) + prefix + "scan.log";
    DeleteFileA(logPath_.c_str());
}

MonitorHarness::~MonitorHarness() {
    if (running()) {
        runToEnd("-u", 10000);
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    }
    if (process_ != nullptr) {
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
    }
    DeleteFileA(logPath_.c_str());
}

std::string MonitorHarness::exe() const { return file(prefix_ + "panelmon.exe"); }

std::string MonitorHarness::instanceName() const { return monitorWindowName(prefix_); }

namespace {
// Variables of this process's environment, set for the programs it starts meanwhile and put back
// after: the next harness makes its folders beside the others, not in a monitor's own.
class EnvironmentForChild {
public:
    void set(const char* name, const std::string& value) {
        saved_.emplace_back(name, environment(name));
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~EnvironmentForChild() {
        for (const auto& [name, value] : saved_) SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
    }

private:
    std::vector<std::pair<const char*, std::string>> saved_;
};
}  // namespace

// The monitor's process with a command line, in the environment and folder the options chose.
HANDLE MonitorHarness::launch(const std::string& arguments) const {
    EnvironmentForChild child;
    child.set("PANELMON_TIMINGS", timings_);
    child.set("TMP", tempFolder());
    child.set("TEMP", tempFolder());
    if (!pathFront_.empty()) child.set("PATH", pathFront_ + ";" + environment("PATH"));
    std::string line = "\"" + exe() + "\"";
    if (!arguments.empty()) line += " " + arguments;
    return startProcess(line, (workingFolder_.empty() ? folder() : workingFolder_).c_str());
}

bool MonitorHarness::start(const std::string& arguments) {
    HANDLE process = launch(arguments);
    if (process == nullptr) return false;
    if (process_ != nullptr) CloseHandle(process_);
    process_ = process;
    return true;
}

int MonitorHarness::runToEnd(const std::string& arguments, DWORD timeoutMs) {
    return exitCodeOf(launch(arguments), timeoutMs);
}

HWND MonitorHarness::waitForWindow(DWORD timeoutMs) {
    const std::string name = instanceName();
    for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
        HWND window = FindWindowA(nullptr, name.c_str());
        if (window != nullptr) return window;
        if (!running()) return nullptr;
        Sleep(50);
    }
    return nullptr;
}

int MonitorHarness::waitForExit(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

bool MonitorHarness::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::string MonitorHarness::command(const std::string& line) { return pipeCommand(prefix_, line); }

bool MonitorHarness::waitForLog(const std::string& text, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        if (log().find(text) != std::string::npos) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

std::string MonitorHarness::journal() const { return readFile(file(prefix_ + "devlink.journal")); }

std::string MonitorHarness::programJournal(const std::string& program) const {
    return readFile(file((program == "lsqx" ? prefix_ : std::string()) + program + ".journal"));
}

bool MonitorHarness::waitForPrograms(const std::string& program, int records, DWORD timeoutMs) const {
    for (DWORD waited = 0;; waited += 50) {
        if (countLines(programJournal(program), "end\r") >= records) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

void MonitorHarness::setAppList(const std::string& utf8Document) { writeFile(file(prefix_ + "appmgr.txt"), utf8Document); }

void MonitorHarness::setCapabilities(const std::string& lines) { writeFile(file(prefix_ + "capq.txt"), lines); }

std::string MonitorHarness::log() const { return readFile(logPath_); }

void MonitorHarness::removeFile(const std::string& name) { DeleteFileA(file(name).c_str()); }

void waitUntilReady(MonitorHarness& monitor, const std::string& entry) {
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([&](const std::string& j) { return calls(j, entry) >= 1; })) << monitor.journal();
}

void startAndWait(MonitorHarness& monitor, const std::string& entry) {
    ASSERT_TRUE(monitor.start());
    waitUntilReady(monitor, entry);
}
