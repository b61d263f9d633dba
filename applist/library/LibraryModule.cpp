#include "LibraryModule.h"

#include "Exception.h"
#include "ModulePath.h"

#include <cwctype>

namespace {
const tstring kSourceFile = _T("LibraryModule.cpp");
HINSTANCE g_instance = nullptr;
}  // namespace

void setLibraryInstance(HINSTANCE instance) { g_instance = instance; }

HINSTANCE libraryInstance() { return g_instance; }

std::wstring libraryFileName() {
    const std::wstring path = modulePath(g_instance);
    if (path.empty() || path.size() >= MAX_PATH) THROW_WIN32(_T("GetModuleFileName failed"), 0);
    return path.substr(path.rfind(L'\\') + 1);
}

