#include "DcsClient.h"

#include "Handles.h"
#include "LibraryLoad.h"
#include "ModulePath.h"
#include "SystemCall.h"

#include <mutex>
#include <new>
#include <vector>

namespace {
constexpr LONG kNotOpen = 1;
constexpr LONG kLibraryUnavailable = ERROR_MOD_NOT_FOUND;  // 126
constexpr LONG kEntryPointMissing = ERROR_PROC_NOT_FOUND;  // 127
constexpr DWORD kComputerNameBuffer = 16;
constexpr DWORD kResourceInfoBuffer = 261;
constexpr DWORD kWritePrinterPauseMs = 2000;

using Guard = std::lock_guard<CriticalSection>;

// The system's last error, read at once; a failure must never read as success, so 0 becomes
// the fallback.
std::string libraryNameFromModule(HMODULE module) { return moduleFileName(module).substr(0, 4) + "devlink.dll"; }

bool equalsIgnoringCase(const char* a, const char* b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

using WNetGetResourceInformationAFn = DWORD(WINAPI*)(LPNETRESOURCEA resource, LPVOID buffer, LPDWORD bufferSize,
                                                     LPSTR* system);
}  // namespace

// ---- construction -------------------------------------------------------------------------

DcsClient::DcsClient(HMODULE module, const std::string& hostName, bool keepLoaded)
    : hostName_(hostName), libraryFileName_(libraryNameFromModule(module)), home_(module), keepLoaded_(keepLoaded) {}

DcsClient::DcsClient(const std::string& libraryFileName, const std::string& hostName, bool keepLoaded)
    : hostName_(hostName), libraryFileName_(libraryFileName), keepLoaded_(keepLoaded) {}

DcsClient::~DcsClient() {
    Guard guard(libraryLock_);
    if (libraryModule_) unloadLocked();
    // openHandles_ is discarded with the object; no handle is closed.
}

void DcsClient::pause(DWORD milliseconds) { Sleep(milliseconds); }

HMODULE DcsClient::loadLibrary() const {
    if (libraryFileName_.find_first_of("\\/") != std::string::npos) return loadLibraryAt(libraryFileName_);
    return loadSiblingLibrary(libraryFileName_, home_);
}

// ---- library and identity uses --------------------------------------------------------------

LONG DcsClient::acquireLibrary() {
    Guard guard(libraryLock_);
    if (libraryUses_ == 0 && !libraryModule_) {
        UniqueModule module(loadLibrary());
        if (!module) return lastErrorOr(kLibraryUnavailable);
        auto initialize = entryPoint<DcsInitializeFn>(module.get(), "DcsInitialize");
        const LONG result = initialize != nullptr ? initialize() : kEntryPointMissing;
        if (result != 0) return lastErrorOr(result);
        libraryModule_ = std::move(module);
    }
    ++libraryUses_;
    return 0;
}

void DcsClient::releaseLibrary() {
    Guard guard(libraryLock_);
    if (libraryUses_ > 0) --libraryUses_;
    if (libraryUses_ == 0 && libraryModule_ && !keepLoaded_) unloadLocked();
}

void DcsClient::unloadLocked() {
    auto uninitialize = entryPoint<DcsUninitializeFn>(libraryModule_.get(), "DcsUninitialize");
    if (uninitialize != nullptr) uninitialize();
    libraryModule_.reset();
    libraryUses_ = 0;
}

LONG DcsClient::acquireClientId(uint32_t* clientId) {
    // The module is stable while the caller holds a library use; it is read under its own lock
    // before the identity lock is taken, so the two are never held together.
    HMODULE module;
    {
        Guard guard(libraryLock_);
        module = libraryModule_.get();
    }
    Guard guard(clientIdLock_);
    LONG host = checkHostName();
    if (host != 0) return host;
    if (clientIdUses_ == 0) {
        if (module == nullptr) return kLibraryUnavailable;
        auto getClientId = entryPoint<DcsGetClientIdFn>(module, "DcsGetClientId");
        if (getClientId == nullptr) return lastErrorOr(kEntryPointMissing);
        uint32_t id = 0;
        LONG result = getClientId(&id, hostName_.c_str());
        if (result != 0) {
            clientId_ = 0;
            return result;
        }
        clientId_ = id;
    }
    ++clientIdUses_;
    *clientId = clientId_;
    return 0;
}

void DcsClient::releaseClientId() {
    Guard guard(clientIdLock_);
    if (clientIdUses_ > 0) --clientIdUses_;
    if (clientIdUses_ == 0) clientId_ = 0;
}

LONG DcsClient::takeUses(uint32_t* clientId) {
    if (acquireLibrary() != 0) return kLibraryUnavailable;
    LONG result = acquireClientId(clientId);
    if (result != 0) releaseLibrary();
    return result;
}

void DcsClient::giveUses() {
    releaseClientId();
    releaseLibrary();
}

LONG DcsClient::checkHostName() const {
    const std::string& name = hostName_;
    if (name.empty()) return 0;
    const bool firstTwoAreBackslashes = name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
    const bool neitherIsBackslash = name[0] != '\\' && (name.size() < 2 || name[1] != '\\');

    char computer[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    if (GetComputerNameA(computer, &size)) {
        if (neitherIsBackslash && equalsIgnoringCase(name.c_str(), computer)) return 0;
        if (firstTwoAreBackslashes && equalsIgnoringCase(name.c_str() + 2, computer)) return 0;
    }

    std::string remote;
    try {
        remote = neitherIsBackslash ? "\\\\" + name : name;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const UniqueModule mpr(loadSystemLibrary("mpr.dll"));
    if (!mpr) return lastErrorOr(kLibraryUnavailable);
    auto getInformation = entryPoint<WNetGetResourceInformationAFn>(mpr.get(), "WNetGetResourceInformationA");
    if (getInformation == nullptr) return lastErrorOr(kEntryPointMissing);
    NETRESOURCEA resource = {};
    resource.dwScope = RESOURCE_GLOBALNET;  // 2
    resource.lpRemoteName = &remote[0];
    alignas(8) char buffer[kResourceInfoBuffer] = {};
    DWORD bufferSize = kResourceInfoBuffer;
    LPSTR system = nullptr;
    return static_cast<LONG>(getInformation(&resource, buffer, &bufferSize, &system));
}

// ---- lookups --------------------------------------------------------------------------------

void* DcsClient::resolve(const char* name) const {
    HMODULE module;
    {
        Guard guard(libraryLock_);
        module = libraryModule_.get();
    }
    return entryPoint<void*>(module, name);
}

bool DcsClient::findRecord(DcsHandle handle, uint32_t* clientId) const {
    Guard guard(handleLock_);
    auto found = openHandles_.find(handle);
    if (found == openHandles_.end()) return false;
    *clientId = found->second->clientId;
    return true;
}

bool DcsClient::isLibraryLoaded() const {
    Guard guard(libraryLock_);
    return static_cast<bool>(libraryModule_);
}

uint32_t DcsClient::libraryUses() const {
    Guard guard(libraryLock_);
    return libraryUses_;
}

uint32_t DcsClient::clientId() const {
    Guard guard(clientIdLock_);
    return clientId_;
}

uint32_t DcsClient::clientIdUses() const {
    Guard guard(clientIdLock_);
    return clientIdUses_;
}

uint32_t DcsClient::openCount(DcsHandle handle) const {
    Guard guard(handleLock_);
    auto found = openHandles_.find(handle);
    return found == openHandles_.end() ? 0 : found->second->openCount;
}

size_t DcsClient::openHandleCount() const {
    Guard guard(handleLock_);
    return openHandles_.size();
}

// ---- families -------------------------------------------------------------------------------

template <typename Fn>
LONG DcsClient::takeUsesFor(const char* entryPoint, uint32_t& clientId, Fn& fn) {
    const LONG taken = takeUses(&clientId);
    if (taken != 0) return taken;
    fn = reinterpret_cast<Fn>(resolve(entryPoint));
    if (fn != nullptr) return 0;
    giveUses();
    return kEntryPointMissing;
}

// global: both uses around one call with the current identity and the values.
template <typename... Values>
LONG DcsClient::callGlobal(const char* entryPoint, Values... values) {
    uint32_t id = 0;
    LONG(WINAPI * fn)(uint32_t, Values...) = nullptr;
    if (const LONG failed = takeUsesFor(entryPoint, id, fn)) return failed;
    const LONG result = fn(id, values...);
    giveUses();
    return result;
}

// library: a library use around one call with the values only.
template <typename... Values>
LONG DcsClient::callLibrary(const char* entryPoint, Values... values) {
    if (acquireLibrary() != 0) return kLibraryUnavailable;
    using Fn = LONG(WINAPI*)(Values...);
    auto fn = reinterpret_cast<Fn>(resolve(entryPoint));
    if (fn == nullptr) {
        releaseLibrary();
        return kEntryPointMissing;
    }
    LONG result = fn(values...);
    releaseLibrary();
    return result;
}

// open: as global; a success records the handle and keeps both uses for the matching close.
LONG DcsClient::callOpen(const char* entryPoint, DcsHandle handle) {
    uint32_t id = 0;
    DcsHandleFn fn = nullptr;
    if (const LONG failed = takeUsesFor(entryPoint, id, fn)) return failed;
    const LONG result = fn(id, handle);
    if (result != 0) {
        giveUses();
        return result;
    }
    bool recorded = true;
    {
        Guard guard(handleLock_);
        auto found = openHandles_.find(handle);
        if (found != openHandles_.end()) {
            ++found->second->openCount;
        } else {
            try {
                openHandles_.emplace(handle, std::unique_ptr<OpenHandleRecord>(new OpenHandleRecord{handle, id, 1}));
            } catch (const std::bad_alloc&) {
                recorded = false;
            }
        }
    }
    if (!recorded) {
        // Without a record no close can match this open, so its uses go back now; the
        // library's own open stays. Never thrown out of the binding.
        giveUses();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

// handle: no use taken or given; the record's identity, the handle and the values.
template <typename... Values>
LONG DcsClient::callHandle(const char* entryPoint, CloseOperation onMissing, DcsHandle handle, Values... values) {
    uint32_t id = 0;
    if (!findRecord(handle, &id)) return kNotOpen;
    using Fn = LONG(WINAPI*)(uint32_t, DcsHandle, Values...);
    auto fn = reinterpret_cast<Fn>(resolve(entryPoint));
    if (fn == nullptr) {
        if (onMissing != nullptr) (this->*onMissing)(handle);
        return kEntryPointMissing;
    }
    return fn(id, handle, values...);
}

// close: the entry point with the record's identity, one open fewer, and the open's uses back.
LONG DcsClient::callClose(const char* entryPoint, DcsHandle handle) {
    uint32_t id = 0;
    if (!findRecord(handle, &id)) return kNotOpen;
    auto fn = reinterpret_cast<DcsHandleFn>(resolve(entryPoint));
    if (fn == nullptr) {
        giveUses();
        return kEntryPointMissing;
    }
    LONG result = fn(id, handle);
    bool counted = false;
    {
        Guard guard(handleLock_);
        auto found = openHandles_.find(handle);
        // Another thread's close may have taken the last open meanwhile; its uses went back
        // with that close, so none are given back twice.
        if (found != openHandles_.end()) {
            counted = true;
            if (--found->second->openCount == 0) openHandles_.erase(found);
        }
    }
    if (counted) giveUses();
    return result;
}

// close-all: every recorded handle closed as often as it was opened, under uses of its own.
LONG DcsClient::callCloseAll(CloseOperation close) {
    uint32_t id = 0;
    LONG taken = takeUses(&id);
    if (taken != 0) return taken;
    std::vector<DcsHandle> keys;
    {
        Guard guard(handleLock_);
        try {
            for (const auto& entry : openHandles_) keys.push_back(entry.first);
        } catch (const std::bad_alloc&) {
            keys.clear();  // no copy of the keys, nothing closed; never thrown out of the binding
        }
    }
    LONG result = 0;
    for (DcsHandle key : keys) {
        const uint32_t count = openCount(key);
        for (uint32_t i = 0; i < count; ++i) result = (this->*close)(key);
    }
    giveUses();
    return result;
}

// held: as global up to the call; the uses stay for the matching release.
template <typename... Values>
LONG DcsClient::callHeld(const char* entryPoint, bool keepOnFailure, Values... values) {
    uint32_t id = 0;
    LONG(WINAPI * fn)(uint32_t, Values...) = nullptr;
    if (const LONG failed = takeUsesFor(entryPoint, id, fn)) return failed;
    const LONG result = fn(id, values...);
    if (result != 0 && !keepOnFailure) giveUses();
    return result;
}

// release: the entry point on the loaded module with the current identity; the held uses back.
LONG DcsClient::callRelease(const char* entryPoint) {
    using Fn = LONG(WINAPI*)(uint32_t);
    auto fn = reinterpret_cast<Fn>(resolve(entryPoint));
    if (fn == nullptr) {
        giveUses();
        return kEntryPointMissing;
    }
    LONG result = fn(clientId());
    giveUses();
    return result;
}

// ---- operations in slot order ----------------------------------------------------------------

// clang-format off
LONG DcsClient::cancelJobPrinter(DcsHandle h) { return callHandle("DcsCancelJobPrinter", nullptr, h); }
LONG DcsClient::getHostInfo(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4) { return callGlobal("DcsGetHostInfo", v1, v2, v3, v4); }
LONG DcsClient::setHostInfo(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsSetHostInfo", v1, v2, v3); }
LONG DcsClient::closeAllPrinters() { return callCloseAll(&DcsClient::closePrinter); }
LONG DcsClient::closePrinter(DcsHandle h) { return callClose("DcsClosePrinter", h); }
LONG DcsClient::deletePrinter(DcsValue v1) { return callGlobal("DcsDeletePrinter", v1); }
LONG DcsClient::discovery(const char* transport, const char* second) { return callGlobal("DcsDiscovery", transport, second); }
LONG DcsClient::endJobPrinter(DcsHandle h) { return callHandle("DcsEndJobPrinter", &DcsClient::closePrinter, h); }
LONG DcsClient::enumPrinters(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumPrinters", v1, v2, v3); }
LONG DcsClient::enumSpecificPrinter(DcsValue v1, DcsValue v2) { return callGlobal("DcsEnumSpecificPrinter", v1, v2); }
LONG DcsClient::exchangeNpaPrinter(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsExchangeNpaPrinter", nullptr, h, v1, v2, v3, v4, v5); }
LONG DcsClient::exchangeBidiPrinter(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsExchangeBidiPrinter", nullptr, h, v1, v2, v3, v4, v5); }
LONG DcsClient::getByteArrayPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callGlobal("DcsGetByteArrayPrinter", v1, v2, v3, v4, v5); }
LONG DcsClient::getCachePrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4) { return callGlobal("DcsGetCachePrinter", v1, v2, v3, v4); }
LONG DcsClient::getCurrentStatePrinter(DcsValue v1, DcsValue v2) { return callGlobal("DcsGetCurrentStatePrinter", v1, v2); }
LONG DcsClient::getDiscoveryDefaults(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4) { return callGlobal("DcsGetDiscoveryDefaults", v1, v2, v3, v4); }
LONG DcsClient::getLongPrinter(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsGetLongPrinter", v1, v2, v3); }
LONG DcsClient::getStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callGlobal("DcsGetStringPrinter", v1, v2, v3, v4, v5); }
LONG DcsClient::openPrinter(DcsHandle h) { return callOpen("DcsOpenPrinter", h); }
LONG DcsClient::registerForAlertsPrinter(DcsHandle h, DcsValue v1, DcsValue v2) { return callHandle("DcsRegisterForAlertsPrinter", nullptr, h, v1, v2); }
LONG DcsClient::registerForNotificationsPrinter(DcsHandle h, DcsValue v1, DcsValue v2) { return callHandle("DcsRegisterForNotificationsPrinter", nullptr, h, v1, v2); }
LONG DcsClient::setByteArrayPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4) { return callGlobal("DcsSetByteArrayPrinter", v1, v2, v3, v4); }
LONG DcsClient::setDiscoveryDefaults(DcsValue v1, DcsValue v2) { return callGlobal("DcsSetDiscoveryDefaults", v1, v2); }
LONG DcsClient::setClientInfo(DcsValue v1, DcsValue v2) { return callGlobal("DcsSetClientInfo", v1, v2); }
LONG DcsClient::setLongPrinter(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsSetLongPrinter", v1, v2, v3); }
LONG DcsClient::setStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4) { return callGlobal("DcsSetStringPrinter", v1, v2, v3, v4); }
LONG DcsClient::startJobPrinter(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsStartJobPrinter", &DcsClient::closePrinter, h, v1, v2, v3, v4, v5); }
LONG DcsClient::startJobPrinterW(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsStartJobPrinterW", &DcsClient::closePrinter, h, v1, v2, v3, v4, v5); }
LONG DcsClient::enumHids(const char* transport, const char* second, EnumCallback callback) { return callGlobal("DcsEnumHids", transport, second, callback); }
LONG DcsClient::enumSpecificHid(const char* portName, DcsHandle* handle) { return callGlobal("DcsEnumSpecificHid", portName, handle); }
LONG DcsClient::getStringHid(DcsHandle h, const char* descriptor, char* buffer, uint32_t bufferSize, uint32_t* length) { return callGlobal("DcsGetStringHid", h, descriptor, buffer, bufferSize, length); }
LONG DcsClient::getLongHid(DcsHandle h, const char* descriptor, int32_t* value) { return callGlobal("DcsGetLongHid", h, descriptor, value); }
LONG DcsClient::openHid(DcsHandle h) { return callOpen("DcsOpenHid", h); }
LONG DcsClient::registerForReportsHid(DcsHandle h, ReportCallback callback) { return callHandle("DcsRegisterForReportsHid", nullptr, h, callback); }
LONG DcsClient::unregisterForReportsHid(DcsHandle h) { return callHandle("DcsUnregisterForReportsHid", nullptr, h); }
LONG DcsClient::registerForNotificationsHid(DcsHandle h, NotificationCallback callback) { return callHandle("DcsRegisterForNotificationsHid", nullptr, h, callback); }
LONG DcsClient::unregisterForNotificationsHid(DcsHandle h) { return callHandle("DcsUnregisterForNotificationsHid", nullptr, h); }
LONG DcsClient::closeAllHids() { return callCloseAll(&DcsClient::closeHid); }
LONG DcsClient::closeHid(DcsHandle h) { return callClose("DcsCloseHid", h); }
LONG DcsClient::deleteHid(DcsValue v1) { return callGlobal("DcsDeleteHid", v1); }
LONG DcsClient::getCurrentStateHid(DcsHandle h, uint32_t* state) { return callGlobal("DcsGetCurrentStateHid", h, state); }
LONG DcsClient::enumWindowsHids(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumWindowsHids", v1, v2, v3); }
LONG DcsClient::enumWindowsScanners(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumWindowsScanners", v1, v2, v3); }
LONG DcsClient::enumWindowsPrinters(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumWindowsPrinters", v1, v2, v3); }
LONG DcsClient::closeScanner(DcsHandle h) { return callClose("DcsCloseScanner", h); }
LONG DcsClient::endJobScanner(DcsHandle h) { return callHandle("DcsEndJobScanner", &DcsClient::closeScanner, h); }
LONG DcsClient::cancelJobScanner(DcsHandle h) { return callHandle("DcsCancelJobScanner", nullptr, h); }
LONG DcsClient::enumScanners(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumScanners", v1, v2, v3); }
LONG DcsClient::enumSpecificScanner(const char* portName, DcsHandle* handle) { return callGlobal("DcsEnumSpecificScanner", portName, handle); }
LONG DcsClient::exchangeDataScanner(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsExchangeDataScanner", nullptr, h, v1, v2, v3, v4, v5); }
LONG DcsClient::getLongScanner(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsGetLongScanner", v1, v2, v3); }
LONG DcsClient::getStringScanner(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callGlobal("DcsGetStringScanner", v1, v2, v3, v4, v5); }
LONG DcsClient::openScanner(DcsHandle h) { return callOpen("DcsOpenScanner", h); }
LONG DcsClient::startJobScanner(DcsHandle h, DcsValue v1) { return callHandle("DcsStartJobScanner", &DcsClient::closePrinter, h, v1); }
LONG DcsClient::registerForAsyncDataScanner(DcsHandle h, DcsValue v1, DcsValue v2) { return callHandle("DcsRegisterForAsyncDataScanner", nullptr, h, v1, v2); }
LONG DcsClient::unregisterForAsyncDataScanner(DcsHandle h) { return callHandle("DcsUnregisterForAsyncDataScanner", nullptr, h); }
LONG DcsClient::getCurrentStateScanner(DcsHandle h, uint32_t* state) { return callGlobal("DcsGetCurrentStateScanner", h, state); }
// clang-format on

// Slot 58: both uses, kept; the first non-zero code (a failed load's system error unchanged).
LONG DcsClient::acquireClient() {
    LONG result = acquireLibrary();
    if (result != 0) return result;
    uint32_t id = 0;
    return acquireClientId(&id);
}

// Slot 59.
LONG DcsClient::releaseClient() {
    giveUses();
    return 0;
}

// clang-format off
LONG DcsClient::unregisterForAlertsPrinter(DcsHandle h) { return callHandle("DcsUnregisterForAlertsPrinter", nullptr, h); }
LONG DcsClient::unregisterForNotificationsPrinter(DcsHandle h) { return callHandle("DcsUnregisterForNotificationsPrinter", nullptr, h); }
LONG DcsClient::validatePortName(DcsValue v1) { return callGlobal("DcsValidatePortName", v1); }
// clang-format on

// Slot 63: a 122 answer (buffer too small) is returned after a 2000 ms pause.
LONG DcsClient::writePrinter(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3) {
    LONG result = callHandle("DcsWritePrinter", nullptr, h, v1, v2, v3);
    if (result == ERROR_INSUFFICIENT_BUFFER) pause(kWritePrinterPauseMs);
    return result;
}

// clang-format off
LONG DcsClient::openCardReader(DcsHandle h) { return callOpen("DcsOpenCardReader", h); }
LONG DcsClient::closeCardReader(DcsHandle h) { return callClose("DcsCloseCardReader", h); }
LONG DcsClient::enumSpecificCardReader(DcsValue v1, DcsValue v2) { return callGlobal("DcsEnumSpecificCardReader", v1, v2); }
LONG DcsClient::enumCardReaders(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsEnumCardReaders", v1, v2, v3); }
LONG DcsClient::exchangeBidiCardReader(DcsHandle h, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callHandle("DcsExchangeBidiCardReader", nullptr, h, v1, v2, v3, v4, v5); }
LONG DcsClient::registerForReportsCardReader(DcsValue v1) { return callHeld("DcsRegisterForReportsCardReader", false, v1); }
LONG DcsClient::unregisterForReportsCardReader() { return callRelease("DcsUnregisterForReportsCardReader"); }
LONG DcsClient::registerForNotificationsCardReader(DcsHandle h, DcsValue v1) { return callHandle("DcsRegisterForNotificationsCardReader", nullptr, h, v1); }
LONG DcsClient::unregisterForNotificationsCardReader(DcsHandle h) { return callHandle("DcsUnregisterForNotificationsCardReader", nullptr, h); }
LONG DcsClient::registerForAsyncDataCardReader(DcsHandle h, DcsValue v1) { return callHandle("DcsRegisterForAsyncDataCardReader", nullptr, h, v1); }
LONG DcsClient::unregisterForAsyncDataCardReader(DcsHandle h) { return callHandle("DcsUnregisterForAsyncDataCardReader", nullptr, h); }
// clang-format on

// Slot 75: its own load of the library (no DcsInitialize), DcsInstall, and its own unload; the
// binding's module and use counts are not touched.
LONG DcsClient::install() {
    UniqueModule module;
    {
        Guard guard(libraryLock_);
        module.reset(loadLibrary());
        if (!module) return lastErrorOr(kLibraryUnavailable);
    }
    auto fn = entryPoint<DcsInstallFn>(module.get(), "DcsInstall");
    const LONG result = fn != nullptr ? fn() : kEntryPointMissing;
    Guard guard(libraryLock_);
    module.reset();
    return result;
}

// clang-format off
LONG DcsClient::uninstall() { return callLibrary("DcsUninstall"); }
LONG DcsClient::resume() { return callLibrary("DcsResume"); }
LONG DcsClient::suspend() { return callLibrary("DcsSuspend"); }
LONG DcsClient::addTransport(DcsValue v1) { return callLibrary("DcsAddTransport", v1); }
LONG DcsClient::removeTransport(DcsValue v1) { return callLibrary("DcsRemoveTransport", v1); }
LONG DcsClient::addMonitor() { return callLibrary("DcsAddMonitor"); }
// clang-format on

// Slot 82: hostName_ never changes, so no lock is needed here.
LONG DcsClient::checkHost() { return checkHostName(); }

// clang-format off
LONG DcsClient::registerForSystemNotifications(DcsValue v1, DcsValue v2) { return callHeld("DcsRegisterForSystemNotifications", true, v1, v2); }
LONG DcsClient::unregisterForSystemNotifications() { return callRelease("DcsUnregisterForSystemNotifications"); }
LONG DcsClient::cancelDiscovery(DcsValue v1, DcsValue v2) { return callGlobal("DcsCancelDiscovery", v1, v2); }
LONG DcsClient::setJobStringScanner(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsSetJobStringScanner", v1, v2, v3); }
LONG DcsClient::setJobStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3) { return callGlobal("DcsSetJobStringPrinter", v1, v2, v3); }
LONG DcsClient::getJobStringScanner(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5) { return callGlobal("DcsGetJobStringScanner", v1, v2, v3, v4, v5); }
// clang-format on
