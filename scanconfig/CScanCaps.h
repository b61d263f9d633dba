// The process's scanner capability record: filled by the capabilities library, corrected by the
// overrides under the scanner settings key, read by callers through copies.
#pragma once

#include "Handles.h"
#include "ScanCapsRecord.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

constexpr int32_t kScanCapsOk = 0;
constexpr int32_t kScanCapsNoLibrary = -1;     // neither library file loads
constexpr int32_t kScanCapsNoEntryPoint = -2;  // create or destroy is not exported
constexpr int32_t kScanCapsNoObject = -3;      // create returned none
constexpr int32_t kScanCapsFillFailed = -4;    // the object's fill returned non-zero
constexpr int32_t kScanCapsNoOwnPath = -5;     // the program's own path is unreadable

// The library's entry points and the object's fill operation (slot 1, member convention).
using DeviceQueryFn = uint8_t(__stdcall*)(void* buffer, uint32_t* size);
using CreateScannerConfigFn = void*(__stdcall*)();
using DestroyScannerConfigFn = void(__stdcall*)(void* object);
using FillScannerCapsFn = int32_t(__thiscall*)(void* self, void* record, DeviceQueryFn query);

class CScanCaps {
public:
    // The one process-wide holder: the library beside the program, named by its prefix, and the
    // overrides under the scanner settings key. Created on the first call.
    static CScanCaps& instance();

    // A holder with its own sources: "<directory>\<prefix>capq.dll" (or capq64.dll) and the
    // overrides under HKLM\<settingsKey>.
    CScanCaps(std::string libraryDirectory, std::string prefix, std::string settingsKey);
    ~CScanCaps() = default;
    CScanCaps(const CScanCaps&) = delete;
    CScanCaps& operator=(const CScanCaps&) = delete;

    // 0 or one of the kScanCaps codes. Once filled, does nothing more unless `refresh` is set.
    // Any failure leaves the record all zero and unfilled.
    int32_t init(bool refresh);
    // Copies the whole record into `out` and returns `out` (null: copies nothing).
    ScanCapsRecord* copyRecord(ScanCapsRecord* out) const;
    // The record's SendAppListToOpPanel, without a copy of the whole record (several pages).
    int32_t sendAppListToOpPanel() const;

private:
    CScanCaps();

    int32_t fillLocked();
    bool librarySources(std::string& directory, std::string& prefix) const;
    std::string settingsKey() const;
    void applyOverrides();
    void clearRecord();

    const bool ownProgram_;
    std::string directory_;
    std::string prefix_;
    std::string settingsKey_;

    mutable std::mutex lock_;  // report threads of two devices may scan at once
    UniqueModule library_;     // loaded once, kept for the holder's life
    ScanCapsRecord record_{};
    bool initialised_ = false;
};
