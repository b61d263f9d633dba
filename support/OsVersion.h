// The operating-system version, probed once before the program's entry point runs.
#pragma once

#include "Text.h"

class OsVersion {
public:
    OsVersion();  // throws Win32Exception when the system refuses the version query

    static const OsVersion& instance();

    // True on the NT platform family (platform id 2).
    bool isNt() const { return record_.dwPlatformId == VER_PLATFORM_WIN32_NT; }
    const OSVERSIONINFOEX& record() const { return record_; }

private:
    OSVERSIONINFOEX record_;
};
