// Stand-in for the scanner capabilities library. Its object fills the capability record with a
// plausible device, changed by the lines of "<dll name>.txt" beside the DLL:
//   <header field>=<n>            NumScanners, SendAppListToOpPanel, ... (any value)
//   scanner0.<field>=<n>          and scanner1.<field>: fields of the two entries
//   fill=<n>                      the fill's result; non-zero also scribbles on the record
//   create=none                   creation returns no object
// Numbers are decimal or 0x hex. Each call is journaled to "<dll name>.journal".
#include "ScanCapsRecord.h"

#include "ModuleFiles.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {
HMODULE g_self = nullptr;

using DeviceQueryFn = uint8_t(__stdcall*)(void* buffer, uint32_t* size);

std::string besideDll(const char* extension) { return standin::besideModule(g_self, extension); }

void journal(const std::string& line) { standin::journalLine(g_self, line); }

struct Field {
    const char* name;
    size_t offset;
    size_t width;
};

#define HEADER_FIELD(f) {#f, offsetof(ScanCapsRecord, f), sizeof(ScanCapsRecord::f)}
const Field kHeaderFields[] = {
    HEADER_FIELD(NumScanners),       HEADER_FIELD(SendAppListToOpPanel), HEADER_FIELD(MaxNumOpPanelApps),
    HEADER_FIELD(MaxNumOpPanelCharsPerApp), HEADER_FIELD(ADFScannerIndex), HEADER_FIELD(DefaultScanMode),
    HEADER_FIELD(FastPathSupported), HEADER_FIELD(MajorVersion),         HEADER_FIELD(MinorVersion),
};
#undef HEADER_FIELD

#define ENTRY_FIELD(f) {#f, offsetof(ScannerCapsEntry, f), sizeof(ScannerCapsEntry::f)}
const Field kEntryFields[] = {
    ENTRY_FIELD(NumOptRes),          ENTRY_FIELD(DefaultOpticalResIndex), ENTRY_FIELD(NeedDataAlignment),
    ENTRY_FIELD(DelayBetweenRead),   ENTRY_FIELD(ADF),                    ENTRY_FIELD(ScanCmdType),
    ENTRY_FIELD(Compression),        ENTRY_FIELD(SupportedCompressionType), ENTRY_FIELD(SupportedDataTypes),
    ENTRY_FIELD(RawDataFormat),      ENTRY_FIELD(RawPixelOrder),          ENTRY_FIELD(BWInversion),
    ENTRY_FIELD(BWThreshold),        ENTRY_FIELD(WhitePointClipping),     ENTRY_FIELD(CompressionQuality),
    ENTRY_FIELD(CommandSetType),     ENTRY_FIELD(FlipImage),              ENTRY_FIELD(NPAVersion),
    ENTRY_FIELD(MaxScanSizeInPixels), ENTRY_FIELD(MirrorImageSupported),  ENTRY_FIELD(NegativeImageSupported),
    ENTRY_FIELD(ColorDropoutSupported), ENTRY_FIELD(BackgroundRemovalSupported),
};
#undef ENTRY_FIELD

void store(uint8_t* base, const Field& field, long long value) {
    // Little-endian: the low bytes of the value fit any width.
    std::memcpy(base + field.offset, &value, field.width);
}

bool setField(uint8_t* base, const Field* fields, size_t count, const std::string& name, long long value) {
    for (size_t i = 0; i < count; ++i) {
        if (name == fields[i].name) {
            store(base, fields[i], value);
            return true;
        }
    }
    return false;
}

void defaultDevice(ScanCapsRecord& record) {
    std::memset(&record, 0, sizeof(record));
    record.NumScanners = 1;
    record.SendAppListToOpPanel = 1;
    record.MaxNumOpPanelApps = 10;
    record.MaxNumOpPanelCharsPerApp = 16;
    record.MajorVersion = 1;
    ScannerCapsEntry& flatbed = record.Scanners[0];
    const int32_t resolutions[3] = {150, 300, 600};
    flatbed.NumOptRes = 3;
    for (int i = 0; i < 3; ++i) {
        flatbed.Resolutions[i][0] = resolutions[i];
        flatbed.Resolutions[i][1] = resolutions[i];
        flatbed.Resolutions[i][2] = 1;
    }
    flatbed.DefaultOpticalResIndex = 1;
    flatbed.Compression = 1;
    flatbed.SupportedCompressionType = 3;
    flatbed.SupportedDataTypes = 7;
    flatbed.RawDataFormat = 1;
    flatbed.BWThreshold = 128;
    flatbed.ScanBed[2] = 2550;
    flatbed.ScanBed[3] = 3508;
    flatbed.CompressionQuality = 75;
    flatbed.CommandSetType = 2;
    flatbed.NPAVersion = 0x0103;
    flatbed.MaxScanSizeInPixels = 2550LL * 3508LL;
    std::memcpy(flatbed.LibraryData, "capq", 4);
}

struct Settings {
    int32_t fillResult = 0;
    bool createNone = false;
};

// Applies the .txt lines to the record (when given) and returns the settings.
Settings readSettings(ScanCapsRecord* record) {
    Settings settings;
    std::ifstream in(besideDll(".txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string text = line.substr(equals + 1);
        if (key == "create") {
            settings.createNone = text == "none";
            continue;
        }
        const long long value = std::strtoll(text.c_str(), nullptr, 0);
        if (key == "fill") {
            settings.fillResult = static_cast<int32_t>(value);
        } else if (record != nullptr && key.compare(0, 9, "scanner0.") == 0) {
            setField(reinterpret_cast<uint8_t*>(&record->Scanners[0]), kEntryFields, std::size(kEntryFields),
                     key.substr(9), value);
        } else if (record != nullptr && key.compare(0, 9, "scanner1.") == 0) {
            setField(reinterpret_cast<uint8_t*>(&record->Scanners[1]), kEntryFields, std::size(kEntryFields),
                     key.substr(9), value);
        } else if (record != nullptr) {
            setField(reinterpret_cast<uint8_t*>(record), kHeaderFields, std::size(kHeaderFields), key, value);
        }
    }
    return settings;
}

// Slot 0 is never called; slot 1 fills. No virtual destructor, so the table has exactly these
// two entries, each with the member-function convention.
class ScannerConfig final {
public:
    virtual void slot0() {}
    virtual int32_t fill(void* target, DeviceQueryFn query) {
        ScanCapsRecord record;
        defaultDevice(record);
        const Settings settings = readSettings(&record);
        if (query != nullptr) {
            uint8_t buffer[64];
            std::memset(buffer, 0xCC, sizeof(buffer));
            uint32_t size = sizeof(buffer);
            const uint8_t answer = query(buffer, &size);
            journal("query -> " + std::to_string(answer) + " size=" + std::to_string(size));
        }
        if (target != nullptr) {
            std::memcpy(target, &record, sizeof(record));
            // A failing fill leaves junk behind: the caller must not trust the record then.
            if (settings.fillResult != 0) std::memset(target, 0xA5, sizeof(record));
        }
        journal("fill -> " + std::to_string(settings.fillResult));
        return settings.fillResult;
    }
};
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return standin::attachModule(instance, reason, g_self);
}

extern "C" void* WINAPI createScannerConfigInstance() {
    if (readSettings(nullptr).createNone) {
        journal("create -> none");
        return nullptr;
    }
    journal("create");
    return new ScannerConfig;
}

extern "C" void WINAPI destroyScannerConfigInstance(void* object) {
    journal("destroy");
    delete static_cast<ScannerConfig*>(object);
}
