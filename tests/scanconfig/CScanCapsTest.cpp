#include "BasicLogger.h"
#include "CScanCaps.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {
// A copy of the capabilities stand-in in a test folder, with its settings file and journal.
class CapqLibrary {
public:
    CapqLibrary(const TempFolder& folder, const std::string& name, const std::string& source = "kvabcapq.dll")
        : base_(folder.file(name)) {
        EXPECT_TRUE(CopyFileA((ownFolder() + source).c_str(), dll().c_str(), FALSE)) << GetLastError();
    }
    std::string dll() const { return base_ + ".dll"; }
    void configure(const std::string& lines) const { writeFile(base_ + ".txt", lines); }
    std::string journal() const { return readFile(base_ + ".journal"); }

private:
    std::string base_;
};

const char kOneFill[] = "create\r\nquery -> 0 size=64\r\nfill -> 0\r\ndestroy\r\n";

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
    return found;
}

void setValue(const TestRegistryKey& key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key.root(), key.path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &handle, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(handle);
}

void setDword(const TestRegistryKey& key, const char* name, DWORD value) {
    setValue(key, name, REG_DWORD, &value, sizeof(value));
}

ScanCapsRecord copyOf(const CScanCaps& caps) {
    ScanCapsRecord record;
    std::memset(&record, 0x5A, sizeof(record));
    EXPECT_EQ(&record, caps.copyRecord(&record));
    return record;
}

bool allZero(const ScanCapsRecord& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    for (size_t i = 0; i < sizeof(record); ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// Settings from a map, so logging is on without touching the registry.
class LogOnLogger : public BasicLogger {
public:
    explicit LogOnLogger(const std::string& path) : BasicLogger(path, 25) {}
    void readSetting(const std::string& name, DWORD& out, DWORD defaultValue) override {
        out = name == "startLog" ? 1 : name == "Clocktime_In_Header" ? 0 : defaultValue;
    }
};
}  // namespace

TEST(ScanCaps, FillsOnceAndAgainOnlyOnRefreshKeepingTheLibraryLoaded) {
    TempFolder folder;
    CapqLibrary library(folder, "sc01capq");
    library.configure("scanner0.RawDataFormat=4\nscanner0.NPAVersion=0x0103\n");
    TestRegistryKey key;
    setDword(key, "Compression", 0x1FF);
    setDword(key, "NPAWrapping", 2);
    CScanCaps caps(folder.path(), "sc01", key.path());

    ASSERT_EQ(kScanCapsOk, caps.init(false));
    ScanCapsRecord record = copyOf(caps);
    EXPECT_EQ(1, record.NumScanners);
    EXPECT_EQ(1, record.SendAppListToOpPanel);
    EXPECT_EQ(4, record.Scanners[0].RawDataFormat);
    EXPECT_EQ(255, record.Scanners[0].Compression) << "only the lowest byte of 0x1FF";
    EXPECT_EQ(0x0102, record.Scanners[0].NPAVersion) << std::hex << record.Scanners[0].NPAVersion;
    EXPECT_EQ(kOneFill, library.journal());
    EXPECT_NE(nullptr, GetModuleHandleA(library.dll().c_str())) << "the library stays loaded";

    // Without refresh nothing reaches the library or the registry again.
    library.configure("scanner0.RawDataFormat=5\n");
    setDword(key, "Compression", 7);
    EXPECT_EQ(kScanCapsOk, caps.init(false));
    EXPECT_EQ(kOneFill, library.journal());
    record = copyOf(caps);
    EXPECT_EQ(4, record.Scanners[0].RawDataFormat);
    EXPECT_EQ(255, record.Scanners[0].Compression);

    // A refresh fills anew and applies the overrides to the new record.
    EXPECT_EQ(kScanCapsOk, caps.init(true));
    EXPECT_EQ(std::string(kOneFill) + kOneFill, library.journal());
    record = copyOf(caps);
    EXPECT_EQ(5, record.Scanners[0].RawDataFormat);
    EXPECT_EQ(7, record.Scanners[0].Compression);
    EXPECT_EQ(0x0102, record.Scanners[0].NPAVersion) << std::hex << record.Scanners[0].NPAVersion;
}

TEST(ScanCaps, LogsOnlyTheInitsThatGoToTheLibrary) {
    TempFolder folder;
    CapqLibrary library(folder, "sc02capq");
    TestRegistryKey key;
    const std::string log = folder.file("caps.log");
    ASSERT_TRUE(installLogger(new LogOnLogger(log)));
    {
        CScanCaps caps(folder.path(), "sc02", key.path());
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        const std::string first = readFile(log);
        EXPECT_EQ(1u, count(first, "CScanCaps::Init refresh=0\r\n")) << first;
        EXPECT_NE(std::string::npos, first.find("DRS")) << first;
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        EXPECT_EQ(first, readFile(log)) << "an init that does nothing logs nothing";
        EXPECT_EQ(kScanCapsOk, caps.init(true));
        EXPECT_EQ(1u, count(readFile(log), "CScanCaps::Init refresh=1\r\n")) << readFile(log);
    }
    uninstallLogger();
}

TEST(ScanCaps, EachFailureHasItsCodeAndLeavesTheRecordEmpty) {
    TempFolder folder;
    TestRegistryKey key;
    setDword(key, "ScanMode", 3);  // overrides must not reach a record that failed

    {  // The fill fails after scribbling on the record.
        CapqLibrary library(folder, "sc03capq");
        library.configure("fill=5\n");
        CScanCaps caps(folder.path(), "sc03", key.path());
        EXPECT_EQ(kScanCapsFillFailed, caps.init(false));
        EXPECT_TRUE(allZero(copyOf(caps)));
        EXPECT_EQ("create\r\nquery -> 0 size=64\r\nfill -> 5\r\ndestroy\r\n", library.journal());

        // A good fill, then a refresh that fails: empty again, and the next request fills anew.
        library.configure("");
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        EXPECT_EQ(3, copyOf(caps).DefaultScanMode);
        library.configure("fill=-1\n");
        EXPECT_EQ(kScanCapsFillFailed, caps.init(true));
        EXPECT_TRUE(allZero(copyOf(caps)));
        library.configure("");
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        EXPECT_EQ(1, copyOf(caps).NumScanners);
        EXPECT_EQ(4u, count(library.journal(), "destroy\r\n")) << library.journal();
    }
    {  // No object.
        CapqLibrary library(folder, "sc04capq");
        library.configure("create=none\n");
        CScanCaps caps(folder.path(), "sc04", key.path());
        EXPECT_EQ(kScanCapsNoObject, caps.init(false));
        EXPECT_TRUE(allZero(copyOf(caps)));
        EXPECT_EQ("create -> none\r\n", library.journal()) << "nothing to fill or destroy";
    }
    {  // No library under either name.
        CScanCaps caps(folder.path(), "sc99", key.path());
        EXPECT_EQ(kScanCapsNoLibrary, caps.init(false));
        EXPECT_EQ(kScanCapsNoLibrary, caps.init(true));
        EXPECT_TRUE(allZero(copyOf(caps)));
    }
    {  // A library without the entry points: another stand-in under the capabilities name.
        CapqLibrary other(folder, "sc05capq", "kvabscx.dll");
        CScanCaps caps(folder.path(), "sc05", key.path());
        EXPECT_EQ(kScanCapsNoEntryPoint, caps.init(false));
        EXPECT_TRUE(allZero(copyOf(caps)));
    }
}

TEST(ScanCaps, LoadsThe64NameOnlyWhenTheFirstIsMissing) {
    TestRegistryKey key;
    {
        TempFolder folder;
        CapqLibrary only64(folder, "sc06capq64");
        CScanCaps caps(folder.path(), "sc06", key.path());
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        EXPECT_EQ(1, copyOf(caps).NumScanners);
        EXPECT_EQ(kOneFill, only64.journal());
    }
    {
        TempFolder folder;
        CapqLibrary first(folder, "sc07capq");
        CapqLibrary second(folder, "sc07capq64");
        CScanCaps caps(folder.path(), "sc07", key.path());
        EXPECT_EQ(kScanCapsOk, caps.init(false));
        EXPECT_EQ(kOneFill, first.journal());
        EXPECT_EQ("", second.journal());
    }
}

TEST(ScanCaps, OverridesReachBothScannersAndOnlyDwordValuesCount) {
    TempFolder folder;
    CapqLibrary library(folder, "sc08capq");
    library.configure(
        "NumScanners=2\nscanner0.FlipImage=3\nscanner1.FlipImage=4\nscanner1.NPAVersion=0x0201\n"
        "scanner1.CommandSetType=8\n");
    TestRegistryKey key;
    setDword(key, "Compression", 0x1FF);
    setDword(key, "RawDataFormat", 0xFFFFFFFF);
    setDword(key, "RawPixelOrder", 2);
    setDword(key, "Inverted", 1);
    setDword(key, "CompressionQuality", 90);
    setDword(key, "ScanMode", 4);
    setDword(key, "CompressionType", 6);
    setValue(key, "FlipImage", REG_SZ, "1", 2);
    setDword(key, "CmdSetType", 9);
    setDword(key, "NPAWrapping", 0x1234);
    CScanCaps caps(folder.path(), "sc08", key.path());

    ASSERT_EQ(kScanCapsOk, caps.init(false));
    ScanCapsRecord record = copyOf(caps);
    EXPECT_EQ(4, record.DefaultScanMode);
    for (int i = 0; i < 2; ++i) {
        const ScannerCapsEntry& entry = record.Scanners[i];
        EXPECT_EQ(255, entry.Compression) << i;
        EXPECT_EQ(-1, entry.RawDataFormat) << i;
        EXPECT_EQ(2, entry.RawPixelOrder) << i;
        EXPECT_EQ(1, entry.BWInversion) << i;
        EXPECT_EQ(90, entry.CompressionQuality) << i;
        EXPECT_EQ(6, entry.SupportedCompressionType) << i;
        EXPECT_EQ(3 + i, entry.FlipImage) << "a text value is ignored, " << i;
        EXPECT_EQ(9, entry.CommandSetType) << i;
    }
    EXPECT_EQ(0x0134, record.Scanners[0].NPAVersion) << std::hex << record.Scanners[0].NPAVersion;
    EXPECT_EQ(0x0234, record.Scanners[1].NPAVersion) << std::hex << record.Scanners[1].NPAVersion;
    // What no override names stays as the library wrote it.
    EXPECT_EQ(10, record.MaxNumOpPanelApps);
    EXPECT_EQ(2550LL * 3508LL, record.Scanners[0].MaxScanSizeInPixels);
    EXPECT_EQ(0, std::memcmp(record.Scanners[0].LibraryData, "capq", 4));

    // Binary data of DWORD size is not a DWORD either; an absent value changes nothing.
    const DWORD nine = 9;
    setValue(key, "CmdSetType", REG_BINARY, &nine, sizeof(nine));
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, KEY_SET_VALUE, &handle));
    RegDeleteValueA(handle, "Compression");
    RegCloseKey(handle);
    ASSERT_EQ(kScanCapsOk, caps.init(true));
    record = copyOf(caps);
    EXPECT_EQ(2, record.Scanners[0].CommandSetType);
    EXPECT_EQ(8, record.Scanners[1].CommandSetType);
    EXPECT_EQ(1, record.Scanners[0].Compression);
    EXPECT_EQ(0, record.Scanners[1].Compression);
}

TEST(ScanCaps, NumScannersBoundsTheOverridesToTheRecordsTwoEntries) {
    TempFolder folder;
    CapqLibrary library(folder, "sc09capq");
    TestRegistryKey key;
    setDword(key, "ScanMode", 4);
    setDword(key, "Compression", 7);
    CScanCaps caps(folder.path(), "sc09", key.path());

    const char* const none[] = {"NumScanners=0\n", "NumScanners=-1\n"};
    for (const char* config : none) {
        library.configure(std::string(config) + "scanner1.Compression=2\n");
        ASSERT_EQ(kScanCapsOk, caps.init(true)) << config;
        const ScanCapsRecord record = copyOf(caps);
        EXPECT_EQ(4, record.DefaultScanMode) << config;
        EXPECT_EQ(1, record.Scanners[0].Compression) << config;
        EXPECT_EQ(2, record.Scanners[1].Compression) << config;
    }

    library.configure("NumScanners=1\nscanner1.Compression=2\n");
    ASSERT_EQ(kScanCapsOk, caps.init(true));
    ScanCapsRecord record = copyOf(caps);
    EXPECT_EQ(7, record.Scanners[0].Compression);
    EXPECT_EQ(2, record.Scanners[1].Compression);

    library.configure("NumScanners=5\nscanner1.Compression=2\n");
    ASSERT_EQ(kScanCapsOk, caps.init(true));
    // The copy is exactly the record: a guard behind it stays as it was.
    std::vector<uint8_t> buffer(kScanCapsRecordSize + 64, 0xEE);
    auto* out = reinterpret_cast<ScanCapsRecord*>(buffer.data());
    EXPECT_EQ(out, caps.copyRecord(out));
    EXPECT_EQ(5, out->NumScanners);
    EXPECT_EQ(7, out->Scanners[0].Compression);
    EXPECT_EQ(7, out->Scanners[1].Compression);
    for (size_t i = kScanCapsRecordSize; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << i;
    EXPECT_EQ(nullptr, caps.copyRecord(nullptr));
}

TEST(ScanCaps, ProcessInstanceLoadsTheLibraryBesideTheProgramByItsPrefix) {
    std::vector<CScanCaps*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &CScanCaps::instance(); });
    for (std::thread& thread : threads) thread.join();
    for (CScanCaps* caps : seen) EXPECT_EQ(&CScanCaps::instance(), caps);

    // The test program is named like the monitor, so its prefix names the stand-in in bin/.
    CScanCaps& caps = CScanCaps::instance();
    ASSERT_EQ(kScanCapsOk, caps.init(false));
    EXPECT_NE(nullptr, GetModuleHandleA((ownFolder() + "kvabcapq.dll").c_str()));
    ScanCapsRecord record;
    caps.copyRecord(&record);
    EXPECT_EQ(1, record.NumScanners) << "the stand-in's default device";
    EXPECT_EQ(1, record.SendAppListToOpPanel);
    EXPECT_EQ(1, caps.sendAppListToOpPanel()) << "the one field, read without a copy";
    EXPECT_EQ(kScanCapsOk, caps.init(false));
}
