#include "ScanCapsRecord.h"

size_t overriddenEntryCount(const ScanCapsRecord& record) {
    // The library may claim more scanners than the record holds, or a nonsense count.
    if (record.NumScanners <= 0) return 0;
    const size_t count = static_cast<size_t>(record.NumScanners);
    return count < kScanCapsEntryCount ? count : kScanCapsEntryCount;
}

void applyCapsOverride(ScanCapsRecord& record, CapsOverride which, uint32_t value) {
    const int32_t whole = static_cast<int32_t>(value);
    if (which == CapsOverride::ScanMode) {
        record.DefaultScanMode = whole;
        return;
    }
    const size_t count = overriddenEntryCount(record);
    for (size_t i = 0; i < count; ++i) {
        ScannerCapsEntry& entry = record.Scanners[i];
        switch (which) {
            case CapsOverride::Compression: entry.Compression = static_cast<int32_t>(value & 0xFF); break;
            case CapsOverride::RawDataFormat: entry.RawDataFormat = whole; break;
            case CapsOverride::RawPixelOrder: entry.RawPixelOrder = whole; break;
            case CapsOverride::Inverted: entry.BWInversion = whole; break;
            case CapsOverride::CompressionQuality: entry.CompressionQuality = whole; break;
            case CapsOverride::CompressionType: entry.SupportedCompressionType = whole; break;
            case CapsOverride::FlipImage: entry.FlipImage = whole; break;
            case CapsOverride::CmdSetType: entry.CommandSetType = whole; break;
            case CapsOverride::NPAWrapping: {
                const uint32_t level = static_cast<uint32_t>(entry.NPAVersion);
                entry.NPAVersion = static_cast<int32_t>((level & ~0xFFu) | (value & 0xFFu));
                break;
            }
            case CapsOverride::ScanMode: break;
        }
    }
}
