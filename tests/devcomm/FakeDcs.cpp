// A fake device communication library for the DcsClient tests. Every "Dcs..." entry point
// the binding counts its calls, keeps its last arguments (as 32-bit values) and returns a result a
// test sets; a few also fill their out-parameters. Control exports ("FakeDcs...") set results
// and read the record. The state lives in the DLL, so a test keeps its own LoadLibrary reference
// for as long as it reads it; loads and unloads by the binding show as DcsInitialize and
// DcsUninitialize calls.
//
// Built in variants (compile definitions) that lack entry points:
//   FAKE_PARTIAL      no DcsDiscovery, DcsResume, DcsOpenCardReader, DcsCloseCardReader,
//                     DcsRegisterForReportsHid, DcsStartJobPrinter, DcsStartJobPrinterW,
//                     DcsEndJobPrinter, DcsStartJobScanner, DcsEndJobScanner, DcsInstall,
//                     DcsUnregisterForSystemNotifications
//   FAKE_NO_INITIALIZE no DcsInitialize
//   FAKE_NO_CLIENT_ID  no DcsGetClientId
// Exported under bare names (linked with --kill-at), all __stdcall.
#include "DcsContract.h"

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {
struct Entry {
    LONG result = 0;
    uint32_t calls = 0;
    std::vector<uint32_t> lastArgs;
};

class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

struct State {
    std::map<std::string, Entry> entries;
    uint32_t nextClientId = 0x51;
    std::string lastHostName;
    std::vector<DcsHandle> enumHandles;
    std::string text;
    DcsHandle specificHandle = 0;
    int32_t longValue = 0;
    uint32_t stateValue = 0;
    uint32_t zeroIdCalls = 0;  // calls that take a client identity and got 0
};

Lock g_lock;
State g_state;

struct Held {
    Held() { g_lock.enter(); }
    ~Held() { g_lock.leave(); }
};

uint32_t value(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Counts the call, keeps its arguments and returns the set result.
LONG record(const char* name, bool takesClientId, std::initializer_list<uint32_t> args) {
    Held held;
    Entry& entry = g_state.entries[name];
    ++entry.calls;
    entry.lastArgs.assign(args.begin(), args.end());
    if (takesClientId && (args.size() == 0 || *args.begin() == 0)) ++g_state.zeroIdCalls;
    return entry.result;
}
}  // namespace

// ---- control exports --------------------------------------------------------------------------

FAKE_EXPORT void WINAPI FakeDcsReset() {
    Held held;
    g_state = State();
}

FAKE_EXPORT void WINAPI FakeDcsSetResult(const char* name, LONG result) {
    Held held;
    g_state.entries[name].result = result;
}

FAKE_EXPORT uint32_t WINAPI FakeDcsCallCount(const char* name) {
    Held held;
    auto found = g_state.entries.find(name);
    return found == g_state.entries.end() ? 0 : found->second.calls;
}

// Copies up to `max` of the last arguments; returns how many there were (0 when never called).
FAKE_EXPORT uint32_t WINAPI FakeDcsLastArgs(const char* name, uint32_t* out, uint32_t max) {
    Held held;
    auto found = g_state.entries.find(name);
    if (found == g_state.entries.end()) return 0;
    const std::vector<uint32_t>& args = found->second.lastArgs;
    for (uint32_t i = 0; i < args.size() && i < max; ++i) out[i] = args[i];
    return static_cast<uint32_t>(args.size());
}

FAKE_EXPORT void WINAPI FakeDcsLastHostName(char* buffer, uint32_t size) {
    Held held;
    if (size == 0) return;
    lstrcpynA(buffer, g_state.lastHostName.c_str(), static_cast<int>(size));
}

// The handles DcsEnumHids reports, one callback each, in order.
FAKE_EXPORT void WINAPI FakeDcsSetEnumHandles(const DcsHandle* handles, uint32_t count) {
    Held held;
    g_state.enumHandles.assign(handles, handles + count);
}

// The text of DcsGetStringHid, the handle of the enumerate-specific calls, the long of
// DcsGetLongHid and the state of the state getters.
#define FAKE_SETTER(name, type, field) \
    FAKE_EXPORT void WINAPI name(type v) { Held held; g_state.field = v; }
FAKE_SETTER(FakeDcsSetString, const char*, text)
FAKE_SETTER(FakeDcsSetSpecificHandle, DcsHandle, specificHandle)
FAKE_SETTER(FakeDcsSetLong, int32_t, longValue)
FAKE_SETTER(FakeDcsSetState, uint32_t, stateValue)
// The identity that the next successful DcsGetClientId hands out.
FAKE_SETTER(FakeDcsSetClientId, uint32_t, nextClientId)

FAKE_EXPORT uint32_t WINAPI FakeDcsZeroIdCalls() {
    Held held;
    return g_state.zeroIdCalls;
}

// ---- the library's own entry points --------------------------------------------------------

#ifndef FAKE_NO_INITIALIZE
// A failure also sets the thread's last error to the result, as a library would.
FAKE_EXPORT LONG WINAPI DcsInitialize() {
    LONG result = record("DcsInitialize", false, {});
    if (result != 0) SetLastError(static_cast<DWORD>(result));
    return result;
}
#endif

FAKE_EXPORT LONG WINAPI DcsUninitialize() { return record("DcsUninitialize", false, {}); }

#ifndef FAKE_NO_CLIENT_ID
FAKE_EXPORT LONG WINAPI DcsGetClientId(uint32_t* clientId, const char* hostName) {
    LONG result = record("DcsGetClientId", false, {value(clientId), value(hostName)});
    Held held;
    g_state.lastHostName = hostName != nullptr ? hostName : "(null)";
    if (result == 0 && clientId != nullptr) *clientId = g_state.nextClientId;
    return result;
}
#endif

FAKE_EXPORT LONG WINAPI DcsEnumHids(uint32_t clientId, const char* transport, const char* second,
                                    EnumCallback callback) {
    LONG result = record("DcsEnumHids", true, {clientId, value(transport), value(second), value(reinterpret_cast<void*>(callback))});
    if (result != 0 || callback == nullptr) return result;
    std::vector<DcsHandle> handles;
    {
        Held held;
        handles = g_state.enumHandles;
    }
    // Synchronously, on the caller's thread, without the fake's lock.
    for (size_t i = 0; i < handles.size(); ++i) callback(static_cast<uint32_t>(i + 1), handles[i]);
    return 0;
}

namespace {
LONG enumSpecific(const char* name, uint32_t clientId, const char* portName, DcsHandle* handle) {
    LONG result = record(name, true, {clientId, value(portName), value(handle)});
    Held held;
    if (result == 0 && handle != nullptr) *handle = g_state.specificHandle;
    return result;
}

LONG currentState(const char* name, uint32_t clientId, DcsHandle handle, uint32_t* state) {
    LONG result = record(name, true, {clientId, handle, value(state)});
    Held held;
    if (result == 0 && state != nullptr) *state = g_state.stateValue;
    return result;
}
}  // namespace

FAKE_EXPORT LONG WINAPI DcsEnumSpecificHid(uint32_t clientId, const char* portName, DcsHandle* handle) {
    return enumSpecific("DcsEnumSpecificHid", clientId, portName, handle);
}
FAKE_EXPORT LONG WINAPI DcsEnumSpecificScanner(uint32_t clientId, const char* portName, DcsHandle* handle) {
    return enumSpecific("DcsEnumSpecificScanner", clientId, portName, handle);
}

// The text and its length in characters; 122 with the size needed (terminator included) when
// the buffer is too small.
FAKE_EXPORT LONG WINAPI DcsGetStringHid(uint32_t clientId, DcsHandle handle, const char* descriptor, char* buffer,
                                        uint32_t bufferSize, uint32_t* length) {
    LONG result = record("DcsGetStringHid", true,
                         {clientId, handle, value(descriptor), value(buffer), bufferSize, value(length)});
    if (result != 0) return result;
    Held held;
    const uint32_t size = static_cast<uint32_t>(g_state.text.size());
    if (bufferSize < size + 1) {
        if (length != nullptr) *length = size + 1;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    memcpy(buffer, g_state.text.c_str(), size + 1);
    if (length != nullptr) *length = size;
    return 0;
}

FAKE_EXPORT LONG WINAPI DcsGetLongHid(uint32_t clientId, DcsHandle handle, const char* descriptor, int32_t* out) {
    LONG result = record("DcsGetLongHid", true, {clientId, handle, value(descriptor), value(out)});
    Held held;
    if (result == 0 && out != nullptr) *out = g_state.longValue;
    return result;
}

FAKE_EXPORT LONG WINAPI DcsGetCurrentStateHid(uint32_t clientId, DcsHandle handle, uint32_t* state) {
    return currentState("DcsGetCurrentStateHid", clientId, handle, state);
}
FAKE_EXPORT LONG WINAPI DcsGetCurrentStateScanner(uint32_t clientId, DcsHandle handle, uint32_t* state) {
    return currentState("DcsGetCurrentStateScanner", clientId, handle, state);
}

// ---- every other entry point: count, keep the arguments, return the set result ---------------
// FAKE_n: n 32-bit arguments, the first the client identity. LIB_n: n values, no identity.

#define PARAMS_1 uint32_t a1
#define PARAMS_2 PARAMS_1, uint32_t a2
#define PARAMS_3 PARAMS_2, uint32_t a3
#define PARAMS_4 PARAMS_3, uint32_t a4
#define PARAMS_5 PARAMS_4, uint32_t a5
#define PARAMS_6 PARAMS_5, uint32_t a6
#define PARAMS_7 PARAMS_6, uint32_t a7
#define FAKE_N(name, params, ...) \
    FAKE_EXPORT LONG WINAPI name(params) { return record(#name, true, {__VA_ARGS__}); }
#define FAKE_1(name) FAKE_N(name, PARAMS_1, a1)
#define FAKE_2(name) FAKE_N(name, PARAMS_2, a1, a2)
#define FAKE_3(name) FAKE_N(name, PARAMS_3, a1, a2, a3)
#define FAKE_4(name) FAKE_N(name, PARAMS_4, a1, a2, a3, a4)
#define FAKE_5(name) FAKE_N(name, PARAMS_5, a1, a2, a3, a4, a5)
#define FAKE_6(name) FAKE_N(name, PARAMS_6, a1, a2, a3, a4, a5, a6)
#define FAKE_7(name) FAKE_N(name, PARAMS_7, a1, a2, a3, a4, a5, a6, a7)
#define LIB_0(name) \
    FAKE_EXPORT LONG WINAPI name() { return record(#name, false, {}); }
#define LIB_1(name) \
    FAKE_EXPORT LONG WINAPI name(uint32_t a1) { return record(#name, false, {a1}); }

// In slot order of the binding; handle kinds take (identity, handle, values...).
FAKE_2(DcsCancelJobPrinter)
FAKE_5(DcsGetHostInfo)
FAKE_4(DcsSetHostInfo)
FAKE_2(DcsClosePrinter)
FAKE_2(DcsDeletePrinter)
#ifndef FAKE_PARTIAL
FAKE_3(DcsDiscovery)
FAKE_2(DcsEndJobPrinter)
#endif
FAKE_4(DcsEnumPrinters)
FAKE_3(DcsEnumSpecificPrinter)
FAKE_7(DcsExchangeNpaPrinter)
FAKE_7(DcsExchangeBidiPrinter)
FAKE_6(DcsGetByteArrayPrinter)
FAKE_5(DcsGetCachePrinter)
FAKE_3(DcsGetCurrentStatePrinter)
FAKE_5(DcsGetDiscoveryDefaults)
FAKE_4(DcsGetLongPrinter)
FAKE_6(DcsGetStringPrinter)
FAKE_2(DcsOpenPrinter)
FAKE_4(DcsRegisterForAlertsPrinter)
FAKE_4(DcsRegisterForNotificationsPrinter)
FAKE_5(DcsSetByteArrayPrinter)
FAKE_3(DcsSetDiscoveryDefaults)
FAKE_3(DcsSetClientInfo)
FAKE_4(DcsSetLongPrinter)
FAKE_5(DcsSetStringPrinter)
#ifndef FAKE_PARTIAL
FAKE_7(DcsStartJobPrinter)
FAKE_7(DcsStartJobPrinterW)
#endif
// DcsEnumHids, DcsEnumSpecificHid, DcsGetStringHid, DcsGetLongHid: above
FAKE_2(DcsOpenHid)
#ifndef FAKE_PARTIAL
FAKE_3(DcsRegisterForReportsHid)
#endif
FAKE_2(DcsUnregisterForReportsHid)
FAKE_3(DcsRegisterForNotificationsHid)
FAKE_2(DcsUnregisterForNotificationsHid)
FAKE_2(DcsCloseHid)
FAKE_2(DcsDeleteHid)
// DcsGetCurrentStateHid: above
FAKE_4(DcsEnumWindowsHids)
FAKE_4(DcsEnumWindowsScanners)
FAKE_4(DcsEnumWindowsPrinters)
FAKE_2(DcsCloseScanner)
#ifndef FAKE_PARTIAL
FAKE_2(DcsEndJobScanner)
#endif
FAKE_2(DcsCancelJobScanner)
FAKE_4(DcsEnumScanners)
// DcsEnumSpecificScanner: above
FAKE_7(DcsExchangeDataScanner)
FAKE_4(DcsGetLongScanner)
FAKE_6(DcsGetStringScanner)
FAKE_2(DcsOpenScanner)
#ifndef FAKE_PARTIAL
FAKE_3(DcsStartJobScanner)
#endif
FAKE_4(DcsRegisterForAsyncDataScanner)
FAKE_2(DcsUnregisterForAsyncDataScanner)
// DcsGetCurrentStateScanner: above
FAKE_2(DcsUnregisterForAlertsPrinter)
FAKE_2(DcsUnregisterForNotificationsPrinter)
FAKE_2(DcsValidatePortName)
FAKE_5(DcsWritePrinter)
#ifndef FAKE_PARTIAL
FAKE_2(DcsOpenCardReader)
FAKE_2(DcsCloseCardReader)
#endif
FAKE_3(DcsEnumSpecificCardReader)
FAKE_4(DcsEnumCardReaders)
FAKE_7(DcsExchangeBidiCardReader)
FAKE_2(DcsRegisterForReportsCardReader)
FAKE_1(DcsUnregisterForReportsCardReader)
FAKE_3(DcsRegisterForNotificationsCardReader)
FAKE_2(DcsUnregisterForNotificationsCardReader)
FAKE_3(DcsRegisterForAsyncDataCardReader)
FAKE_2(DcsUnregisterForAsyncDataCardReader)
#ifndef FAKE_PARTIAL
LIB_0(DcsInstall)
#endif
LIB_0(DcsUninstall)
#ifndef FAKE_PARTIAL
LIB_0(DcsResume)
#endif
LIB_0(DcsSuspend)
LIB_1(DcsAddTransport)
LIB_1(DcsRemoveTransport)
LIB_0(DcsAddMonitor)
FAKE_3(DcsRegisterForSystemNotifications)
#ifndef FAKE_PARTIAL
FAKE_1(DcsUnregisterForSystemNotifications)
#endif
FAKE_3(DcsCancelDiscovery)
FAKE_4(DcsSetJobStringScanner)
FAKE_4(DcsSetJobStringPrinter)
FAKE_6(DcsGetJobStringScanner)
