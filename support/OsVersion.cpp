#include "OsVersion.h"

#include "Exception.h"

namespace {
const TCHAR kSourceFile[] = _T(".\\OsVersion");
// The line numbers these failures have always been reported with.
constexpr LONG kBasicQueryLine = 230;
constexpr LONG kExtendedQueryLine = 240;
}  // namespace

OsVersion::OsVersion() {
    ZeroMemory(&record_, sizeof(record_));
    record_.dwOSVersionInfoSize = sizeof(OSVERSIONINFO);
    if (!GetVersionEx(reinterpret_cast<OSVERSIONINFO*>(&record_))) {
        DWORD error = GetLastError();
        throw Win32Exception(_T("OsVersion::OsVersion(): GetVersionEx failed"), static_cast<LONG>(error),
                             kSourceFile, kBasicQueryLine);
    }
    if (record_.dwPlatformId == VER_PLATFORM_WIN32_NT && record_.dwMajorVersion > 4) {
        record_.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEX);
        if (!GetVersionEx(reinterpret_cast<OSVERSIONINFO*>(&record_))) {
            DWORD error = GetLastError();
            throw Win32Exception(_T("OsVersion::OsVersion(): GetVersionEx failed with OSVERSIONINFOEX"),
                                 static_cast<LONG>(error), kSourceFile, kExtendedQueryLine);
        }
    }
}

const OsVersion& OsVersion::instance() {
    static const OsVersion version;
    return version;
}

namespace {
// Probe before the entry point, so a refusal is fatal at start-up and not later.
const OsVersion& g_probedAtStart = OsVersion::instance();
}  // namespace
