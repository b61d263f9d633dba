#include "ModulePath.h"

#include <vector>

namespace {
constexpr DWORD kLongestPath = 32768;
}  // namespace

tstring modulePath(HMODULE module) {
    // A path cut to the buffer would name another file: the buffer grows until it fits.
    for (DWORD capacity = MAX_PATH + 1; capacity <= kLongestPath; capacity *= 2) {
        std::vector<TCHAR> path(capacity);
        const DWORD length = GetModuleFileName(module, path.data(), capacity);
        if (length == 0) return tstring();
        if (length < capacity - 1) return tstring(path.data(), length);
    }
    return tstring();
}

tstring moduleFolder(HMODULE module) {
    const tstring path = modulePath(module);
    const size_t slash = path.rfind(_T('\\'));
    if (path.size() >= MAX_PATH || slash == tstring::npos) return tstring();
    return path.substr(0, slash);
}

tstring moduleFileName(HMODULE module) {
    const tstring path = modulePath(module);
    const size_t slash = path.rfind(_T('\\'));
    return slash == tstring::npos ? path : path.substr(slash + 1);
}

bool pathExists(const tstring& path) { return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
