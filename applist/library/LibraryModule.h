// The library's own module, recorded when the process attaches it.
#pragma once

#include <windows.h>

#include <string>

HINSTANCE libraryInstance();
// The part of the library's path after the last backslash ("kvabappmgr.dll"); throws the
// platform error "GetModuleFileName failed" when the path can't be read.
std::wstring libraryFileName();

// Recorded by the load-time entry point; tests point it at a loaded copy of the library.
void setLibraryInstance(HINSTANCE instance);
