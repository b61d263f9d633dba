#include "LibraryLoad.h"

#include "ModulePath.h"
#include "SystemCall.h"

namespace {
// The search flags need a system from 2012 on, or an update before that; without them
// LoadLibraryEx answers ERROR_INVALID_PARAMETER and the loads below fall back to full paths.
bool searchFlagsRefused() { return GetLastError() == ERROR_INVALID_PARAMETER; }
}  // namespace

bool restrictLibrarySearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = entryPoint<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    if (setDefault != nullptr &&
        setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return true;
    }
    SetDllDirectoryA("");
    return false;
}

HMODULE loadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || !searchFlagsRefused()) return module;
    char folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return nullptr;
    const std::string path = std::string(folder, length) + "\\" + name;
    return path.size() < MAX_PATH ? LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
}

HMODULE loadLibraryAt(const tstring& path) {
    HMODULE module =
        LoadLibraryEx(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || !searchFlagsRefused()) return module;
    return LoadLibraryEx(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

tstring siblingPath(const tstring& name, HMODULE beside) {
    const tstring folder = moduleFolder(beside);
    if (folder.empty()) return tstring();
    const tstring path = folder + _T("\\") + name;
    return path.size() < MAX_PATH ? path : tstring();
}

HMODULE loadSiblingLibrary(const tstring& name, HMODULE beside) {
    const tstring path = siblingPath(name, beside);
    if (path.empty()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return loadLibraryAt(path);
}
