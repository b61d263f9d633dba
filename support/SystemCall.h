// Small helpers around system calls, shared by every folder above this one.
#pragma once

#include <windows.h>

// An entry point bound by name with its exact type; null when the module or the name is
// missing. A null module is never searched: that would search the program itself.
template <typename Fn>
Fn entryPoint(HMODULE module, const char* name) {
    return module == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The calling thread's last error, or `fallback` when the failed call set none.
inline LONG lastErrorOr(LONG fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<LONG>(error) : fallback;
}
