// The stand-ins' own files: named after the module's path without its extension, beside it
// ("kvabscx.dll" reads "kvabscx.txt" and writes "kvabscx.journal").
#pragma once

#include "Handles.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace standin {

// "<module path without extension><extension>"; `module` null names the program. Empty text
// before the extension when the path can't be read.
inline std::string besideModule(HMODULE module, const char* extension) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string file(path, length < MAX_PATH ? length : 0);
    const size_t dot = file.rfind('.');
    if (dot != std::string::npos && file.find('\\', dot) == std::string::npos) file.erase(dot);
    return file + extension;
}

// The module's file name without folder and extension ("kvabdevlink").
inline std::string moduleName(HMODULE module) {
    const std::string base = besideModule(module, "");
    return base.substr(base.rfind('\\') + 1);
}

// Appends `text` to a file, opened and closed per call so that a reader in another process sees
// it at once; a reader may delete the file in between.
inline void appendToFile(const std::string& path, const std::string& text) {
    UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Milliseconds since the system created this process.
inline double msSinceProcessStart() {
    FILETIME created, ended, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (ticks(now) - ticks(created)) / 10000.0;
}

// With STANDIN_TIMES set (a benchmark splitting a start-up by step), "<ms since the process
// started> <line>" is appended to the file `journal` names with ".times" for ".journal".
inline void timeLineTo(const std::string& journal, const std::string& line) {
    static const bool wanted = GetEnvironmentVariableA("STANDIN_TIMES", nullptr, 0) > 0;
    if (!wanted) return;
    const size_t dot = journal.rfind('.');
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%.2f ", msSinceProcessStart());
    appendToFile(journal.substr(0, dot) + ".times", stamp + line + "\r\n");
}

// Appends one line and CR LF to a journal file; threads of one process take turns. The caller's
// last error survives, so an entry point can journal before its caller reads it.
inline void journalLineTo(const std::string& journal, const std::string& line) {
    static std::mutex lock;
    const DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> hold(lock);
        timeLineTo(journal, line);
        appendToFile(journal, line + "\r\n");
    }
    SetLastError(error);
}

// The same to the module's ".journal".
inline void journalLine(HMODULE module, const std::string& line) {
    journalLineTo(besideModule(module, ".journal"), line);
}

// The whole of DllMain for a stand-in that only needs to know its own module.
inline BOOL attachModule(HINSTANCE instance, DWORD reason, HMODULE& self) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

}  // namespace standin
