// The exported entry points: each checks its arguments under the lock, takes a fault when one
// applies, and journals its call and result.
#include "Simulator.h"

#include "ModuleFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

using namespace devlink;

namespace {
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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_name = standin::moduleName(instance);
        g_journal = standin::besideModule(instance, ".journal");
    }
    return standin::attachModule(instance, reason, g_self);
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

// Not part of the device library: how often the scanner of `port` is held now, or -1 for a port
// that names no device, so that the scan-session stand-in can note whether a list went out held.
extern "C" LONG WINAPI SimScannerOpens(const char* port) {
    Locked hold;
    const Device* device = port != nullptr ? findDevice(port) : nullptr;
    if (device == nullptr) return -1;
    auto opens = g_state.scannerOpens.find(device->scanner);
    return opens == g_state.scannerOpens.end() ? 0 : static_cast<LONG>(opens->second);
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
