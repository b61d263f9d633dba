#include "AppListClient.h"

#include "BasicLogger.h"
#include "LogText.h"
#include "ModulePath.h"
#include "RegistryKey.h"
#include "RegistryRead.h"
#include "ScanSession.h"
#include "SystemCall.h"
#include "TagText.h"

#include <cwchar>

namespace {
constexpr LONG kMoreData = ERROR_INSUFFICIENT_BUFFER;  // 122
constexpr size_t kAddTextCapacity = 255;               // name, one space and the terminator

// A name as the panel gets it: cut to leave room for the add text's trailing space.
std::wstring panelName(const std::wstring& friendlyName) { return friendlyName.substr(0, kAddTextCapacity - 2); }

void logRefusedList(uint32_t needed) {
    if (!isLoggerInstalled()) return;
    LogText text;
    text << "AppListClient::fetchDocument() application list refused: " << needed << " characters, limit "
         << kMaxListCharacters;
    BasicLogger::getInstance()->writeText(&g_logPanelmon, LOG_ERROR, text);
}

}  // namespace

bool AppListClient::fetchDocument(std::wstring& document) {
    uint32_t needed = 0;
    LONG status = library_.getWideAppList(nullptr, 0, &needed);
    if (status == kMoreData && needed > kMaxListCharacters) {
        // Refused before a buffer is taken for it: the panel gets the fixed destinations.
        logRefusedList(needed);
        document = L"<APPLIST>\r\n</APPLIST>";
        return true;
    }
    if (status == kMoreData) {
        // The library reports the size with the terminator; one more keeps a short count safe.
        document.assign(static_cast<size_t>(needed) + 1, L'\0');
        status = library_.getWideAppList(&document[0], needed, &needed);
        document.resize(wcsnlen(document.c_str(), document.size() - 1));
    }
    return status == ERROR_SUCCESS;
}

bool AppListClient::buildDestinations() {
    std::lock_guard<std::mutex> building(buildLock_);
    return buildLocked();
}

bool AppListClient::buildLocked() {
    if (!library_.load()) return false;
    const bool ocr = isOcrInstalled();
    {
        std::lock_guard<std::mutex> hold(lock_);
        ocrFlag_ = ocr ? "1" : "0";
    }
    if (!fetchDocument(document_)) return false;
    std::optional<std::wstring> paint;
    const bool fax = hasFaxProgram();
    std::lock_guard<std::mutex> hold(lock_);
    // Indexes are overwritten, not cleared: stale records above the new end stay until a clear.
    fillDestinations(table_, document_, fixed_, fax, ocr, paint);
    if (paint) paintPath_ = *paint;
    return true;
}

bool AppListClient::sendPanelList(void* sessionObject) {
    std::lock_guard<std::mutex> building(buildLock_);
    return buildLocked() && sendLocked(sessionObject);
}

bool AppListClient::refreshPanelList(void* sessionObject) {
    std::lock_guard<std::mutex> building(buildLock_);
    setListSent(false);
    clearDestinations();
    return buildLocked() && sendLocked(sessionObject);
}

bool AppListClient::sendLocked(void* sessionObject) {
    auto create = entryPoint<CreateSCObjectFn>(scanLibrary_, "CreateSCObject");
    if (create == nullptr) return false;
    void* list = create(kScanObjectList);
    if (list == nullptr) return false;
    std::wstring defaultName;
    for (const auto& entry : destinations()) {
        // Names are cut to fit the panel's add buffer with their trailing space; the default
        // name is cut alike, so it still matches its entry.
        const std::wstring name = panelName(entry.second.friendlyName);
        const std::wstring text = name + L" ";
        scx::addName(list, text.c_str(), static_cast<int32_t>(text.size()), 5);
        if (entry.second.defaultAioApp == L"true") defaultName = name;
    }
    scx::setDefaultName(list, defaultName.c_str());
    void* options = create(kScanObjectOptions);
    if (options == nullptr) return false;
    if (!scx::sendList(options, sessionObject, list)) return false;
    setListSent(true);
    return true;
}

std::optional<PanelAppRecord> AppListClient::destinationForScan(int index) {
    std::lock_guard<std::mutex> building(buildLock_);
    if (!listSent()) buildLocked();
    return findDestination(index);
}

void AppListClient::clearDestinations() {
    std::lock_guard<std::mutex> hold(lock_);
    table_.clear();
}

std::optional<PanelAppRecord> AppListClient::findDestination(int index) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = table_.find(index);
    if (found == table_.end()) return std::nullopt;
    return found->second;
}

DestinationTable AppListClient::destinations() const {
    std::lock_guard<std::mutex> hold(lock_);
    return table_;
}

bool AppListClient::listSent() const {
    std::lock_guard<std::mutex> hold(lock_);
    return listSent_;
}

void AppListClient::setListSent(bool sent) {
    std::lock_guard<std::mutex> hold(lock_);
    listSent_ = sent;
}

std::string AppListClient::ocrFlag() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ocrFlag_;
}

std::wstring AppListClient::paintPath() const {
    std::lock_guard<std::mutex> hold(lock_);
    return paintPath_;
}

// App Paths and the classes root in the native view (the 64-bit one on a 64-bit system, which
// a 32-bit process under WoW64 names with KEY_WOW64_64KEY), or App Paths in the 32-bit view.
bool AppListClient::programRegistered(const std::string& exeName, bool nativeView) {
    const std::string appPath = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exeName;
    if (!nativeView) return keyOpensForReading(HKEY_LOCAL_MACHINE, appPath, KEY_WOW64_32KEY);
    const REGSAM native = isWow64Process() ? KEY_WOW64_64KEY : 0;
    // The classes root as its two halves: opening the root itself with a view flag leaves a
    // handle behind on each call on some systems, one per scan.
    const std::string classes = "Software\\Classes\\Applications\\" + exeName;
    return keyOpensForReading(HKEY_LOCAL_MACHINE, appPath, native) || keyOpensForReading(HKEY_CURRENT_USER, classes) ||
           keyOpensForReading(HKEY_LOCAL_MACHINE, classes, native);
}

bool AppListClient::isOcrInstalled() const {
    return programRegistered("sprint.exe", true) || programRegistered("kelocr.exe", true) ||
           programRegistered("sprint.exe", false) || programRegistered("kelocr.exe", false);
}

bool AppListClient::hasFaxProgram() const {
    const std::string folder = moduleFolder();
    if (!folder.empty()) {
        SetCurrentDirectoryA(folder.c_str());
        if (pathExists(folder + "\\" + prefix_ + "Fax.exe")) return true;
    }
    const std::string vendor = faxVendorName();
    const std::string candidates[] = {
        "C:\\Program files\\" + vendor + " Fax" + " Solutions" + "\\" + "FaxDesk.exe",
        "C:\\Program files (x86)\\" + vendor + " Fax" + " Solutions" + "\\" + "FaxDesk.exe",
        "C:\\Program files\\" + vendor + " PC" + " Fax" + "\\" + "FaxDesk.exe",
        "C:\\Program files (x86)\\" + vendor + " PC" + " Fax" + "\\" + "FaxDesk.exe",
    };
    for (const std::string& candidate : candidates) {
        if (pathExists(candidate)) return true;
    }
    return false;
}

void AppListClient::setFaxVendorName(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    faxVendorName_ = name;
}

std::string AppListClient::faxVendorName() const {
    std::lock_guard<std::mutex> hold(lock_);
    return faxVendorName_;
}
