// The stand-ins' own files: named after the module's path without its extension, beside it
// ("kvabscx.dll" reads "kvabscx.txt" and writes "kvabscx.journal").
#pragma once

#include <windows.h>

#include <fstream>
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

// Appends one line and CR LF to the module's ".journal"; threads of one process take turns.
inline void journalLine(HMODULE module, const std::string& line) {
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    std::ofstream out(besideModule(module, ".journal"), std::ios::app | std::ios::binary);
    out << line << "\r\n";
}

}  // namespace standin
