#include "CSCUtil.h"

#include "DateTimeFormat.h"
#include "LibraryLoad.h"
#include "ModulePath.h"
#include "SystemCall.h"
#include "TextLimits.h"
#include "RegistryKey.h"
#include "RegistryRead.h"

#include <winspool.h>

#include <cstring>
#include <ctime>
#include <vector>

namespace {

std::string moduleDirectory() {
    const std::string folder = moduleFolder();
    return folder.empty() ? folder : folder + "\\";
}

HMODULE loadFrom(const std::string& directory, const std::string& name) {
    const std::string path = directory + name;
    if (path.size() >= kNameBuffer) return nullptr;
    return loadLibraryAt(path);
}

}  // namespace

LazyLibrary& spooler() {
    static LazyLibrary library("winspool.drv");
    return library;
}

void copyBounded(char* target, size_t capacity, const char* source, size_t sourceLength) {
    if (capacity == 0) return;
    size_t length = 0;
    while (length < sourceLength && length + 1 < capacity && source[length] != '\0') ++length;
    std::memcpy(target, source, length);
    target[length] = '\0';
}

std::string CSCUtil::getProductPrefix() { return moduleFileName().substr(0, 4); }

bool CSCUtil::loadConfigLibrary() {
    // Loaded once per object; the library stays until the object is destroyed.
    if (library_) return true;
    const std::string prefix = getProductPrefix();
    const std::string name32 = prefix + "cnf.dll";
    const std::string name64 = prefix + "cnf64.dll";
    const std::string here = moduleDirectory();
    HMODULE module = here.empty() ? nullptr : loadFrom(here, name32);
    if (module == nullptr && !here.empty()) module = loadFrom(here, name64);
    if (module == nullptr) {
        char drivers[kNameBuffer + 1] = {};
        DWORD needed = 0;
        auto driverDirectory = LAZY_ENTRY(spooler(), GetPrinterDriverDirectoryA);
        if (driverDirectory != nullptr &&
            driverDirectory(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(drivers), kNameBuffer, &needed)) {
            const std::string directory = std::string(drivers) + "\\3\\";
            module = loadFrom(directory, name32);
            if (module == nullptr) module = loadFrom(directory, name64);
        }
    }
    library_.reset(module);
    return static_cast<bool>(library_);
}

bool CSCUtil::readConfigItem(DWORD item, DWORD subItem, void*& buffer, DWORD& size) {
    if (!loadConfigLibrary()) return false;
    auto getConfigData = entryPoint<GetConfigDataFn>(library_.get(), "GetConfigData");
    if (getConfigData == nullptr) return false;
    DWORD needed = 0;
    if (getConfigData(0, item, subItem, nullptr, &needed) != kConfigSizeReported || needed == 0) return false;
    void* data = GlobalAlloc(GPTR, needed);
    if (data == nullptr) return false;
    DWORD copied = needed;
    if (getConfigData(0, item, subItem, data, &copied) != kConfigDataCopied) {
        GlobalFree(data);
        return false;
    }
    buffer = data;
    size = needed;
    return true;
}

bool CSCUtil::readConfigText(DWORD item, std::string& text, DWORD* reported) {
    void* buffer = nullptr;
    DWORD size = 0;
    if (!readConfigItem(item, 0, buffer, size)) return false;
    const UniqueGlobal owned(buffer);
    char copy[kNameBuffer] = {};
    copyBounded(copy, sizeof(copy), static_cast<const char*>(buffer), size);
    text = copy;
    if (reported != nullptr) *reported = size;
    return true;
}

HRESULT CSCUtil::GetManufacturerName(char* item10002, char* item10001, char* item10000, size_t capacity) {
    std::string path, id, key;
    const bool havePath = readConfigText(kConfigManufacturerPath, path);
    const bool haveId = readConfigText(kConfigProductId, id);
    const bool haveKey = readConfigText(kConfigProductKey, key);
    copyBounded(item10002, capacity, path.c_str(), path.size());
    copyBounded(item10001, capacity, id.c_str(), id.size());
    copyBounded(item10000, capacity, key.c_str(), key.size());
    return havePath || haveId || haveKey ? S_OK : E_FAIL;
}

DWORD CSCUtil::getScannerSettingsPath(char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    std::memset(buffer, 0, capacity < kNameBuffer ? capacity : kNameBuffer);
    std::string first, second;
    DWORD firstSize = 0, secondSize = 0;
    if (!readConfigText(kConfigManufacturerPath, first, &firstSize) || firstSize > capacity) return 0;
    copyBounded(buffer, capacity, first.c_str(), first.size());
    if (!readConfigText(kConfigProductKey, second, &secondSize)) return firstSize;
    if (capacity < static_cast<size_t>(firstSize) + secondSize + 5) return firstSize;
    const std::string path = std::string(buffer) + "\\" + second + "\\Scan";
    copyBounded(buffer, capacity, path.c_str(), path.size());
    return firstSize + secondSize + 6;
}

bool CSCUtil::runProgram(const char* commandLine, bool waitForIdle, const char* workingDirectory) {
    if (commandLine == nullptr) return false;
    std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
    STARTUPINFOA startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNA;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | NORMAL_PRIORITY_CLASS,
                        nullptr, workingDirectory, &startup, &process)) {
        return false;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (waitForIdle) WaitForInputIdle(process.hProcess, 5000);
    return true;
}

void CSCUtil::getDateTimeText(char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    char dateOrder[2] = {};
    char timeFlag[2] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDATE, dateOrder, 2);
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_ITIME, timeFlag, 2);
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    if (const std::tm* converted = std::localtime(&now)) local = *converted;
    const std::string text = formatDateTime(local, dateOrder[0], timeFlag[0]);
    copyBounded(buffer, capacity, text.c_str(), text.size());
}

std::string CSCUtil::getAllUsersDir() {
    char expanded[kNameBuffer] = {};
    DWORD length = ExpandEnvironmentStringsA("%ALLUSERSPROFILE%\\", expanded, kNameBuffer);
    if (length == 0 || length > kNameBuffer) return "c:\\temp\\";
    return expanded;
}

bool CSCUtil::readRegistryDword(HKEY root, const char* subKey, const char* valueName, DWORD& value) {
    return readDwordAt(root, subKey, valueName, value);
}

bool CSCUtil::writeRegistryDword(HKEY root, const char* subKey, const char* valueName, DWORD value) {
    UniqueKey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) {
        HKEY created = nullptr;
        if (!createKeyForEveryone(root, subKey, created)) return false;
        key.reset(created);
    }
    return RegSetValueExA(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

bool CSCUtil::createKeyForEveryone(HKEY root, const char* subKey, HKEY& key) {
    if (!isNtPlatform()) {
        return RegCreateKeyExA(root, subKey, 0, nullptr, 0, kEveryoneKeyAccess, nullptr, &key, nullptr) ==
               ERROR_SUCCESS;
    }
    return createSharedKey(root, subKey, kEveryoneKeyAccess, key) == ERROR_SUCCESS;
}

bool CSCUtil::isNtPlatform() {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) return false;
    }
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
