// The simulated devices: the state every part shares, its lock, the journal, and the checks
// the entry points share.
#include "Simulator.h"

#include "ModuleFiles.h"

#include <algorithm>
#include <cstdlib>

namespace devlink {

HMODULE g_self = nullptr;
std::string g_name;
std::string g_journal;
State g_state;

namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_changed = CONDITION_VARIABLE_INIT;
}  // namespace

Locked::Locked() { AcquireSRWLockExclusive(&g_lock); }

Locked::~Locked() {
    if (held_) ReleaseSRWLockExclusive(&g_lock);
}

void Locked::unlock() {
    ReleaseSRWLockExclusive(&g_lock);
    held_ = false;
}

void Locked::lock() {
    AcquireSRWLockExclusive(&g_lock);
    held_ = true;
}

void Locked::wait(DWORD ms) { SleepConditionVariableSRW(&g_changed, &g_lock, ms, 0); }

void changed() { WakeAllConditionVariable(&g_changed); }

void journal(const std::string& line) { standin::journalLineTo(g_journal, line); }

LONG done(const std::string& call, LONG code, const std::string& extra) {
    journal(call + " -> " + std::to_string(code) + (extra.empty() ? "" : " " + extra));
    return code;
}

std::string num(unsigned long long value) { return std::to_string(value); }
std::string text(const char* value) { return value ? value : "(null)"; }
bool sameText(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

std::string handleList(const std::vector<DcsHandle>& handles) {
    std::string out;
    for (DcsHandle handle : handles) out += (out.empty() ? "" : ",") + num(handle);
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

Device& addDevice(Device device) {
    const DcsHandle base = g_state.nextDevice++ * 0x100;
    for (long long i = 0; i < device.hidCount; ++i) device.hids.push_back(base + 1 + static_cast<DcsHandle>(i));
    device.scanner = base + 0x80;
    g_state.devices.push_back(std::move(device));
    return g_state.devices.back();
}

LONG clientCheck(uint32_t client) {
    ensureLoaded();
    if (g_state.initCount == 0) return ERROR_NOT_READY;
    if (client == 0 || client >= g_state.nextClient) return ERROR_ACCESS_DENIED;
    return 0;
}

const Device* hidCall(uint32_t client, DcsHandle handle, LONG& code) {
    code = clientCheck(client);
    const Device* device = code == 0 ? findHid(handle) : nullptr;
    if (code == 0 && device == nullptr) code = ERROR_INVALID_HANDLE;
    return device;
}

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

}  // namespace devlink
