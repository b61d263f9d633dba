// Stand-in for the device communication library: simulated devices whose panels a test or the
// panel tool drives through a named pipe, and a journal of every call.
//
// Files beside the DLL, named after it (<name> = the DLL's file name without ".dll"):
//   <name>.scenario   devices and faults, read at the first call after each load
//   <name>.journal    one line per entry-point call, delivery and control command, appended
// Control pipe: \\.\pipe\<name>, served from the first successful DcsInitialize to the last
// DcsUninitialize, so copies under other names never collide.
//
// Scenario lines (words separated by blanks; "double quotes" around a value with blanks):
//   # a comment
//   device port=USB001 [transport=USB1] [model="KV Scan 100"] [hids=1] [vid=0] [pid=0]
//   nodevices                  start without devices; a file with neither this nor a device
//                              line (or no file at all) gives the one device shown above
//   fail KIND COUNT [port=NAME] [code=N]
// KIND names the call that fails COUNT times (a number, or "always"; 0 clears) before it works
// again, with result `code` (default 31); `port` limits it to one device:
//   init clientid discovery enum enumspecific getstring open openscanner reports notifications
//   state   (DcsGetCurrentStateHid answers state 2 instead of failing)
// Scenario faults count per process, not per load: the used counts live in the process
// environment, so the reload that follows a failed DcsInitialize does not start them again.
//
// Control commands, one line each, answered with one line "ok ..." or "error ...":
//   ping                               ok pong
//   resources                          ok handles=N private=B working=B gdi=N user=N (this process)
//   devices                            ok devices=N | port=P transport=T model="M" hids=h,h
//                                        scanner=h registered=h,h | ...
//   report PORT HID [HEX...]           ok delivered result=N | ok not registered
//   notify PORT HID CLASS CODE         ok delivered result=N | ok not registered
//   arrive port=P [transport=..] [model=..] [hids=..] [vid=..] [pid=..]
//                                      ok added port=P hids=h,h windows=N
//   remove PORT                        ok removed port=P windows=N
//   fail KIND COUNT [port=P] [code=N]  ok fail KIND COUNT
//   storm PORT HID COUNT SEED [threads=N] [mutate=PERMILLE] [exact=0|1] [base=HEX]...
//                                      ok storm sent=N delivered=D unregistered=U results=R:n,...
//     N threads each hand COUNT generated reports (lengths 0-64, random bytes, or with the given
//     chance in a thousand a base with bytes changed) straight to the callback, on threads of
//     their own, journalling only the command; the same seed gives the same reports. With
//     exact=1 each caller sends the bases in turn, unchanged. A report whose interface is not
//     registered waits up to 2 s for it before it counts as unregistered.
// HID is the 0-based interface index on the device, HEX any number of hex byte pairs (none for
// an empty report). Deliveries run on the library's delivery thread; the reply waits for the
// callback (up to 30 s). Arrival and removal post WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) to
// every top-level window of this process, as the system's broadcast would.
//
// Values: device n (counted from 1 in order of appearance) has HID handles n*256+1, n*256+2...
// and scanner handle n*256+128; the first HID interface's Portname is the device's port, the
// others' "<port>#<index>", and both forms name the device in the enumerate-specific calls; client identities count from 1. An EnumCallback's first value
// is the 1-based position in the enumeration, a ReportCallback's the registering client.
// Results: 0 success, 2 unknown port, 5 unknown client, 6 unknown or unopened handle,
// 21 not initialised, 53 remote host, 87 bad argument or descriptor, 122 buffer too small
// (the length out-parameter then holds the size needed, terminator included).
#include "DcsContract.h"
#include "Handles.h"

#include <dbt.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {
constexpr DWORD kStopWaitMs = 10000;   // unregister and uninitialise wait this long for callbacks
constexpr DWORD kReplyWaitMs = 30000;  // a control reply waits this long for its callback
constexpr DWORD kClientIdleMs = 10000; // a silent control client is dropped after this
constexpr DWORD kStormWaitMs = 2000;   // a storm report waits this long for its interface to register
constexpr LONG kFaultCode = ERROR_GEN_FAILURE;
constexpr long long kMaxHids = 32;

struct Device {
    std::string port, transport = kTransportUsb, model = "KV Scan 100";
    int32_t vid = 0, pid = 0;
    long long hidCount = 1;
    std::vector<DcsHandle> hids;
    DcsHandle scanner = 0;
};

struct Fault {
    std::string kind, port;
    long long remaining = 0;  // -1: always
    LONG code = kFaultCode;
    int line = 0;  // scenario line, 0 when set through the pipe
};

struct HidState {
    unsigned opens = 0;
    ReportCallback report = nullptr;
    uint32_t reportClient = 0;
    NotificationCallback notify = nullptr;
};

struct Delivery {
    bool notification = false;
    std::string port;
    long long hid = 0;
    DcsHandle handle = 0;
    std::vector<uint8_t> bytes;
    uint32_t notificationClass = 0, code = 0;
    bool done = false, delivered = false;
    LONG result = 0;
};

// The threads of one initialised period: delivery, pipe listener, one per pipe client.
struct Service {
    UniqueHandle stop;  // set when the period ends
    bool stopping = false;
    std::deque<std::shared_ptr<Delivery>> queue;
    std::vector<UniqueHandle> threads;
    std::vector<DWORD> threadIds;
};

struct InFlight {
    DWORD thread;
    DcsHandle handle;
};

struct State {
    bool loaded = false;
    std::vector<Device> devices;
    std::vector<Fault> faults;
    std::map<DcsHandle, HidState> hids;
    std::map<DcsHandle, unsigned> scannerOpens;
    std::map<int, long long> usedFaults;  // scenario line -> times fired in this process
    std::vector<InFlight> inFlight;
    std::shared_ptr<Service> service;
    uint32_t nextClient = 1;
    DcsHandle nextDevice = 1;
    unsigned initCount = 0;
};

HMODULE g_self = nullptr;
std::string g_base;  // full path of the DLL without ".dll"
std::string g_name;  // its file name without ".dll"
SRWLOCK g_lock = SRWLOCK_INIT;
SRWLOCK g_journalLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_changed = CONDITION_VARIABLE_INIT;
State g_state;

class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&g_lock); }
    ~Locked() {
        if (held_) ReleaseSRWLockExclusive(&g_lock);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    void unlock() {
        ReleaseSRWLockExclusive(&g_lock);
        held_ = false;
    }
    void lock() {
        AcquireSRWLockExclusive(&g_lock);
        held_ = true;
    }
    void wait(DWORD ms) { SleepConditionVariableSRW(&g_changed, &g_lock, ms, 0); }

private:
    bool held_ = true;
};

void changed() { WakeAllConditionVariable(&g_changed); }

void journal(const std::string& line) {
    const DWORD error = GetLastError();
    AcquireSRWLockExclusive(&g_journalLock);
    // Opened and closed per line, so a reader in another process sees each line at once.
    UniqueHandle file(CreateFileA((g_base + ".journal").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    ReleaseSRWLockExclusive(&g_journalLock);
    SetLastError(error);
}

LONG done(const std::string& call, LONG code, const std::string& extra = "") {
    journal(call + " -> " + std::to_string(code) + (extra.empty() ? "" : " " + extra));
    return code;
}

std::string num(unsigned long long value) { return std::to_string(value); }
std::string text(const char* value) { return value ? value : "(null)"; }
bool sameText(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Decimal, or hexadecimal with 0x.
bool number(const std::string& word, long long& value) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(word.c_str(), &end, hex ? 16 : 10);
    return !word.empty() && errno == 0 && *end == '\0';
}

bool numberIn(const std::string& word, long long low, long long high, long long& value) {
    return number(word, value) && value >= low && value <= high;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            if (inWord) out.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) out.push_back(word);
    return out;
}

bool keyValue(const std::string& word, std::string& key, std::string& value) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    key = word.substr(0, equals);
    value = word.substr(equals + 1);
    return true;
}

std::string handleList(const std::vector<DcsHandle>& handles) {
    std::string out;
    for (DcsHandle handle : handles) out += (out.empty() ? "" : ",") + num(handle);
    return out;
}

std::string hexText(const std::vector<uint8_t>& bytes) {
    std::string out;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof(pair), "%02X", byte);
        out += (out.empty() ? "" : " ") + std::string(pair);
    }
    return out;
}

Device* findDevice(const std::string& port) {
    for (Device& device : g_state.devices) {
        if (sameText(device.port, port)) return &device;
    }
    return nullptr;
}

// The port name of one HID interface: the device's port for the first, "<port>#<index>" for
// the others, so that every interface can be found on its own.
std::string hidPortName(const Device& device, DcsHandle handle) {
    const size_t index = static_cast<size_t>(std::find(device.hids.begin(), device.hids.end(), handle) - device.hids.begin());
    return index == 0 || index >= device.hids.size() ? device.port : device.port + "#" + std::to_string(index);
}

// The device of a port name with or without an interface suffix, and the interface it names.
Device* findPortName(const std::string& portName, size_t& hidIndex) {
    hidIndex = 0;
    if (Device* device = findDevice(portName)) return device;
    const size_t mark = portName.rfind('#');
    if (mark == std::string::npos || mark + 1 >= portName.size()) return nullptr;
    char* end = nullptr;
    const unsigned long index = std::strtoul(portName.c_str() + mark + 1, &end, 10);
    if (end == nullptr || *end != '\0') return nullptr;
    Device* device = findDevice(portName.substr(0, mark));
    if (device == nullptr || index >= device->hids.size()) return nullptr;
    hidIndex = index;
    return device;
}

Device* findHid(DcsHandle handle) {
    for (Device& device : g_state.devices) {
        if (std::find(device.hids.begin(), device.hids.end(), handle) != device.hids.end()) return &device;
    }
    return nullptr;
}

Device* findScanner(DcsHandle handle) {
    for (Device& device : g_state.devices) {
        if (handle != 0 && device.scanner == handle) return &device;
    }
    return nullptr;
}

// Reads the key=value words of a device line; "" or what is wrong.
std::string parseDevice(const std::vector<std::string>& w, size_t first, Device& device) {
    for (size_t i = first; i < w.size(); ++i) {
        std::string key, value;
        long long n = 0;
        if (!keyValue(w[i], key, value)) return "expected key=value, got '" + w[i] + "'";
        if (key == "port") {
            device.port = value;
        } else if (key == "transport") {
            device.transport = value;
        } else if (key == "model") {
            device.model = value;
        } else if (key == "hids" && numberIn(value, 1, kMaxHids, device.hidCount)) {
        } else if ((key == "vid" || key == "pid") && number(value, n)) {
            (key == "vid" ? device.vid : device.pid) = static_cast<int32_t>(n);
        } else {
            return "bad device setting '" + w[i] + "'";
        }
    }
    if (device.port.empty()) return "a device needs port=NAME";
    if (findDevice(device.port) != nullptr) return "port " + device.port + " exists already";
    return "";
}

Device& addDevice(Device device) {
    const DcsHandle base = g_state.nextDevice++ * 0x100;
    for (long long i = 0; i < device.hidCount; ++i) device.hids.push_back(base + 1 + static_cast<DcsHandle>(i));
    device.scanner = base + 0x80;
    g_state.devices.push_back(std::move(device));
    return g_state.devices.back();
}

std::string parseFault(const std::vector<std::string>& w, size_t first, Fault& fault) {
    static const char* const kKinds[] = {"init", "clientid", "discovery", "enum", "enumspecific", "getstring",
                                         "open", "openscanner", "reports", "notifications", "state"};
    if (w.size() < first + 2) return "expected: fail KIND COUNT [port=NAME] [code=N]";
    fault.kind = w[first];
    if (std::none_of(std::begin(kKinds), std::end(kKinds), [&](const char* kind) { return fault.kind == kind; })) {
        return "unknown fault kind '" + fault.kind + "'";
    }
    if (w[first + 1] == "always") {
        fault.remaining = -1;
    } else if (!numberIn(w[first + 1], 0, 1000000000, fault.remaining)) {
        return "bad count '" + w[first + 1] + "'";
    }
    for (size_t i = first + 2; i < w.size(); ++i) {
        std::string key, value;
        long long code = 0;
        if (keyValue(w[i], key, value) && key == "port") {
            fault.port = value;
        } else if (keyValue(w[i], key, value) && key == "code" && number(value, code)) {
            fault.code = static_cast<LONG>(code);
        } else {
            return "bad fault setting '" + w[i] + "'";
        }
    }
    return "";
}

void setFault(const Fault& fault) {
    auto& faults = g_state.faults;
    faults.erase(std::remove_if(faults.begin(), faults.end(),
                                [&](const Fault& f) { return f.kind == fault.kind && sameText(f.port, fault.port); }),
                 faults.end());
    if (fault.remaining != 0) faults.push_back(fault);
}

// "<pid> <line>:<count> ...": another process's value (inherited) is ignored.
std::string usedVariable() { return g_name + "_used_faults"; }

void recordUsedFault(int line) {
    ++g_state.usedFaults[line];
    std::string value = num(GetCurrentProcessId());
    for (const auto& used : g_state.usedFaults) value += " " + num(used.first) + ":" + num(used.second);
    SetEnvironmentVariableA(usedVariable().c_str(), value.c_str());
}

void applyUsedFaults() {
    char value[2048] = {};
    const DWORD length = GetEnvironmentVariableA(usedVariable().c_str(), value, sizeof(value));
    std::istringstream in(length < sizeof(value) ? value : "");
    unsigned long pid = 0;
    int line = 0;
    char colon = 0;
    long long count = 0;
    if (!(in >> pid) || pid != GetCurrentProcessId()) return;
    while (in >> line >> colon >> count) g_state.usedFaults[line] = count;
    auto& faults = g_state.faults;
    for (Fault& fault : faults) {
        auto used = g_state.usedFaults.find(fault.line);
        if (fault.remaining > 0 && used != g_state.usedFaults.end()) {
            fault.remaining = std::max(0LL, fault.remaining - used->second);
        }
    }
    faults.erase(std::remove_if(faults.begin(), faults.end(), [](const Fault& f) { return f.remaining == 0; }),
                 faults.end());
}

// True when a fault of `kind` applies to `port`; uses it up once.
bool takeFault(const char* kind, const std::string& port, LONG& code) {
    auto& faults = g_state.faults;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->kind != kind || (!it->port.empty() && !sameText(it->port, port))) continue;
        code = it->code;
        if (it->line != 0) recordUsedFault(it->line);
        if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
        return true;
    }
    return false;
}

void ensureLoaded() {
    if (g_state.loaded) return;
    g_state.loaded = true;
    std::ifstream in(g_base + ".scenario");
    const bool present = in.is_open();
    bool anyDevice = false, noDevices = false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        std::string problem;
        if (w[0] == "device") {
            Device device;
            problem = parseDevice(w, 1, device);
            if (problem.empty()) addDevice(std::move(device));
            anyDevice = true;
        } else if (w[0] == "nodevices" && w.size() == 1) {
            noDevices = true;
        } else if (w[0] == "fail") {
            Fault fault;
            problem = parseFault(w, 1, fault);
            fault.line = number;
            if (problem.empty()) setFault(fault);
        } else {
            problem = "unknown line";
        }
        if (!problem.empty()) journal("scenario line " + num(number) + " ignored: " + problem);
    }
    if (!anyDevice && !noDevices) {
        Device device;
        device.port = "USB001";
        addDevice(device);
    }
    applyUsedFaults();
    journal("load scenario=" + (present ? g_name + ".scenario" : std::string("none")) +
            " devices=" + num(g_state.devices.size()) + " faults=" + num(g_state.faults.size()));
}

// 0, or the result for a call made before DcsInitialize or with an identity never given out.
LONG clientCheck(uint32_t client) {
    ensureLoaded();
    if (g_state.initCount == 0) return ERROR_NOT_READY;
    if (client == 0 || client >= g_state.nextClient) return ERROR_ACCESS_DENIED;
    return 0;
}

// The checks of a per-HID call: its device, or null with `code` set.
const Device* hidCall(uint32_t client, DcsHandle handle, LONG& code) {
    code = clientCheck(client);
    const Device* device = code == 0 ? findHid(handle) : nullptr;
    if (code == 0 && device == nullptr) code = ERROR_INVALID_HANDLE;
    return device;
}

// With the lock held: returns once no callback for `handle` (0: any) runs on another thread.
void waitForDeliveries(Locked& hold, DcsHandle handle, const std::string& call) {
    const DWORD self = GetCurrentThreadId();
    const DWORD start = GetTickCount();
    for (;;) {
        const bool busy = std::any_of(g_state.inFlight.begin(), g_state.inFlight.end(), [&](const InFlight& f) {
            return f.thread != self && (handle == 0 || f.handle == handle);
        });
        if (!busy) return;
        const DWORD waited = GetTickCount() - start;
        if (waited >= kStopWaitMs) {
            journal(call + " gave up waiting for a running callback");
            return;
        }
        hold.wait(kStopWaitMs - waited);
    }
}

// ---- service threads ----

struct ThreadStart {
    std::shared_ptr<Service> service;
    UniqueHandle pipe;  // a client's connected pipe instance
    void (*run)(ThreadStart&);
};

DWORD WINAPI serviceThread(void* parameter) {
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        start->run(*start);
    }
    // Each thread holds a reference to the module, so an unload waits for it to leave.
    FreeLibraryAndExitThread(g_self, 0);
    return 0;
}

// With the lock held; the thread owns `pipe` (closed here when no thread starts).
bool startThread(const std::shared_ptr<Service>& service, void (*run)(ThreadStart&), HANDLE pipe = nullptr) {
    HMODULE self = nullptr;
    auto start = std::make_unique<ThreadStart>(ThreadStart{service, UniqueHandle(pipe), run});
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&g_state), &self)) {
        return false;
    }
    DWORD id = 0;
    UniqueHandle thread(CreateThread(nullptr, 0, serviceThread, start.get(), 0, &id));
    if (!thread) {
        FreeLibrary(self);
        return false;
    }
    start.release();
    for (size_t i = service->threads.size(); i-- > 2;) {  // forget clients that have left
        if (WaitForSingleObject(service->threads[i].get(), 0) == WAIT_OBJECT_0) {
            service->threads.erase(service->threads.begin() + static_cast<std::ptrdiff_t>(i));
            service->threadIds.erase(service->threadIds.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    service->threads.push_back(std::move(thread));
    service->threadIds.push_back(id);
    return true;
}

void deliverLoop(ThreadStart& start) {
    Service& service = *start.service;
    Locked hold;
    for (;;) {
        while (!service.stopping && service.queue.empty()) hold.wait(INFINITE);
        if (service.stopping) break;
        std::shared_ptr<Delivery> item = service.queue.front();
        service.queue.pop_front();
        auto found = g_state.hids.find(item->handle);
        const HidState state = found != g_state.hids.end() ? found->second : HidState();
        if (item->notification ? state.notify != nullptr : state.report != nullptr) {
            g_state.inFlight.push_back({GetCurrentThreadId(), item->handle});
            hold.unlock();
            static const uint8_t kNothing = 0;  // an empty report still comes with a valid pointer
            const uint8_t* bytes = item->bytes.empty() ? &kNothing : item->bytes.data();
            const LONG result = item->notification
                                    ? state.notify(item->handle, item->notificationClass, item->code)
                                    : state.report(state.reportClient, item->handle, bytes,
                                                   static_cast<uint32_t>(item->bytes.size()));
            hold.lock();
            auto& inFlight = g_state.inFlight;
            inFlight.erase(std::find_if(inFlight.begin(), inFlight.end(),
                                        [](const InFlight& f) { return f.thread == GetCurrentThreadId(); }));
            item->delivered = true;
            item->result = result;
        }
        std::string what = (item->notification ? "notification port=" : "report port=") + item->port +
                           " hid=" + num(item->hid) + " handle=" + num(item->handle);
        what += item->notification ? " class=" + num(item->notificationClass) + " code=" + num(item->code)
                                   : " length=" + num(item->bytes.size()) + " bytes=" + hexText(item->bytes);
        journal(what + (item->delivered ? " -> delivered result=" + std::to_string(item->result) : " -> not registered"));
        item->done = true;
        changed();
    }
    for (auto& item : service.queue) item->done = true;
    service.queue.clear();
    changed();
}

BOOL CALLBACK postToWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && PostMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0)) {
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

std::string listDevices() {
    std::string out = "ok devices=" + num(g_state.devices.size());
    for (const Device& device : g_state.devices) {
        std::vector<DcsHandle> registered;
        for (DcsHandle hid : device.hids) {
            auto state = g_state.hids.find(hid);
            if (state != g_state.hids.end() && state->second.report != nullptr) registered.push_back(hid);
        }
        out += " | port=" + device.port + " transport=" + device.transport + " model=\"" + device.model +
               "\" hids=" + handleList(device.hids) + " scanner=" + num(device.scanner) +
               " registered=" + handleList(registered);
    }
    return out;
}

// What the process holds. Wine answers neither the handle count nor the private bytes, so both
// are counted here: the handle values that name a handle, and the committed private pages.
std::string processResources() {
    DWORD handles = 0;
    for (uintptr_t value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++handles;
    }
    unsigned long long privateBytes = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) privateBytes += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return "ok handles=" + num(handles) + " private=" + num(privateBytes) + " working=" + num(memory.WorkingSetSize) +
           " gdi=" + num(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) +
           " user=" + num(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

// Queues a report or notification and waits for the delivery thread to hand it over.
std::string inject(Service& service, const std::vector<std::string>& w) {
    Locked hold;
    const bool notification = w[0] == "notify";
    if (w.size() < 3 || (notification && w.size() != 5)) {
        return notification ? "error expected: notify PORT HID CLASS CODE" : "error expected: report PORT HID [HEX...]";
    }
    auto item = std::make_shared<Delivery>();
    const Device* device = findDevice(w[1]);
    if (device == nullptr) return "error unknown port " + w[1];
    if (!numberIn(w[2], 0, device->hidCount - 1, item->hid)) return "error no hid " + w[2] + " on " + w[1];
    item->notification = notification;
    item->port = device->port;
    item->handle = device->hids[static_cast<size_t>(item->hid)];
    long long cls = 0, code = 0;
    if (notification && (!numberIn(w[3], 0, UINT32_MAX, cls) || !numberIn(w[4], 0, UINT32_MAX, code))) {
        return "error bad class or code";
    }
    item->notificationClass = static_cast<uint32_t>(cls);
    item->code = static_cast<uint32_t>(code);
    for (size_t i = 3; !notification && i < w.size(); ++i) {
        const std::string& hex = w[i];
        if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
            return "error not hex byte pairs: '" + hex + "'";
        }
        for (size_t at = 0; at < hex.size(); at += 2) {
            item->bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(at, 2).c_str(), nullptr, 16)));
        }
    }
    service.queue.push_back(item);
    changed();
    const DWORD start = GetTickCount();
    while (!item->done) {
        if (service.stopping) return "error the library is shutting down";
        const DWORD waited = GetTickCount() - start;
        if (waited >= kReplyWaitMs) return "error timeout: the callback has not returned after 30 s";
        hold.wait(kReplyWaitMs - waited);
    }
    return item->delivered ? "ok delivered result=" + std::to_string(item->result) : "ok not registered";
}

// A report storm: `threads` callers each hand `count` generated reports straight to the
// registered callback, so a test can send millions without a pipe round trip each.
struct StormSpec {
    DcsHandle handle = 0;
    long long count = 0;
    uint32_t seed = 1;
    long long mutatePermille = 0;
    bool exact = false;  // the bases in turn, unchanged
    std::vector<std::vector<uint8_t>> bases;
};

struct StormTally {
    long long delivered = 0, unregistered = 0;
    std::map<LONG, long long> results;
};

struct StormThread {
    const StormSpec* spec;
    uint32_t seed;
    StormTally tally;
};

uint32_t nextRandom(uint32_t& state) {  // xorshift32: repeatable from the seed
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Lengths 0 to 64; random bytes, half of them with the panel-report first byte, or now and then
// one of the bases with one to three bytes changed.
std::vector<uint8_t> stormReport(const StormSpec& spec, uint32_t& state, long long index) {
    if (spec.exact && !spec.bases.empty()) return spec.bases[static_cast<size_t>(index) % spec.bases.size()];
    std::vector<uint8_t> bytes;
    if (!spec.bases.empty() && static_cast<long long>(nextRandom(state) % 1000) < spec.mutatePermille) {
        bytes = spec.bases[nextRandom(state) % spec.bases.size()];
        for (uint32_t changes = 1 + nextRandom(state) % 3; changes-- > 0 && !bytes.empty();) {
            bytes[nextRandom(state) % bytes.size()] = static_cast<uint8_t>(nextRandom(state));
        }
        if (nextRandom(state) % 8 == 0) bytes.resize(nextRandom(state) % 65);
        return bytes;
    }
    bytes.resize(nextRandom(state) % 65);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(nextRandom(state));
    if (!bytes.empty() && nextRandom(state) % 2 == 0) bytes[0] = 1;
    return bytes;
}

DWORD WINAPI stormThread(void* parameter) {
    StormThread& run = *static_cast<StormThread*>(parameter);
    uint32_t state = run.seed != 0 ? run.seed : 1;
    for (long long i = 0; i < run.spec->count; ++i) {
        const std::vector<uint8_t> bytes = stormReport(*run.spec, state, i);
        Locked hold;
        // A monitor that re-enumerates unregisters for a moment: the storm waits for it to
        // register again rather than running through the rest undelivered.
        auto found = g_state.hids.find(run.spec->handle);
        for (const DWORD start = GetTickCount();
             (found == g_state.hids.end() || found->second.report == nullptr) && GetTickCount() - start < kStormWaitMs;
             found = g_state.hids.find(run.spec->handle)) {
            hold.wait(50);
        }
        if (found == g_state.hids.end() || found->second.report == nullptr) {
            ++run.tally.unregistered;
            continue;
        }
        const HidState hid = found->second;
        g_state.inFlight.push_back({GetCurrentThreadId(), run.spec->handle});
        hold.unlock();
        static const uint8_t kNothing = 0;
        const LONG result = hid.report(hid.reportClient, run.spec->handle, bytes.empty() ? &kNothing : bytes.data(),
                                       static_cast<uint32_t>(bytes.size()));
        hold.lock();
        auto& inFlight = g_state.inFlight;
        inFlight.erase(std::find_if(inFlight.begin(), inFlight.end(),
                                    [](const InFlight& f) { return f.thread == GetCurrentThreadId(); }));
        changed();
        ++run.tally.delivered;
        ++run.tally.results[result];
    }
    return 0;
}

// storm PORT HID COUNT SEED [threads=N] [mutate=PERMILLE] [base=HEX]...
std::string storm(const std::vector<std::string>& w) {
    if (w.size() < 5) return "error expected: storm PORT HID COUNT SEED [threads=N] [mutate=PERMILLE] [exact=0|1] [base=HEX]...";
    StormSpec spec;
    long long hid = 0, seed = 0, threads = 1;
    {
        Locked hold;
        const Device* device = findDevice(w[1]);
        if (device == nullptr) return "error unknown port " + w[1];
        if (!numberIn(w[2], 0, device->hidCount - 1, hid)) return "error no hid " + w[2] + " on " + w[1];
        spec.handle = device->hids[static_cast<size_t>(hid)];
    }
    if (!numberIn(w[3], 1, 100000000, spec.count) || !numberIn(w[4], 0, UINT32_MAX, seed)) {
        return "error bad count or seed";
    }
    spec.seed = static_cast<uint32_t>(seed);
    for (size_t i = 5; i < w.size(); ++i) {
        std::string key, value;
        if (!keyValue(w[i], key, value)) return "error bad word '" + w[i] + "'";
        if (key == "threads" && numberIn(value, 1, 64, threads)) continue;
        if (key == "mutate" && numberIn(value, 0, 1000, spec.mutatePermille)) continue;
        if (key == "exact" && (value == "0" || value == "1")) {
            spec.exact = value == "1";
            continue;
        }
        if (key == "base" && !value.empty() && value.size() % 2 == 0 &&
            std::all_of(value.begin(), value.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
            std::vector<uint8_t> bytes;
            for (size_t at = 0; at < value.size(); at += 2) {
                bytes.push_back(static_cast<uint8_t>(std::strtoul(value.substr(at, 2).c_str(), nullptr, 16)));
            }
            spec.bases.push_back(std::move(bytes));
            continue;
        }
        return "error bad value '" + w[i] + "'";
    }
    std::vector<StormThread> runs;
    for (long long t = 0; t < threads; ++t) runs.push_back({&spec, spec.seed + static_cast<uint32_t>(t) * 7919u, {}});
    std::vector<UniqueHandle> started;
    for (StormThread& run : runs) {
        UniqueHandle thread(CreateThread(nullptr, 0, stormThread, &run, 0, nullptr));
        if (!thread) {
            stormThread(&run);  // no thread to spare: this one does the share itself
        } else {
            started.push_back(std::move(thread));
        }
    }
    for (const UniqueHandle& thread : started) WaitForSingleObject(thread.get(), INFINITE);
    StormTally total;
    for (const StormThread& run : runs) {
        total.delivered += run.tally.delivered;
        total.unregistered += run.tally.unregistered;
        for (const auto& [result, times] : run.tally.results) total.results[result] += times;
    }
    std::string reply = "ok storm sent=" + num(static_cast<unsigned long long>(spec.count * threads)) +
                        " delivered=" + num(static_cast<unsigned long long>(total.delivered)) +
                        " unregistered=" + num(static_cast<unsigned long long>(total.unregistered)) + " results=";
    bool first = true;
    for (const auto& [result, times] : total.results) {
        reply += (first ? "" : ",") + std::to_string(result) + ":" + num(static_cast<unsigned long long>(times));
        first = false;
    }
    return reply;
}

std::string execute(Service& service, const std::string& line) {
    const auto w = words(line);
    if (w.empty()) return "error empty command";
    if (w[0] == "report" || w[0] == "notify") return inject(service, w);
    if (w[0] == "storm") {
        const std::string reply = storm(w);
        journal("command " + line + " -> " + reply);
        return reply;
    }
    Locked hold;
    if (w[0] == "ping" && w.size() == 1) return "ok pong";
    if (w[0] == "resources" && w.size() == 1) return processResources();
    if (w[0] == "devices" && w.size() == 1) return listDevices();
    std::string reply;
    bool devicesChanged = false;
    if (w[0] == "arrive") {
        Device device;
        const std::string problem = parseDevice(w, 1, device);
        devicesChanged = problem.empty();
        if (devicesChanged) {
            const Device& added = addDevice(std::move(device));
            reply = "ok added port=" + added.port + " hids=" + handleList(added.hids);
        } else {
            reply = "error " + problem;
        }
    } else if (w[0] == "remove" && w.size() == 2) {
        auto found = std::find_if(g_state.devices.begin(), g_state.devices.end(),
                                  [&](const Device& d) { return sameText(d.port, w[1]); });
        devicesChanged = found != g_state.devices.end();
        if (devicesChanged) {
            const Device removed = *found;
            g_state.devices.erase(found);
            g_state.scannerOpens.erase(removed.scanner);
            for (DcsHandle hid : removed.hids) g_state.hids.erase(hid);
            for (DcsHandle hid : removed.hids) waitForDeliveries(hold, hid, "remove " + removed.port);
            reply = "ok removed port=" + removed.port;
        } else {
            reply = "error unknown port " + w[1];
        }
    } else if (w[0] == "fail") {
        Fault fault;
        const std::string problem = parseFault(w, 1, fault);
        if (problem.empty()) setFault(fault);
        reply = !problem.empty() ? "error " + problem
                                 : "ok fail " + fault.kind + " " + w[2] + (fault.port.empty() ? "" : " port=" + fault.port);
    } else {
        reply = "error unknown command '" + w[0] + "'";
    }
    hold.unlock();
    if (devicesChanged) {
        int windows = 0;
        EnumWindows(postToWindow, reinterpret_cast<LPARAM>(&windows));
        reply += " windows=" + num(windows);
    }
    journal("command " + line + " -> " + reply);
    return reply;
}

// Completes an overlapped call; false when it failed, timed out or the service stopped.
bool finishIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, HANDLE stop, DWORD timeoutMs, DWORD& bytes) {
    if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
    HANDLE waits[2] = {stop, overlapped.hEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, timeoutMs) != WAIT_OBJECT_0 + 1) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &bytes, FALSE) != 0;
}

void serveClient(ThreadStart& start) {
    Service& service = *start.service;
    const HANDLE pipe = start.pipe.get();
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::string pending;
    char buffer[1024];
    while (event && pending.size() <= 65536) {
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string reply;
            try {
                reply = execute(service, line) + "\n";
            } catch (const std::exception& e) {
                reply = std::string("error ") + e.what() + "\n";
            }
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event.get();
            DWORD written = 0;
            const BOOL sent = WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), nullptr, &overlapped);
            if (!finishIo(pipe, overlapped, sent, service.stop.get(), kClientIdleMs, written)) return;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.get();
        DWORD read = 0;
        const BOOL got = ReadFile(pipe, buffer, sizeof(buffer), nullptr, &overlapped);
        if (!finishIo(pipe, overlapped, got, service.stop.get(), kClientIdleMs, read) || read == 0) return;
        pending.append(buffer, read);
    }
}

HANDLE newInstance() {
    return CreateNamedPipeA(("\\\\.\\pipe\\" + g_name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                            nullptr);
}

// Each client gets a thread of its own, so a silent or slow client never holds up another. The
// next instance exists before a connected one is handed over: a client always finds one.
void servePipe(ThreadStart& start) {
    Service& service = *start.service;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle pipe = std::move(start.pipe);
    while (event && WaitForSingleObject(service.stop.get(), 0) == WAIT_TIMEOUT) {
        if (!pipe) pipe.reset(newInstance());
        if (!pipe) {
            journal("pipe \\\\.\\pipe\\" + g_name + " not served, error " + num(GetLastError()));
            WaitForSingleObject(service.stop.get(), 1000);
            continue;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        DWORD unused = 0;
        const BOOL connected = ConnectNamedPipe(pipe.get(), &overlapped);
        if ((!connected && GetLastError() == ERROR_PIPE_CONNECTED) ||
            finishIo(pipe.get(), overlapped, connected, service.stop.get(), INFINITE, unused)) {
            UniqueHandle next(newInstance());
            Locked hold;
            if (!service.stopping) startThread(start.service, serveClient, pipe.release());
            pipe = std::move(next);
        } else {
            pipe.reset();  // the client left before it was served
        }
    }
}

// With the lock held. The pipe exists when DcsInitialize returns.
bool startService() {
    auto service = std::make_shared<Service>();
    service->stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!service->stop) return false;
    if (!startThread(service, deliverLoop) || !startThread(service, servePipe, newInstance())) {
        service->stopping = true;
        SetEvent(service->stop.get());
        changed();
        return false;
    }
    g_state.service = std::move(service);
    return true;
}

std::string propertyName(const char* descriptor) {
    if (descriptor == nullptr) return "(null)";
    const std::string text = descriptor;
    const size_t open = text.find("<Name>"), close = text.find("</Name>");
    if (open == std::string::npos || close == std::string::npos || close < open) return "'" + text + "'";
    return text.substr(open + 6, close - open - 6);
}

LONG enumSpecific(const char* name, uint32_t clientId, const char* portName, DcsHandle* handle, bool scanner) {
    Locked hold;
    const std::string call = std::string(name) + " client=" + num(clientId) + " port=" + text(portName);
    LONG code = clientCheck(clientId);
    if (code == 0 && (portName == nullptr || handle == nullptr)) code = ERROR_INVALID_PARAMETER;
    if (code != 0) return done(call, code);
    *handle = 0;
    if (takeFault("enumspecific", portName, code)) return done(call, code, "(fault)");
    size_t hidIndex = 0;
    const Device* device = findPortName(portName, hidIndex);
    if (device == nullptr) return done(call, ERROR_FILE_NOT_FOUND);
    *handle = scanner ? device->scanner : device->hids[hidIndex];
    return done(call, 0, "handle=" + num(*handle));
}

template <typename Callback>
LONG registerFor(const char* name, const char* fault, uint32_t clientId, DcsHandle handle, Callback callback) {
    Locked hold;
    const std::string call = std::string(name) + " client=" + num(clientId) + " handle=" + num(handle);
    LONG code = 0;
    const Device* device = hidCall(clientId, handle, code);
    auto state = g_state.hids.find(handle);
    if (code == 0 && callback == nullptr) code = ERROR_INVALID_PARAMETER;
    if (code == 0 && (state == g_state.hids.end() || state->second.opens == 0)) code = ERROR_INVALID_HANDLE;
    if (code != 0) return done(call, code, code == ERROR_INVALID_HANDLE && device ? "(not open)" : "");
    if (takeFault(fault, device->port, code)) return done(call, code, "(fault)");
    if constexpr (std::is_same_v<Callback, ReportCallback>) {
        state->second.report = callback;
        state->second.reportClient = clientId;
    } else {
        state->second.notify = callback;
    }
    return done(call, 0);
}

LONG unregisterFor(const char* name, uint32_t clientId, DcsHandle handle, bool reports) {
    Locked hold;
    const std::string call = std::string(name) + " client=" + num(clientId) + " handle=" + num(handle);
    LONG code = 0;
    hidCall(clientId, handle, code);
    if (code != 0) return done(call, code);
    auto state = g_state.hids.find(handle);
    bool was = false;
    if (state != g_state.hids.end() && reports) was = std::exchange(state->second.report, nullptr) != nullptr;
    if (state != g_state.hids.end() && !reports) was = std::exchange(state->second.notify, nullptr) != nullptr;
    waitForDeliveries(hold, handle, call);
    return done(call, 0, was ? "" : "(was not registered)");
}
}  // namespace

// ---- entry points ----

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        DisableThreadLibraryCalls(instance);
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        g_base.assign(path, length < MAX_PATH ? length : 0);
        const size_t slash = g_base.rfind('\\'), dot = g_base.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) g_base.erase(dot);
        g_name = slash == std::string::npos ? g_base : g_base.substr(slash + 1);
    }
    return TRUE;
}

extern "C" LONG WINAPI DcsInitialize() {
    Locked hold;
    ensureLoaded();
    LONG code = 0;
    if (takeFault("init", "", code)) {
        done("DcsInitialize", code, "(fault)");
        SetLastError(static_cast<DWORD>(code));
        return code;
    }
    if (g_state.initCount == 0 && !startService()) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
        done("DcsInitialize", static_cast<LONG>(error), "(threads not started)");
        SetLastError(error);
        return static_cast<LONG>(error);
    }
    return done("DcsInitialize", 0, "uses=" + num(++g_state.initCount));
}

extern "C" LONG WINAPI DcsUninitialize() {
    std::shared_ptr<Service> service;
    {
        Locked hold;
        ensureLoaded();
        if (g_state.initCount == 0) return done("DcsUninitialize", 0, "(not initialised)");
        if (--g_state.initCount > 0) return done("DcsUninitialize", 0, "uses=" + num(g_state.initCount));
        // The last use: registrations and opens end with the threads that serve them.
        service = std::move(g_state.service);
        g_state.hids.clear();
        g_state.scannerOpens.clear();
        service->stopping = true;
        SetEvent(service->stop.get());
        changed();
        done("DcsUninitialize", 0, "uses=0");
    }
    // Called from one of its own threads (a callback), it cannot wait for them.
    const auto& ids = service->threadIds;
    if (std::find(ids.begin(), ids.end(), GetCurrentThreadId()) != ids.end()) return 0;
    const DWORD start = GetTickCount();
    for (const UniqueHandle& thread : service->threads) {
        const DWORD waited = GetTickCount() - start;
        if (WaitForSingleObject(thread.get(), waited < kStopWaitMs ? kStopWaitMs - waited : 0) != WAIT_OBJECT_0) {
            journal("DcsUninitialize gave up waiting for the library's threads");
            break;
        }
    }
    return 0;
}

extern "C" LONG WINAPI DcsInstall() {
    Locked hold;
    ensureLoaded();
    return done("DcsInstall", 0);
}

extern "C" LONG WINAPI DcsGetClientId(uint32_t* clientId, const char* hostName) {
    Locked hold;
    const std::string call = "DcsGetClientId host=" + text(hostName);
    ensureLoaded();
    LONG code = 0;
    if (g_state.initCount == 0) return done(call, ERROR_NOT_READY);
    if (clientId == nullptr) return done(call, ERROR_INVALID_PARAMETER);
    *clientId = 0;
    if (hostName != nullptr && hostName[0] != '\0') {
        char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = sizeof(computer);
        const char* bare = hostName[0] == '\\' && hostName[1] == '\\' ? hostName + 2 : hostName;
        if (!GetComputerNameA(computer, &size) || _stricmp(bare, computer) != 0) return done(call, ERROR_BAD_NETPATH);
    }
    if (takeFault("clientid", "", code)) return done(call, code, "(fault)");
    *clientId = g_state.nextClient++;
    return done(call, 0, "client=" + num(*clientId));
}

extern "C" LONG WINAPI DcsDiscovery(uint32_t clientId, const char* transport, const char* second) {
    Locked hold;
    const std::string call = "DcsDiscovery client=" + num(clientId) + " transport=" + text(transport) +
                             " second=" + text(second);
    LONG code = clientCheck(clientId);
    if (code == 0 && transport == nullptr) code = ERROR_INVALID_PARAMETER;
    if (code == 0 && takeFault("discovery", "", code)) return done(call, code, "(fault)");
    return done(call, code);
}

extern "C" LONG WINAPI DcsEnumHids(uint32_t clientId, const char* transport, const char* second,
                                   EnumCallback callback) {
    Locked hold;
    const std::string call = "DcsEnumHids client=" + num(clientId) + " transport=" + text(transport) +
                             " second=" + text(second);
    LONG code = clientCheck(clientId);
    if (code == 0 && (transport == nullptr || callback == nullptr)) code = ERROR_INVALID_PARAMETER;
    if (code != 0) return done(call, code);
    if (takeFault("enum", "", code)) return done(call, code, "(fault)");
    const bool all = sameText(transport, kTransportLocal) || sameText(transport, "ALL_TRANSPORT");
    std::vector<DcsHandle> found;
    for (const Device& device : g_state.devices) {
        if (all || sameText(device.transport, transport)) found.insert(found.end(), device.hids.begin(), device.hids.end());
    }
    // The callbacks call back into the library (properties, other bindings): not under the lock.
    hold.unlock();
    std::string results;
    for (size_t i = 0; i < found.size(); ++i) {
        const LONG result = callback(static_cast<uint32_t>(i + 1), found[i]);
        char value[16];
        std::snprintf(value, sizeof(value), result == 0 ? "%ld" : "0x%08lX", static_cast<long>(result));
        results += (i == 0 ? "" : ",") + std::string(value);
    }
    return done(call, 0, "handles=" + handleList(found) + " results=" + results);
}

extern "C" LONG WINAPI DcsEnumSpecificHid(uint32_t clientId, const char* portName, DcsHandle* handle) {
    return enumSpecific("DcsEnumSpecificHid", clientId, portName, handle, false);
}

extern "C" LONG WINAPI DcsEnumSpecificScanner(uint32_t clientId, const char* portName, DcsHandle* handle) {
    return enumSpecific("DcsEnumSpecificScanner", clientId, portName, handle, true);
}

extern "C" LONG WINAPI DcsGetStringHid(uint32_t clientId, DcsHandle handle, const char* descriptor, char* buffer,
                                       uint32_t bufferSize, uint32_t* length) {
    Locked hold;
    const std::string call = "DcsGetStringHid client=" + num(clientId) + " handle=" + num(handle) +
                             " property=" + propertyName(descriptor) + " size=" + num(bufferSize);
    LONG code = 0;
    const Device* device = hidCall(clientId, handle, code);
    if (code == 0 && (descriptor == nullptr || length == nullptr)) code = ERROR_INVALID_PARAMETER;
    if (code != 0) return done(call, code);
    *length = 0;
    if (takeFault("getstring", device->port, code)) return done(call, code, "(fault)");
    std::string value;
    if (std::strcmp(descriptor, kDescriptorPortname) == 0) {
        value = hidPortName(*device, handle);
    } else if (std::strcmp(descriptor, kDescriptorTransport) == 0) {
        value = device->transport;
    } else if (std::strcmp(descriptor, kDescriptorScannerModel) == 0) {
        value = device->model;
    } else {
        return done(call, ERROR_INVALID_PARAMETER, "(unknown descriptor)");
    }
    const uint32_t needed = static_cast<uint32_t>(value.size() + 1);
    if (buffer == nullptr || bufferSize < needed) {
        *length = needed;
        return done(call, ERROR_INSUFFICIENT_BUFFER, "needed=" + num(needed));
    }
    std::memcpy(buffer, value.c_str(), needed);
    *length = needed - 1;
    return done(call, 0, "value=" + value);
}

extern "C" LONG WINAPI DcsGetLongHid(uint32_t clientId, DcsHandle handle, const char* descriptor, int32_t* value) {
    static const char kVid[] = "<Name>Vid</Name><Type>Long</Type><Access>ReadOnly</Access>";
    static const char kPid[] = "<Name>Pid</Name><Type>Long</Type><Access>ReadOnly</Access>";
    Locked hold;
    const std::string call = "DcsGetLongHid client=" + num(clientId) + " handle=" + num(handle) +
                             " property=" + propertyName(descriptor);
    LONG code = 0;
    const Device* device = hidCall(clientId, handle, code);
    if (code == 0 && (descriptor == nullptr || value == nullptr)) code = ERROR_INVALID_PARAMETER;
    if (code != 0) return done(call, code);
    if (std::strcmp(descriptor, kVid) != 0 && std::strcmp(descriptor, kPid) != 0) {
        return done(call, ERROR_INVALID_PARAMETER, "(unknown descriptor)");
    }
    *value = std::strcmp(descriptor, kVid) == 0 ? device->vid : device->pid;
    return done(call, 0, "value=" + std::to_string(*value));
}

extern "C" LONG WINAPI DcsGetCurrentStateHid(uint32_t clientId, DcsHandle handle, uint32_t* state) {
    Locked hold;
    const std::string call = "DcsGetCurrentStateHid client=" + num(clientId) + " handle=" + num(handle);
    LONG code = 0;
    const Device* device = hidCall(clientId, handle, code);
    if (code == 0 && state == nullptr) code = ERROR_INVALID_PARAMETER;
    if (code != 0) return done(call, code);
    *state = takeFault("state", device->port, code) ? kHidStateFailed : 1;
    return done(call, 0, "state=" + num(*state));
}

extern "C" LONG WINAPI DcsOpenHid(uint32_t clientId, DcsHandle handle) {
    Locked hold;
    const std::string call = "DcsOpenHid client=" + num(clientId) + " handle=" + num(handle);
    LONG code = 0;
    const Device* device = hidCall(clientId, handle, code);
    if (code != 0) return done(call, code);
    if (takeFault("open", device->port, code)) return done(call, code, "(fault)");
    return done(call, 0, "opens=" + num(++g_state.hids[handle].opens));
}

extern "C" LONG WINAPI DcsOpenScanner(uint32_t clientId, DcsHandle handle) {
    Locked hold;
    const std::string call = "DcsOpenScanner client=" + num(clientId) + " handle=" + num(handle);
    LONG code = clientCheck(clientId);
    const Device* device = code == 0 ? findScanner(handle) : nullptr;
    if (code == 0 && device == nullptr) code = ERROR_INVALID_HANDLE;
    if (code != 0) return done(call, code);
    if (takeFault("openscanner", device->port, code)) return done(call, code, "(fault)");
    return done(call, 0, "opens=" + num(++g_state.scannerOpens[handle]));
}

extern "C" LONG WINAPI DcsCloseHid(uint32_t clientId, DcsHandle handle) {
    Locked hold;
    const std::string call = "DcsCloseHid client=" + num(clientId) + " handle=" + num(handle);
    LONG code = 0;
    hidCall(clientId, handle, code);
    auto state = g_state.hids.find(handle);
    if (code == 0 && (state == g_state.hids.end() || state->second.opens == 0)) code = ERROR_INVALID_HANDLE;
    if (code != 0) return done(call, code);
    const unsigned opens = --state->second.opens;
    if (opens == 0) {  // the last close ends the handle's registrations
        g_state.hids.erase(state);
        waitForDeliveries(hold, handle, call);
    }
    return done(call, 0, "opens=" + num(opens));
}

extern "C" LONG WINAPI DcsCloseScanner(uint32_t clientId, DcsHandle handle) {
    Locked hold;
    const std::string call = "DcsCloseScanner client=" + num(clientId) + " handle=" + num(handle);
    LONG code = clientCheck(clientId);
    auto opens = g_state.scannerOpens.find(handle);
    if (code == 0 && opens == g_state.scannerOpens.end()) code = ERROR_INVALID_HANDLE;
    if (code != 0) return done(call, code);
    const unsigned left = --opens->second;
    if (left == 0) g_state.scannerOpens.erase(opens);
    return done(call, 0, "opens=" + num(left));
}

extern "C" LONG WINAPI DcsRegisterForReportsHid(uint32_t clientId, DcsHandle handle, ReportCallback callback) {
    return registerFor("DcsRegisterForReportsHid", "reports", clientId, handle, callback);
}

extern "C" LONG WINAPI DcsRegisterForNotificationsHid(uint32_t clientId, DcsHandle handle,
                                                      NotificationCallback callback) {
    return registerFor("DcsRegisterForNotificationsHid", "notifications", clientId, handle, callback);
}

extern "C" LONG WINAPI DcsUnregisterForReportsHid(uint32_t clientId, DcsHandle handle) {
    return unregisterFor("DcsUnregisterForReportsHid", clientId, handle, true);
}

extern "C" LONG WINAPI DcsUnregisterForNotificationsHid(uint32_t clientId, DcsHandle handle) {
    return unregisterFor("DcsUnregisterForNotificationsHid", clientId, handle, false);
}

// The exports have exactly the contract's types.
static_assert(std::is_same_v<decltype(&DcsInitialize), DcsInitializeFn>);
static_assert(std::is_same_v<decltype(&DcsUninitialize), DcsUninitializeFn>);
static_assert(std::is_same_v<decltype(&DcsInstall), DcsInstallFn>);
static_assert(std::is_same_v<decltype(&DcsGetClientId), DcsGetClientIdFn>);
static_assert(std::is_same_v<decltype(&DcsDiscovery), DcsDiscoveryFn>);
static_assert(std::is_same_v<decltype(&DcsEnumHids), DcsEnumHidsFn>);
static_assert(std::is_same_v<decltype(&DcsEnumSpecificHid), DcsEnumSpecificFn>);
static_assert(std::is_same_v<decltype(&DcsEnumSpecificScanner), DcsEnumSpecificFn>);
static_assert(std::is_same_v<decltype(&DcsGetStringHid), DcsGetStringHidFn>);
static_assert(std::is_same_v<decltype(&DcsGetLongHid), DcsGetLongHidFn>);
static_assert(std::is_same_v<decltype(&DcsGetCurrentStateHid), DcsGetCurrentStateFn>);
static_assert(std::is_same_v<decltype(&DcsOpenHid), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsOpenScanner), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsCloseHid), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsCloseScanner), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsUnregisterForReportsHid), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsUnregisterForNotificationsHid), DcsHandleFn>);
static_assert(std::is_same_v<decltype(&DcsRegisterForReportsHid), DcsRegisterForReportsHidFn>);
static_assert(std::is_same_v<decltype(&DcsRegisterForNotificationsHid), DcsRegisterForNotificationsHidFn>);
