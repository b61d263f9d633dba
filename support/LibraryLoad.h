// Libraries come from the program's folder or the system folder, never through the search path:
// there a copy planted in the current folder or a PATH folder would be found before a missing
// or moved original.
#pragma once

#include "Text.h"

// Limits the process's own library search to the program's folder and the system folder, for
// every later load, the system's and the outside libraries' own included. True when the system
// took the limit; older systems without it at least lose the current folder.
bool restrictLibrarySearch();

// A system library, from the system folder only.
HMODULE loadSystemLibrary(const char* name);

// The library at a full path; what it imports is looked for beside it and in the system folder.
HMODULE loadLibraryAt(const tstring& path);

// `name` from the folder of `beside` (null: the program's own): null, with the system's error,
// when that folder is unknown, the path does not fit MAX_PATH, or the file can't be loaded.
HMODULE loadSiblingLibrary(const tstring& name, HMODULE beside = nullptr);

// The full path `loadSiblingLibrary` loads: `name` in the folder of `beside`; empty when the
// folder is unknown or the path does not fit MAX_PATH.
tstring siblingPath(const tstring& name, HMODULE beside = nullptr);
