// Where the list lives: the brand key is chosen by the library's own file name, so one build
// serves every brand.
#pragma once

#include <string>

// The brand key for a library file name ("kvabappmgr.dll" -> "KelvaraLaser").
std::wstring brandKeyFor(const std::wstring& libraryFileName);
// "Software\<brand>\App List Manager\" below HKEY_LOCAL_MACHINE.
std::wstring appListKeyPath(const std::wstring& libraryFileName);
