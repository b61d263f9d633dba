#include "AppListLibrary.h"

AppListLibrary::AppListLibrary(const std::string& prefix) : fileName_(prefix + "appmgr.dll") {}

bool AppListLibrary::load() {
    std::lock_guard<std::mutex> hold(loadLock_);
    if (module_ == nullptr) module_ = LoadLibraryA(fileName_.c_str());
    return module_ != nullptr;
}

FARPROC AppListLibrary::find(const char* name) {
    if (!load()) return nullptr;
    return GetProcAddress(module_, name);
}

LONG AppListLibrary::callVoid(const char* name) {
    auto function = reinterpret_cast<AppListVoidFn>(reinterpret_cast<void*>(find(name)));
    return function != nullptr ? function() : kAppListMissing;
}

LONG AppListLibrary::getWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed) {
    auto function = reinterpret_cast<GetWideAppListFn>(reinterpret_cast<void*>(find("GetWideAppList")));
    return function != nullptr ? function(buffer, size, needed) : kAppListMissing;
}

LONG AppListLibrary::getAppList(char* buffer, uint32_t size, uint32_t* needed) {
    auto function = reinterpret_cast<GetAppListFn>(reinterpret_cast<void*>(find("GetAppList")));
    return function != nullptr ? function(buffer, size, needed) : kAppListMissing;
}
