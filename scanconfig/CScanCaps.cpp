#include "CScanCaps.h"

#include "BasicLogger.h"
#include "CSCUtil.h"
#include "Exception.h"
#include "LibraryLoad.h"
#include "ModulePath.h"
#include "SystemCall.h"
#include "TextLimits.h"
#include "RegistryRead.h"

#include <cstring>

namespace {

// This system never connects the library to the device: no data, and nothing written.
uint8_t __stdcall answerNoDeviceData(void*, uint32_t*) { return 0; }

void logInfo(const std::string& text) {
    // Tools and tests run without a process logger.
    if (!isLoggerInstalled()) return;
    try {
        BasicLogger* log = BasicLogger::getInstance();
        if (log->isEnabled(&g_logDrs, LOG_INFO)) log->writeText(&g_logDrs, LOG_INFO, text);
    } catch (const Exception&) {
    }
}

// One value, read on its own key handle; only a DWORD counts.
bool readOverride(const std::string& keyPath, const char* valueName, uint32_t& value) {
    DWORD read = 0;
    if (!readDwordAt(HKEY_LOCAL_MACHINE, keyPath, valueName, read)) return false;
    value = read;
    return true;
}
}  // namespace

CScanCaps& CScanCaps::instance() {
    // Never destroyed: the record and the loaded library live until the process ends.
    static CScanCaps* const holder = new CScanCaps();
    return *holder;
}

CScanCaps::CScanCaps() : ownProgram_(true) {}

CScanCaps::CScanCaps(std::string libraryDirectory, std::string prefix, std::string settingsKey)
    : ownProgram_(false),
      directory_(std::move(libraryDirectory)),
      prefix_(std::move(prefix)),
      settingsKey_(std::move(settingsKey)) {}

int32_t CScanCaps::init(bool refresh) {
    std::lock_guard<std::mutex> hold(lock_);
    if (initialised_ && !refresh) return kScanCapsOk;
    logInfo(std::string("CScanCaps::Init refresh=") + (refresh ? "1" : "0"));
    const int32_t result = fillLocked();
    if (result != kScanCapsOk) clearRecord();
    return result;
}

ScanCapsRecord* CScanCaps::copyRecord(ScanCapsRecord* out) const {
    if (out == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(out, &record_, kScanCapsRecordSize);
    return out;
}

int32_t CScanCaps::sendAppListToOpPanel() const {
    std::lock_guard<std::mutex> hold(lock_);
    return record_.SendAppListToOpPanel;
}

int32_t CScanCaps::fillLocked() {
    std::string directory, prefix;
    if (!librarySources(directory, prefix)) return kScanCapsNoOwnPath;
    if (!library_) {
        const std::string base = directory + "\\" + prefix;
        library_.reset(loadLibraryAt(base + "capq.dll"));
        if (!library_) library_.reset(loadLibraryAt(base + "capq64.dll"));
        if (!library_) return kScanCapsNoLibrary;
    }
    auto create = entryPoint<CreateScannerConfigFn>(library_.get(), "createScannerConfigInstance");
    auto destroy = entryPoint<DestroyScannerConfigFn>(library_.get(), "destroyScannerConfigInstance");
    if (create == nullptr || destroy == nullptr) return kScanCapsNoEntryPoint;

    void* object = create();
    if (object == nullptr) return kScanCapsNoObject;
    auto fill = reinterpret_cast<FillScannerCapsFn>((*reinterpret_cast<void***>(object))[1]);
    if (fill(object, &record_, &answerNoDeviceData) != 0) {
        clearRecord();
        destroy(object);
        return kScanCapsFillFailed;
    }
    initialised_ = true;
    applyOverrides();
    destroy(object);
    return kScanCapsOk;
}

bool CScanCaps::librarySources(std::string& directory, std::string& prefix) const {
    if (!ownProgram_) {
        directory = directory_;
        prefix = prefix_;
        return true;
    }
    directory = moduleFolder();
    if (directory.empty()) return false;
    prefix = CSCUtil::getProductPrefix();
    return true;
}

std::string CScanCaps::settingsKey() const {
    if (!ownProgram_) return settingsKey_;
    CSCUtil util;
    char path[kNameBuffer] = {};
    if (util.getScannerSettingsPath(path, sizeof(path)) == 0) return std::string();
    return path;
}

void CScanCaps::applyOverrides() {
    // Without a key the reads would land on the root of HKLM.
    const std::string key = settingsKey();
    if (key.empty()) return;
    for (const CapsOverrideValue& item : kCapsOverrides) {
        uint32_t value = 0;
        if (readOverride(key, item.valueName, value)) applyCapsOverride(record_, item.which, value);
    }
}

void CScanCaps::clearRecord() {
    std::memset(&record_, 0, sizeof(record_));
    initialised_ = false;
}
