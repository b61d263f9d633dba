#include "BenchSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace bench {
namespace {
void copyBeside(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        std::printf("  (could not copy %s: error %lu)\n", from.c_str(), GetLastError());
    }
}

double fileTimeMs(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}
}  // namespace

double nowMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

Figures figuresOf(std::vector<double> samples) {
    Figures figures;
    figures.count = samples.size();
    if (samples.empty()) return figures;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double fraction) {
        const size_t index = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
        return samples[std::min(index, samples.size() - 1)];
    };
    figures.median = at(0.5);
    figures.p10 = at(0.1);
    figures.p90 = at(0.9);
    figures.min = samples.front();
    figures.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    return figures;
}

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string describe(const Figures& f, const char* unit, int decimals) {
    return number(f.median, decimals) + " " + unit + " median (p10 " + number(f.p10, decimals) + ", p90 " +
           number(f.p90, decimals) + ", n=" + std::to_string(f.count) + ")";
}

bool shortForm(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0) return true;
    }
    return false;
}

bool goal(const std::string& name, double value, double limit, const std::string& what) {
    const bool met = value <= limit;
    std::printf("  GOAL %-4s %s = %s, goal <= %s: %s\n", name.c_str(), what.c_str(), number(value, 2).c_str(),
                number(limit, 2).c_str(), met ? "met" : "MISSED");
    std::fflush(stdout);
    return met;
}

void heading(const std::string& text) {
    std::printf("\n== %s\n", text.c_str());
    std::fflush(stdout);
}

void line(const std::string& text) {
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

void note(const std::string& text) {
    std::printf("  note: %s\n", text.c_str());
    std::fflush(stdout);
}

std::string productPrefix() {
    const std::string path = ownPath();
    return path.substr(path.rfind('\\') + 1, 4);
}

size_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<size_t>(data.nFileSizeLow);
}

std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& start) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\" + start + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(folder + "\\" + entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

void setDword(HKEY root, const std::string& path, const char* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void setText(HKEY root, const std::string& path, const char* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    const std::wstring wideName = name != nullptr ? std::wstring(name, name + std::strlen(name)) : std::wstring();
    RegSetValueExW(key, name != nullptr ? wideName.c_str() : nullptr, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

MonitorRig::MonitorRig(const std::string& prefix, const std::string& brand, const std::string& scenario,
                       const std::string& timings, bool logging)
    : prefix_(prefix), brandKey_("Software\\" + brand), timings_(timings) {
    CreateDirectoryA(tempFolder().c_str(), nullptr);
    const std::string bin = ownFolder();
    const std::string product = productPrefix();
    for (const char* name : {"panelmon.exe", "devlink.dll", "scx.dll", "panelmonr.dll", "cnf.dll", "capq.dll", "lsqx.exe",
                             "appmgr.dll"}) {
        copyBeside(bin + product + name, file(prefix + name));
    }
    for (const char* name : {"QuickPrn.exe", "PhotoDock.exe", "photodesk.exe"}) copyBeside(bin + name, file(name));
    writeFile(file(prefix + "devlink.scenario"), scenario);

    // The settings below a key of this rig; logging as asked.
    writeFile(file(prefix + "cnf.txt"), "10002=" + settings_.path() + "\n10000=Model\n10001=Kelvara\n");
    const std::string logger = settings_.path() + "\\Model\\Scan\\logger";
    setDword(HKEY_LOCAL_MACHINE, logger, "startLog", logging ? 1 : 0);
    setDword(HKEY_LOCAL_MACHINE, logger, "All", logging ? 0xFFFFFFFF : 0);
    char allUsers[MAX_PATH] = {};
    ExpandEnvironmentStringsA("%ALLUSERSPROFILE%\\", allUsers, MAX_PATH);
    logPath_ = std::string(allUsers) + prefix + "scan.log";
    DeleteFileA(logPath_.c_str());
    deleteKeyTree(HKEY_LOCAL_MACHINE, brandKey_);
}

MonitorRig::~MonitorRig() {
    stop();
    if (process_ != nullptr) CloseHandle(process_);
    DeleteFileA(logPath_.c_str());
    deleteKeyTree(HKEY_LOCAL_MACHINE, brandKey_);
}

void MonitorRig::setAppList(const std::wstring& entries) {
    setText(HKEY_LOCAL_MACHINE, brandKey_ + "\\App List Manager", "AppList", entries);
}

namespace {
std::string variable(const char* name) {
    char value[32768];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

void setVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}
}  // namespace

bool MonitorRig::start() {
    // The monitor inherits its own variables; this program keeps its own.
    const std::string tmp = variable("TMP"), temp = variable("TEMP"), timings = variable("PANELMON_TIMINGS");
    setVariable("PANELMON_TIMINGS", timings_);
    setVariable("TMP", tempFolder() + "\\");
    setVariable("TEMP", tempFolder() + "\\");
    process_ = startProcess("\"" + exe() + "\"", folder_.path().c_str());
    setVariable("TMP", tmp);
    setVariable("TEMP", temp);
    setVariable("PANELMON_TIMINGS", timings);
    return process_ != nullptr;
}

bool MonitorRig::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

HWND MonitorRig::waitForWindow(DWORD timeoutMs) {
    const std::string name = testing_support::monitorWindowName(prefix_);
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        window_ = FindWindowA(nullptr, name.c_str());
        if (window_ != nullptr || !running()) return window_;
        Sleep(20);
    }
    return nullptr;
}

bool MonitorRig::waitForJournal(const std::string& part, int count, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 10) {
        if (countLines(journal(), part) >= count) return true;
        if (waited >= timeoutMs) return false;
        Sleep(10);
    }
}

bool MonitorRig::waitForPrograms(int records, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 1) {
        if (countLines(readFile(programJournalPath()), "end\r") >= records) return true;
        if (waited >= timeoutMs) return false;
        Sleep(1);
    }
}

void MonitorRig::stop() {
    if (!running()) return;
    runCommand("\"" + exe() + "\" -u", 10000);
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
}

std::string MonitorRig::command(const std::string& text) { return pipeCommand(prefix_, text); }

PipeClient::~PipeClient() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
}

bool PipeClient::connect() {
    const std::string pipe = "\\\\.\\pipe\\" + prefix_ + "devlink";
    for (int attempt = 0; attempt < 200 && pipe_ == INVALID_HANDLE_VALUE; ++attempt) {
        pipe_ = CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeA(pipe.c_str(), 1000);
            } else {
                Sleep(20);
            }
        }
    }
    pending_.clear();
    return pipe_ != INVALID_HANDLE_VALUE;
}

std::string PipeClient::call(const std::string& text) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pipe_ == INVALID_HANDLE_VALUE && !connect()) return std::string();
        const std::string request = text + "\n";
        DWORD written = 0;
        bool broken = !WriteFile(pipe_, request.data(), static_cast<DWORD>(request.size()), &written, nullptr);
        char buffer[512];
        DWORD read = 0;
        while (!broken && pending_.find('\n') == std::string::npos) {
            broken = !ReadFile(pipe_, buffer, sizeof(buffer), &read, nullptr) || read == 0;
            if (!broken) pending_.append(buffer, read);
        }
        if (broken) {
            CloseHandle(pipe_);
            pipe_ = INVALID_HANDLE_VALUE;
            continue;
        }
        const size_t end = pending_.find('\n');
        std::string reply = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!reply.empty() && reply.back() == '\r') reply.pop_back();
        return reply;
    }
    return std::string();
}

namespace {
// The Unix file of a Windows path, through Wine's own export; empty off Wine.
std::string unixPathOf(const std::string& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    static const auto convert = exportOf<UnixNameFn>(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (convert == nullptr) return std::string();
    const std::wstring wide(path.begin(), path.end());
    char* name = convert(wide.c_str());
    if (name == nullptr) return std::string();
    std::string unix(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unix;
}

// The Windows path of a Linux file below /proc: the root drive, or Wine's Unix path form.
std::string procPath(const std::string& rest) {
    static const std::string root = [] {
        return GetFileAttributesA("Z:\\proc\\stat") != INVALID_FILE_ATTRIBUTES ? "Z:\\proc\\" : "\\\\?\\unix\\proc\\";
    }();
    return root + rest;
}

// One numbered field of a /proc/<pid>/stat line; -1 when it has none.
long long statField(const std::string& stat, int wanted) {
    // Field 2, the program's name, may hold blanks: fields are counted after its closing parenthesis.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    size_t at = close + 1;
    for (int field = 3; field <= wanted; ++field) {
        at = stat.find_first_not_of(' ', at);
        if (at == std::string::npos) return -1;
        if (field == wanted) return std::atoll(stat.c_str() + at);
        at = stat.find(' ', at);
    }
    return -1;
}

constexpr int kMinorFaults = 10;
constexpr int kStartTicks = 22;

double unixSeconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart - 116444736000000000ULL) / 1e7;
}

// Seconds since 1970 at which Linux started the process of a /proc/<pid>/stat line. The boot
// time is taken from the uptime (to 10 ms): the whole seconds of "btime" would blur processes
// started within a second of each other.
double linuxStart(const std::string& stat) {
    static const double bootSeconds = [] {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return unixSeconds(now) - std::atof(readFile(procPath("uptime")).c_str());
    }();
    return bootSeconds + static_cast<double>(statField(stat, kStartTicks)) / 100.0;  // USER_HZ
}

// Seconds since 1970 at which the system created `process`.
double windowsStart(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return unixSeconds(created);
}
}  // namespace

// "/proc/self" would name the Wine server, which opens files for its clients.
PageFaults PageFaults::self() { return of(GetCurrentProcess()); }

PageFaults PageFaults::of(HANDLE process) {
    PageFaults faults;
    char path[MAX_PATH] = {};
    if (GetModuleFileNameExA(process, nullptr, path, MAX_PATH) == 0) return faults;
    if (unixPathOf(path).empty()) return faults;
    // Among the Linux processes whose first argument names that program (Wine puts its Windows
    // or its Unix path there), the one started closest to the process's creation: several may
    // run one program.
    const auto fileName = [](const std::string& text) { return text.substr(text.find_last_of("\\/") + 1); };
    const std::string program = fileName(path);
    const double created = windowsStart(process);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(procPath("*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return faults;
    double closest = 5.0;  // seconds; nothing further away is that process
    do {
        const std::string pid = entry.cFileName;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string command = readFile(procPath(pid + "\\cmdline"));
        if (_stricmp(fileName(command.c_str()).c_str(), program.c_str()) != 0) continue;
        const std::string statPath = procPath(pid + "\\stat");
        const double distance = std::abs(linuxStart(readFile(statPath)) - created);
        if (distance < closest) {
            closest = distance;
            faults.statPath_ = statPath;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return faults;
}

long long PageFaults::count() const {
    if (statPath_.empty()) return -1;
    return statField(readFile(statPath_), kMinorFaults);
}

double faultsPer(long long before, long long after, double operations) {
    if (before < 0 || after < before || operations <= 0) return -1;
    return static_cast<double>(after - before) / operations;
}

double forkSlack(double bare) { return std::max(1.0, bare * 0.2); }

std::string faultText(double perOperation) {
    return perOperation < 0 ? std::string("? page faults") : number(perOperation, 2) + " page faults";
}

bool faultGoal(const std::string& name, double product, double bare, double slack, const std::string& what) {
    if (product < 0 || bare < 0) {
        std::printf("  GOAL %-4s %s: page faults unknown here (not on Wine)\n", name.c_str(), what.c_str());
        std::fflush(stdout);
        return true;
    }
    return goal(name, product, bare + slack,
                what + " (against " + number(bare, 2) + ", " + number(slack, 2) + " more allowed)");
}

namespace {
using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

QueryFn systemQuery() {
    return exportOf<QueryFn>(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
}

// One row of the system's handle list (information class 16).
struct HandleRow {
    ULONG ownerProcess;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
};

}  // namespace

std::vector<unsigned> handleValues(DWORD processId) {
    std::vector<unsigned> values;
    const QueryFn query = systemQuery();
    if (query == nullptr) return values;
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        if (query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) == 0) {
            const ULONG rows = *reinterpret_cast<const ULONG*>(buffer.data());
            const auto* row = reinterpret_cast<const HandleRow*>(buffer.data() + sizeof(ULONG_PTR));
            for (ULONG i = 0; i < rows; ++i) {
                if (row[i].ownerProcess == processId) values.push_back(row[i].value);
            }
            return values;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    return values;
}

std::string describeHandle(HANDLE process, unsigned value) {
    using ObjectQueryFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    auto query = exportOf<ObjectQueryFn>(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
    HANDLE copy = nullptr;
    if (query == nullptr || !DuplicateHandle(process, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)),
                                             GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return "?";
    }
    auto text = [&](ULONG kind) {
        alignas(8) BYTE info[2048] = {};
        ULONG length = 0;
        if (query(copy, kind, info, sizeof(info) - 2, &length) != 0) return std::string();
        // Both answers start with the name as a counted wide string.
        const USHORT bytes = *reinterpret_cast<const USHORT*>(info);
        const wchar_t* chars = *reinterpret_cast<wchar_t* const*>(info + sizeof(void*));
        if (chars == nullptr) return std::string();
        std::string narrow;
        for (USHORT i = 0; i < bytes / 2; ++i) narrow += chars[i] < 128 ? static_cast<char>(chars[i]) : '?';
        return narrow;
    };
    const std::string described = text(2) + " " + text(1);
    CloseHandle(copy);
    return described;
}

namespace {
// The handles a process holds, counted in the system's list of every open handle: on some
// systems the per-process query answers only for the caller itself.
DWORD listedHandleCount(DWORD processId) { return static_cast<DWORD>(handleValues(processId).size()); }
}  // namespace

ProcessFigures processFigures(HANDLE process) {
    ProcessFigures figures;
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(process, &created, &ended, &kernel, &user)) figures.cpuMs = fileTimeMs(kernel) + fileTimeMs(user);
    if (!GetProcessHandleCount(process, &figures.handles) || figures.handles == 0) {
        figures.handles = listedHandleCount(GetProcessId(process));
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
        // The page-file figure counts the same private commit and is the one every system fills.
        figures.privateBytes = memory.PagefileUsage;
    }
    return figures;
}

namespace {
// The modules a process has loaded, in load order; false when they can't be listed.
bool loadedModules(HANDLE process, std::vector<HMODULE>& modules) {
    modules.resize(512);
    DWORD bytes = 0;
    if (!EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &bytes)) {
        return false;
    }
    modules.resize(std::min<size_t>(bytes / sizeof(HMODULE), modules.size()));
    return true;
}
}  // namespace

std::vector<std::string> moduleNames(HANDLE process, bool systemOnly) {
    std::vector<HMODULE> modules;
    std::vector<std::string> names;
    if (!loadedModules(process, modules)) return names;
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    for (HMODULE module : modules) {
        char path[MAX_PATH] = {};
        if (GetModuleFileNameExA(process, module, path, MAX_PATH) == 0) continue;
        if (systemOnly && _strnicmp(path, system, std::strlen(system)) != 0) continue;
        const char* name = std::strrchr(path, '\\');
        names.push_back(name != nullptr ? name + 1 : path);
    }
    return names;
}

std::string systemModules(HANDLE process) {
    std::string list;
    for (const std::string& name : moduleNames(process, true)) list += name + "\n";
    return list;
}

int moduleCount(HANDLE process) {
    std::vector<HMODULE> modules;
    return loadedModules(process, modules) ? static_cast<int>(modules.size()) : -1;
}

}  // namespace bench
