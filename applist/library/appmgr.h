// The application-list library's exports. Every export returns 0 or a system error code and
// never lets an error escape. Codes besides those of each operation:
//   the platform error's own code, when a system call inside failed;
//   8  (ERROR_NOT_ENOUGH_MEMORY) when memory ran out;
//   31 (ERROR_GEN_FAILURE) for any other failure, and for a platform error that carries no code,
//      so a failure is never reported as success.
#pragma once

#include <windows.h>

#include <cstdint>

extern "C" {
LONG WINAPI Initialize();
LONG WINAPI Uninitialize();
LONG WINAPI CreateAppList();
// size in bytes; 0, 87 (needed null, or buffer null), 122 (too small; *needed = size wanted) or
// 50 (a character above U+00FF; *needed = 0).
LONG WINAPI GetAppList(char* buffer, uint32_t size, uint32_t* needed);
// size in characters; 0, 87 or 122, as above.
LONG WINAPI GetWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed);
// Runs the manager until it closes, or brings a running one forward; 0. When the single-instance
// lock can't be created or waited for: that error's code, and no manager opens.
LONG WINAPI LaunchGui();
}
