#include "AppListLibrary.h"
#include "LibraryLoad.h"
#include "SystemCall.h"

AppListLibrary::AppListLibrary(const std::string& prefix) : fileName_(prefix + "appmgr.dll") {}

bool AppListLibrary::load() {
    std::lock_guard<std::mutex> hold(loadLock_);
    if (module_ == nullptr) module_ = loadSiblingLibrary(fileName_);
    return module_ != nullptr;
}

template <typename Fn>
Fn AppListLibrary::find(const char* name) {
    return load() ? entryPoint<Fn>(module_, name) : nullptr;
}

LONG AppListLibrary::callVoid(const char* name) {
    auto function = find<AppListVoidFn>(name);
    return function != nullptr ? function() : kAppListMissing;
}

LONG AppListLibrary::getWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed) {
    auto function = find<GetWideAppListFn>("GetWideAppList");
    return function != nullptr ? function(buffer, size, needed) : kAppListMissing;
}

LONG AppListLibrary::getAppList(char* buffer, uint32_t size, uint32_t* needed) {
    auto function = find<GetAppListFn>("GetAppList");
    return function != nullptr ? function(buffer, size, needed) : kAppListMissing;
}
