// The scanner capability record, written in place by the capabilities library, and the
// per-installation overrides applied to it. The layout is a binary contract: fixed offsets,
// little-endian. Pure: no system headers.
#pragma once

#include <cstddef>
#include <cstdint>

struct ScannerCapsEntry {
    int32_t NumOptRes;
    int32_t Resolutions[10][3];
    int32_t DefaultOpticalResIndex;
    int32_t NeedDataAlignment;
    int32_t DelayBetweenRead;
    int32_t ADF;
    int32_t ScanCmdType;
    int32_t Compression;
    int32_t SupportedCompressionType;
    int32_t SupportedDataTypes;
    int32_t RawDataFormat;
    int32_t RawPixelOrder;
    int32_t BWInversion;
    int32_t BWThreshold;
    int32_t WhitePointClipping;
    int32_t ScanBed[4];
    int32_t CompressionQuality;
    int32_t CommandSetType;
    int32_t FlipImage;
    int32_t NPAVersion;
    int64_t MaxScanSizeInPixels;
    int32_t MirrorImageSupported;
    int32_t NegativeImageSupported;
    int32_t ColorDropoutSupported;
    int32_t BackgroundRemovalSupported;
    uint8_t LibraryData[3312];  // the library's own; never read here
};

constexpr size_t kScanCapsEntryCount = 2;

struct ScanCapsRecord {
    int32_t NumScanners;
    int32_t SendAppListToOpPanel;
    int32_t MaxNumOpPanelApps;
    int32_t MaxNumOpPanelCharsPerApp;
    int32_t ADFScannerIndex;
    int32_t DefaultScanMode;
    int32_t FastPathSupported;
    uint8_t MajorVersion;
    uint8_t MinorVersion;
    uint8_t reserved[2];
    ScannerCapsEntry Scanners[kScanCapsEntryCount];
};

constexpr size_t kScannerCapsEntrySize = 3544;
constexpr size_t kScanCapsRecordSize = 7120;

static_assert(sizeof(ScannerCapsEntry) == kScannerCapsEntrySize, "entry size");
static_assert(offsetof(ScannerCapsEntry, NumOptRes) == 0, "NumOptRes");
static_assert(offsetof(ScannerCapsEntry, Resolutions) == 4, "Resolutions");
static_assert(offsetof(ScannerCapsEntry, DefaultOpticalResIndex) == 124, "DefaultOpticalResIndex");
static_assert(offsetof(ScannerCapsEntry, NeedDataAlignment) == 128, "NeedDataAlignment");
static_assert(offsetof(ScannerCapsEntry, DelayBetweenRead) == 132, "DelayBetweenRead");
static_assert(offsetof(ScannerCapsEntry, ADF) == 136, "ADF");
static_assert(offsetof(ScannerCapsEntry, ScanCmdType) == 140, "ScanCmdType");
static_assert(offsetof(ScannerCapsEntry, Compression) == 144, "Compression");
static_assert(offsetof(ScannerCapsEntry, SupportedCompressionType) == 148, "SupportedCompressionType");
static_assert(offsetof(ScannerCapsEntry, SupportedDataTypes) == 152, "SupportedDataTypes");
static_assert(offsetof(ScannerCapsEntry, RawDataFormat) == 156, "RawDataFormat");
static_assert(offsetof(ScannerCapsEntry, RawPixelOrder) == 160, "RawPixelOrder");
static_assert(offsetof(ScannerCapsEntry, BWInversion) == 164, "BWInversion");
static_assert(offsetof(ScannerCapsEntry, BWThreshold) == 168, "BWThreshold");
static_assert(offsetof(ScannerCapsEntry, WhitePointClipping) == 172, "WhitePointClipping");
static_assert(offsetof(ScannerCapsEntry, ScanBed) == 176, "ScanBed");
static_assert(offsetof(ScannerCapsEntry, CompressionQuality) == 192, "CompressionQuality");
static_assert(offsetof(ScannerCapsEntry, CommandSetType) == 196, "CommandSetType");
static_assert(offsetof(ScannerCapsEntry, FlipImage) == 200, "FlipImage");
static_assert(offsetof(ScannerCapsEntry, NPAVersion) == 204, "NPAVersion");
static_assert(offsetof(ScannerCapsEntry, MaxScanSizeInPixels) == 208, "MaxScanSizeInPixels");
static_assert(offsetof(ScannerCapsEntry, MirrorImageSupported) == 216, "MirrorImageSupported");
static_assert(offsetof(ScannerCapsEntry, NegativeImageSupported) == 220, "NegativeImageSupported");
static_assert(offsetof(ScannerCapsEntry, ColorDropoutSupported) == 224, "ColorDropoutSupported");
static_assert(offsetof(ScannerCapsEntry, BackgroundRemovalSupported) == 228, "BackgroundRemovalSupported");
static_assert(offsetof(ScannerCapsEntry, LibraryData) == 232, "LibraryData");

static_assert(sizeof(ScanCapsRecord) == kScanCapsRecordSize, "record size");
static_assert(offsetof(ScanCapsRecord, NumScanners) == 0, "NumScanners");
static_assert(offsetof(ScanCapsRecord, SendAppListToOpPanel) == 4, "SendAppListToOpPanel");
static_assert(offsetof(ScanCapsRecord, MaxNumOpPanelApps) == 8, "MaxNumOpPanelApps");
static_assert(offsetof(ScanCapsRecord, MaxNumOpPanelCharsPerApp) == 12, "MaxNumOpPanelCharsPerApp");
static_assert(offsetof(ScanCapsRecord, ADFScannerIndex) == 16, "ADFScannerIndex");
static_assert(offsetof(ScanCapsRecord, DefaultScanMode) == 20, "DefaultScanMode");
static_assert(offsetof(ScanCapsRecord, FastPathSupported) == 24, "FastPathSupported");
static_assert(offsetof(ScanCapsRecord, MajorVersion) == 28, "MajorVersion");
static_assert(offsetof(ScanCapsRecord, MinorVersion) == 29, "MinorVersion");
static_assert(offsetof(ScanCapsRecord, reserved) == 30, "reserved");
static_assert(offsetof(ScanCapsRecord, Scanners) == 32, "Scanners[0]");
static_assert(offsetof(ScanCapsRecord, Scanners) + kScannerCapsEntrySize == 3576, "Scanners[1]");

// The registry overrides, in the order they are applied.
enum class CapsOverride {
    Compression,         // lowest byte only
    RawDataFormat,
    RawPixelOrder,
    Inverted,            // BWInversion
    CompressionQuality,
    ScanMode,            // header DefaultScanMode, whatever NumScanners says
    CompressionType,     // SupportedCompressionType
    FlipImage,
    CmdSetType,          // CommandSetType
    NPAWrapping,         // replaces only the lowest byte of NPAVersion
};

struct CapsOverrideValue {
    const char* valueName;
    CapsOverride which;
};

constexpr CapsOverrideValue kCapsOverrides[] = {
    {"Compression", CapsOverride::Compression},
    {"RawDataFormat", CapsOverride::RawDataFormat},
    {"RawPixelOrder", CapsOverride::RawPixelOrder},
    {"Inverted", CapsOverride::Inverted},
    {"CompressionQuality", CapsOverride::CompressionQuality},
    {"ScanMode", CapsOverride::ScanMode},
    {"CompressionType", CapsOverride::CompressionType},
    {"FlipImage", CapsOverride::FlipImage},
    {"CmdSetType", CapsOverride::CmdSetType},
    {"NPAWrapping", CapsOverride::NPAWrapping},
};

// Entries the overrides reach: NumScanners, held to the room the record has (0 to 2).
size_t overriddenEntryCount(const ScanCapsRecord& record);

// Stores one override value into the header or into each reached entry.
void applyCapsOverride(ScanCapsRecord& record, CapsOverride which, uint32_t value);
