// Stand-in for the device communication library: simulated devices whose panels a test or the
// panel tool drives through a named pipe, and a journal of every call.
//
// Files beside the DLL, named after it (<name> = the DLL's file name without ".dll"):
//   <name>.scenario   devices and faults, read at the first call after each load (Scenario.cpp)
//   <name>.journal    one line per entry-point call, delivery and control command, appended
// Control pipe: \\.\pipe\<name>, served from the first successful DcsInitialize to the last
// DcsUninitialize, so copies under other names never collide (commands: Commands.cpp).
//
// Values: device n (counted from 1 in order of appearance) has HID handles n*256+1, n*256+2...
// and scanner handle n*256+128; the first HID interface's Portname is the device's port, the
// others' "<port>#<index>", and both forms name the device in the enumerate-specific calls;
// client identities count from 1. An EnumCallback's first value is the 1-based position in the
// enumeration, a ReportCallback's the registering client.
// Results: 0 success, 2 unknown port, 5 unknown client, 6 unknown or unopened handle,
// 21 not initialised, 53 remote host, 87 bad argument or descriptor, 122 buffer too small
// (the length out-parameter then holds the size needed, terminator included).
//
// This header is what the parts share: the simulated devices and their lock (Devices.cpp), the
// scenario and its words (Scenario.cpp), the fault table (Faults.cpp), the service threads and
// the pipe (Service.cpp), the control commands (Commands.cpp, Storm.cpp); the entry points are
// in EntryPoints.cpp.
#pragma once

#include "DcsContract.h"
#include "Handles.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace devlink {

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
    bool starved = false;  // delivered while the process gets no more memory
    bool escaped = false;  // an exception came back out of the callback
    std::string port;
    long long hid = 0;
    DcsHandle handle = 0;
    DcsHandle asHandle = 0;  // handed to the callback instead of `handle` when not 0
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

extern HMODULE g_self;
extern std::string g_name;     // the DLL's file name without ".dll": the pipe's and the files' name
extern std::string g_journal;  // the journal's path, found once: a call journals several lines
extern State g_state;       // under the lock of Locked

// The one lock over g_state, and the condition that every change of it signals.
class Locked {
public:
    Locked();
    ~Locked();
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    void unlock();
    void lock();
    void wait(DWORD ms);

private:
    bool held_ = true;
};
void changed();

// ---- journal and text (Devices.cpp) ----
void journal(const std::string& line);
// Journals "<call> -> <code> [extra]" and returns the code.
LONG done(const std::string& call, LONG code, const std::string& extra = "");
std::string num(unsigned long long value);
std::string text(const char* value);
bool sameText(const std::string& a, const std::string& b);
std::string handleList(const std::vector<DcsHandle>& handles);

// ---- the simulated devices, with the lock held (Devices.cpp) ----
Device* findDevice(const std::string& port);
// The device of a port name with or without an interface suffix, and the interface it names.
Device* findPortName(const std::string& portName, size_t& hidIndex);
Device* findHid(DcsHandle handle);
Device* findScanner(DcsHandle handle);
std::string hidPortName(const Device& device, DcsHandle handle);
Device& addDevice(Device device);
// 0, or the result for a call made before DcsInitialize or with an identity never given out.
LONG clientCheck(uint32_t client);
// The checks of a per-HID call: its device, or null with `code` set.
const Device* hidCall(uint32_t client, DcsHandle handle, LONG& code);
// Returns once no callback for `handle` (0: any) runs on another thread.
void waitForDeliveries(Locked& hold, DcsHandle handle, const std::string& call);
// While it lives, the program that loaded this library gets no more than scraps of memory from
// malloc and realloc (Starve.cpp).
class MemoryStarvation {
public:
    MemoryStarvation();
    ~MemoryStarvation();
    MemoryStarvation(const MemoryStarvation&) = delete;
    MemoryStarvation& operator=(const MemoryStarvation&) = delete;

private:
    struct TurnedAway {
        void** slot;
        void* original;
        DWORD protection;
    };
    std::vector<TurnedAway> turnedAway_;
};

// Runs `call` (a callback into the client) outside the lock, counted as in flight for `handle`.
template <typename Call>
LONG callOutside(Locked& hold, DcsHandle handle, Call call);

// ---- the fault table (Faults.cpp) ----
std::string parseFault(const std::vector<std::string>& w, size_t first, Fault& fault);
// Replaces the fault of the same kind and port; a count of 0 clears it.
void setFault(const Fault& fault);
// Takes off what this process used already of the scenario's faults.
void applyUsedFaults();
// True when a fault of `kind` applies to `port`; uses it up once.
bool takeFault(const char* kind, const std::string& port, LONG& code);

// ---- words of the scenario and the pipe (Scenario.cpp) ----
std::vector<std::string> words(const std::string& line);
bool keyValue(const std::string& word, std::string& key, std::string& value);
// Decimal, or hexadecimal with 0x.
bool number(const std::string& word, long long& value);
bool numberIn(const std::string& word, long long low, long long high, long long& value);
// Hex byte pairs without separators; false when the text is anything else.
bool hexBytes(const std::string& hex, std::vector<uint8_t>& bytes);
// Reads the key=value words of a device line; "" or what is wrong.
std::string parseDevice(const std::vector<std::string>& w, size_t first, Device& device);
// Reads the scenario at the first call after each load.
void ensureLoaded();

// ---- service threads and the pipe (Service.cpp) ----
// With the lock held. The pipe exists when DcsInitialize returns.
bool startService();

// ---- control commands (Commands.cpp, Storm.cpp) ----
std::string execute(Service& service, const std::string& line);
std::string storm(const std::vector<std::string>& w);

template <typename Call>
LONG callOutside(Locked& hold, DcsHandle handle, Call call) {
    g_state.inFlight.push_back({GetCurrentThreadId(), handle});
    hold.unlock();
    const LONG result = call();
    hold.lock();
    auto& inFlight = g_state.inFlight;
    for (auto it = inFlight.begin(); it != inFlight.end(); ++it) {
        if (it->thread == GetCurrentThreadId()) {
            inFlight.erase(it);
            break;
        }
    }
    return result;
}

}  // namespace devlink
