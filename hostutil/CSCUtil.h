// What the monitor needs from its host: the product prefix, the configuration library's items,
// the scanner settings path, program starts, date and time text, and registry writes that leave
// keys usable by every user. The object owns the loaded configuration library.
#pragma once

#include "Handles.h"
#include "LazyLibrary.h"

#include <windows.h>

#include <string>

// The configuration library's entry point: (0, item, sub-item, buffer or null, size in/out).
using GetConfigDataFn = LONG(WINAPI*)(DWORD reserved, DWORD item, DWORD subItem, void* buffer, DWORD* size);
constexpr LONG kConfigSizeReported = 3;
constexpr LONG kConfigDataCopied = 0;

constexpr DWORD kConfigManufacturerPath = 10002;
constexpr DWORD kConfigProductKey = 10000;
constexpr DWORD kConfigProductId = 10001;

class CSCUtil {
public:
    CSCUtil() = default;
    virtual ~CSCUtil() = default;
    CSCUtil(const CSCUtil&) = delete;
    CSCUtil& operator=(const CSCUtil&) = delete;

    // The first 4 characters of the executable's file name; empty when its path is unreadable.
    static std::string getProductPrefix();
    // On success: a zero-filled global-memory buffer of `size` bytes, freed by the caller with
    // GlobalFree. On failure the outputs are untouched.
    bool readConfigItem(DWORD item, DWORD subItem, void*& buffer, DWORD& size);
    // An item's text as the fixed 260-character buffers hold it, the item's reported size in
    // `reported`; false (outputs untouched) when it can't be read.
    bool readConfigText(DWORD item, std::string& text, DWORD* reported = nullptr);
    // 0 when at least one item was read, E_FAIL otherwise; unreadable items give empty text.
    HRESULT GetManufacturerName(char* item10002, char* item10001, char* item10000, size_t capacity);
    // item 10002 + "\" + item 10000 + "\Scan". 0 on failure; item 10002's size when item 10000 is
    // missing or does not fit; else both sizes plus 6.
    DWORD getScannerSettingsPath(char* buffer, size_t capacity);

    static bool runProgram(const char* commandLine, bool waitForIdle, const char* workingDirectory);
    static void getDateTimeText(char* buffer, size_t capacity);
    // The expanded "%ALLUSERSPROFILE%\", or "c:\temp\" when expansion fails.
    static std::string getAllUsersDir();
    static bool readRegistryDword(HKEY root, const char* subKey, const char* valueName, DWORD& value);
    static bool writeRegistryDword(HKEY root, const char* subKey, const char* valueName, DWORD value);
    // The key is created with an access list granting Everyone full access, inherited by subkeys.
    static bool createKeyForEveryone(HKEY root, const char* subKey, HKEY& key);
    static bool isNtPlatform();

private:
    bool loadConfigLibrary();

    UniqueModule library_;
};

// The print spooler's client library, bound on first use: only the configuration library's
// fallback folder and the duplex button ask the spooler.
LazyLibrary& spooler();

// Copies at most capacity-1 characters and always terminates (capacity > 0).
void copyBounded(char* target, size_t capacity, const char* source, size_t sourceLength);
