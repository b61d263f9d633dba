// The monitor's binding of the application-list library: loaded by name once and never
// unloaded; every export is looked up at every call, so a replaced library is picked up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

using AppListVoidFn = LONG(WINAPI*)();
using GetWideAppListFn = LONG(WINAPI*)(wchar_t* buffer, uint32_t size, uint32_t* needed);
using GetAppListFn = LONG(WINAPI*)(char* buffer, uint32_t size, uint32_t* needed);

// Result of every call when the library or the export is missing.
constexpr LONG kAppListMissing = 1;

class AppListLibrary {
public:
    // "<prefix>appmgr.dll", from the program's folder only.
    explicit AppListLibrary(const std::string& prefix);

    bool load();
    LONG initialize() { return callVoid("Initialize"); }
    LONG uninitialize() { return callVoid("Uninitialize"); }
    LONG createAppList() { return callVoid("CreateAppList"); }
    LONG launchGui() { return callVoid("LaunchGui"); }
    LONG getWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed);
    LONG getAppList(char* buffer, uint32_t size, uint32_t* needed);

    const std::string& fileName() const { return fileName_; }

private:
    LONG callVoid(const char* name);
    template <typename Fn>
    Fn find(const char* name);

    std::string fileName_;
    std::mutex loadLock_;
    HMODULE module_ = nullptr;  // never unloaded
};
