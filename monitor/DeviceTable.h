// The table of the HID interfaces the monitor tracks. The library's callback threads read it
// while the window thread rebuilds it, so every access holds the table's lock, and no device
// library call is ever made under it: callers work on copies and write flags back.
#pragma once

#include "DeviceRecord.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

class DeviceTable {
public:
    // The two enumeration passes: the counting pass counts callbacks; the filling pass hands
    // each callback a record of the counted table, never more than were counted.
    void beginCounting();
    void beginFilling();
    // Called once per enumerated device: the index of its record in the filling pass, or none
    // (counted, or beyond the counted table).
    std::optional<size_t> claimRecord();
    void fillRecord(size_t index, const char* portName, const std::string& printerName);
    // Ends the filling pass: copies of the records filled.
    std::vector<DeviceRecord> endFilling();

    void replace(std::vector<DeviceRecord> records);
    bool contains(DcsHandle handle) const;
    // Appends a record unless one with its handle exists; false when it existed.
    bool appendIfNew(const DeviceRecord& record);
    void clear();

    std::vector<DeviceRecord> snapshot() const;
    std::optional<DeviceRecord> find(DcsHandle handle) const;
    // Writes a record's opened and registered flags back to the same place, unless the table
    // was rebuilt meanwhile.
    void writeBackFlags(size_t index, const DeviceRecord& record);
    void markAllClosed();
    void setHidOpenState(DcsHandle handle, int32_t value);

    int countLocal(bool local) const;
    int countUnready() const;

private:
    mutable std::mutex lock_;
    std::vector<DeviceRecord> records_;
    int count_ = 0;             // counted by the enumeration callbacks
    bool fillingPass_ = false;  // the table exists and the callbacks fill it
};
