#include "ScanCapsRecord.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {
// The record between two guards, as it would sit among other data.
struct Guarded {
    uint8_t before[64];
    ScanCapsRecord record;
    uint8_t after[64];
};

bool guardsIntact(const Guarded& guarded) {
    for (size_t i = 0; i < sizeof(guarded.before); ++i) {
        if (guarded.before[i] != 0xEE || guarded.after[i] != 0xEE) return false;
    }
    return true;
}

void applyAll(ScanCapsRecord& record, uint32_t value) {
    for (const CapsOverrideValue& item : kCapsOverrides) applyCapsOverride(record, item.which, value);
}
}  // namespace

TEST(CapsOverride, ACountBeyondTheRecordReachesOnlyItsTwoEntries) {
    const int32_t counts[] = {3, 5, INT_MAX, -1, INT_MIN};
    for (int32_t count : counts) {
        Guarded guarded;
        std::memset(&guarded, 0xEE, sizeof(guarded));
        std::memset(&guarded.record, 0, sizeof(guarded.record));
        guarded.record.NumScanners = count;
        applyAll(guarded.record, 0x0000017F);
        EXPECT_TRUE(guardsIntact(guarded)) << count;
        EXPECT_EQ(0x17F, guarded.record.DefaultScanMode) << count;
        const int32_t expected = count > 0 ? 0x7F : 0;
        for (const ScannerCapsEntry& entry : guarded.record.Scanners) {
            EXPECT_EQ(expected, entry.Compression) << count;
            EXPECT_EQ(expected == 0 ? 0 : 0x17F, entry.CommandSetType) << count;
            EXPECT_EQ(expected, entry.NPAVersion) << count;
        }
        EXPECT_EQ(count, guarded.record.NumScanners) << "the count itself is the library's";
    }
}

TEST(CapsOverride, WrappingReplacesOnlyTheLowestByteAndNegativeValuesStayWhole) {
    ScanCapsRecord record;
    std::memset(&record, 0, sizeof(record));
    record.NumScanners = 2;
    record.Scanners[0].NPAVersion = 0x0103;
    record.Scanners[1].NPAVersion = static_cast<int32_t>(0xFFFFFF03u);
    applyCapsOverride(record, CapsOverride::NPAWrapping, 0xAB02);
    EXPECT_EQ(0x0102, record.Scanners[0].NPAVersion);
    EXPECT_EQ(static_cast<int32_t>(0xFFFFFF02u), record.Scanners[1].NPAVersion);
    applyCapsOverride(record, CapsOverride::RawPixelOrder, 0x80000000u);
    EXPECT_EQ(INT_MIN, record.Scanners[1].RawPixelOrder);
    applyCapsOverride(record, CapsOverride::Compression, 0xFFFFFFFFu);
    EXPECT_EQ(255, record.Scanners[1].Compression);
}
