// The scan-session object library: objects created by kind and used only through their
// virtual operations, by slot, with the member-function calling convention.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

constexpr int32_t kScanObjectOptions = 0;  // option query and list send
constexpr int32_t kScanObjectSession = 2;  // carries the port text
constexpr int32_t kScanObjectList = 4;     // the names sent to the panel

using CreateSCObjectFn = void*(WINAPI*)(int32_t kind);
using DestroySCObjectFn = void(WINAPI*)(int32_t kind, void* object);

class ScanSessionLibrary {
public:
    // Loads the library at `path`; a missing library leaves the binding empty.
    explicit ScanSessionLibrary(const std::string& path);
    ScanSessionLibrary(const ScanSessionLibrary&) = delete;
    ScanSessionLibrary& operator=(const ScanSessionLibrary&) = delete;

    bool loaded() const { return static_cast<bool>(module_); }
    HMODULE module() const { return module_.get(); }
    // Null when the library, its entry point or the object is missing.
    void* create(int32_t kind) const;
    // False when the library or its entry point is missing; never called with a null object.
    bool destroy(int32_t kind, void* object) const;

private:
    UniqueModule module_;
};

// Calls by slot. Each returns false, calling nothing, when the object is null.
namespace scx {
bool setPortText(void* session, const char* text);                                  // kind 2, slot 15
bool queryOptions(void* options, uint8_t (&result)[8], void* session);              // kind 0, slot 5
bool addName(void* list, const wchar_t* name, int32_t lengthInChars, int32_t value);  // kind 4, slot 5
bool setDefaultName(void* list, const wchar_t* name);                               // kind 4, slot 7
bool sendList(void* options, void* session, void* list);                            // kind 0, slot 11
}  // namespace scx
