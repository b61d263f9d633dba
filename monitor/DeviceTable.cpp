#include "DeviceTable.h"

#include "CSCUtil.h"

void DeviceTable::beginCounting() {
    std::lock_guard<std::mutex> hold(lock_);
    fillingPass_ = false;
    count_ = 0;
}

void DeviceTable::beginFilling() {
    std::lock_guard<std::mutex> hold(lock_);
    records_.assign(static_cast<size_t>(count_ > 0 ? count_ : 0), DeviceRecord());
    count_ = 0;
    fillingPass_ = true;
}

std::optional<size_t> DeviceTable::claimRecord() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!fillingPass_) {
        ++count_;
        return std::nullopt;
    }
    if (static_cast<size_t>(count_) >= records_.size()) return std::nullopt;
    return static_cast<size_t>(count_++);
}

void DeviceTable::fillRecord(size_t index, const char* portName, const std::string& printerName) {
    std::lock_guard<std::mutex> hold(lock_);
    if (index >= records_.size()) return;
    DeviceRecord& record = records_[index];
    copyBounded(record.portName, sizeof(record.portName), portName, kNameBuffer);
    copyBounded(record.printerName, sizeof(record.printerName), printerName.c_str(), printerName.size());
}

std::vector<DeviceRecord> DeviceTable::endFilling() {
    std::lock_guard<std::mutex> hold(lock_);
    fillingPass_ = false;
    return std::vector<DeviceRecord>(records_.begin(), records_.begin() + count_);
}

void DeviceTable::replace(std::vector<DeviceRecord> records) {
    std::lock_guard<std::mutex> hold(lock_);
    records_ = std::move(records);
    count_ = static_cast<int>(records_.size());
}

bool DeviceTable::contains(DcsHandle handle) const { return find(handle).has_value(); }

bool DeviceTable::appendIfNew(const DeviceRecord& record) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const DeviceRecord& known : records_) {
        if (known.handle == record.handle) return false;
    }
    records_.push_back(record);
    count_ = static_cast<int>(records_.size());
    return true;
}

void DeviceTable::clear() {
    std::lock_guard<std::mutex> hold(lock_);
    records_.clear();
    count_ = 0;
}

std::vector<DeviceRecord> DeviceTable::snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return records_;
}

std::optional<DeviceRecord> DeviceTable::find(DcsHandle handle) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const DeviceRecord& record : records_) {
        if (record.handle == handle) return record;
    }
    return std::nullopt;
}

void DeviceTable::writeBackFlags(size_t index, const DeviceRecord& record) {
    std::lock_guard<std::mutex> hold(lock_);
    if (index < records_.size() && records_[index].handle == record.handle) {
        records_[index].opened = record.opened;
        records_[index].registered = record.registered;
    }
}

void DeviceTable::markAllClosed() {
    std::lock_guard<std::mutex> hold(lock_);
    for (DeviceRecord& record : records_) {
        record.registered = 0;
        record.hidOpenOk = 0;
        record.opened = 0;
    }
}

void DeviceTable::setHidOpenState(DcsHandle handle, int32_t value) {
    std::lock_guard<std::mutex> hold(lock_);
    for (DeviceRecord& record : records_) {
        if (record.handle == handle) {
            record.hidOpenOk = value;
            return;
        }
    }
}

int DeviceTable::countLocal(bool local) const {
    std::lock_guard<std::mutex> hold(lock_);
    int count = 0;
    for (const DeviceRecord& record : records_) count += (record.isLocal != 0) == local ? 1 : 0;
    return count;
}

int DeviceTable::countUnready() const {
    std::lock_guard<std::mutex> hold(lock_);
    int count = 0;
    for (const DeviceRecord& record : records_) count += record.opened && record.registered ? 0 : 1;
    return count;
}
