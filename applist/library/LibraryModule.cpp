#include "LibraryModule.h"

#include "Exception.h"

#include <cwctype>

namespace {
const tstring kSourceFile = _T("LibraryModule.cpp");
HINSTANCE g_instance = nullptr;
}  // namespace

void setLibraryInstance(HINSTANCE instance) { g_instance = instance; }

HINSTANCE libraryInstance() { return g_instance; }

std::wstring libraryFileName() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(g_instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) THROW_WIN32(_T("GetModuleFileName failed"), 0);
    const std::wstring full(path, length);
    const size_t slash = full.rfind(L'\\');
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

std::wstring libraryPrefix() {
    std::wstring prefix = libraryFileName().substr(0, 4);
    for (wchar_t& c : prefix) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return prefix;
}
