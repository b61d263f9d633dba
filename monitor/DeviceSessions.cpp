// The device table: enumeration, opening and registration of every HID interface, and the
// questions other parts ask about devices.
#include "CMonitor.h"

#include "CallbackGuard.h"
#include "MonitorLog.h"
#include "UntrustedText.h"

#include <cstring>

using namespace monitor_log;

namespace {
// What the device library calls: an exception (memory running out, say) ends as a log line and
// E_FAIL, never unwinding into the library.
template <typename Work>
LONG guardedCallback(const char* name, Work work) noexcept {
    return callbackGuard<LONG>(E_FAIL, work, [name](const char* what) {
        logError(std::string("CMonitor::") + name + " stopped by an exception: " + what + "; answered E_FAIL");
    });
}

LONG WINAPI enumHidsThunk(uint32_t first, DcsHandle handle) {
    return guardedCallback("enumHidsCallback", [&]() -> LONG {
        CMonitor* monitor = CMonitor::instance();
        return monitor != nullptr ? monitor->enumHidsCallback(first, handle) : 0;
    });
}

LONG WINAPI deviceArrivalThunk(uint32_t first, DcsHandle handle) {
    return guardedCallback("deviceArrivalCallback", [&]() -> LONG {
        CMonitor* monitor = CMonitor::instance();
        return monitor != nullptr ? monitor->deviceArrivalCallback(first, handle) : E_FAIL;
    });
}

LONG WINAPI notificationThunk(DcsHandle handle, uint32_t notificationClass, uint32_t code) {
    return guardedCallback("notificationCallback", [&]() -> LONG {
        CMonitor* monitor = CMonitor::instance();
        return monitor != nullptr ? monitor->notificationCallback(handle, notificationClass, code) : 0;
    });
}

LONG WINAPI reportThunk(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length) {
    return guardedCallback("reportCallback", [&]() -> LONG {
        CMonitor* monitor = CMonitor::instance();
        return monitor != nullptr ? monitor->reportCallback(first, handle, report, length) : E_FAIL;
    });
}

DcsClient shortLivedClient() { return DcsClient(monitor_process::instance, "", false); }
}  // namespace

// Device strings are the device's to choose: made safe for the job files and the log here, where
// they come in.
void CMonitor::readPortName(DcsClient& client, DcsHandle handle, char (&out)[kNameBuffer]) {
    char buffer[kNameBuffer + 1] = {};
    uint32_t length = 0;
    client.getStringHid(handle, kDescriptorPortname, buffer, kNameBuffer, &length);
    const std::string port = withoutMarkup(std::string(buffer));
    copyBounded(out, sizeof(out), port.c_str(), port.size());
}

std::string CMonitor::readPrinterName(DcsClient& client, DcsHandle handle) {
    char model[kNameBuffer + 1] = {};
    uint32_t length = 0;
    // A model that could not be read, too long for the buffer included, counts as none.
    const LONG result = client.getStringHid(handle, kDescriptorScannerModel, model, kNameBuffer, &length);
    return result != 0 || length == 0 ? "Null Printer" : withoutMarkup(std::string(model));
}

bool CMonitor::transportIsUsb(DcsClient& client, DcsHandle handle) {
    char buffer[kNameBuffer + 1] = {};
    uint32_t length = 0;
    client.getStringHid(handle, kDescriptorTransport, buffer, kNameBuffer, &length);
    return std::memcmp(buffer, "USB1", 5) == 0;
}

int CMonitor::Enum() {
    if (!isLoggerInstalled()) installLogger(new SCXLogger());
    Trace trace("CMonitor::Enum()");
    if (!dcsClient_) dcsClient_ = std::make_unique<DcsClient>(monitor_process::instance, "", true);
    dcsClient_->discovery(kTransportUsb, "");

    devices_.beginCounting();
    LONG result = dcsClient_->enumHids(kTransportLocal, "", enumHidsThunk);
    if (result != 0) {
        logError(LogText("DCS client failure in enumHids TRANSPORT_LOCAL with lRetCode = ") << result << ". Retrying.");
        int attempt = 0;
        for (; attempt < kEnumRetries && result != 0; ++attempt) {
            Sleep(timings_.enumRetrySleepMs);
            devices_.beginCounting();
            result = dcsClient_->enumHids(kTransportLocal, "", enumHidsThunk);
        }
        if (result != 0) {
            logError("CpdDcsClient::enumWindowsHids failed exiting.");
            return 0;
        }
    }

    devices_.beginFilling();
    const LONG filling = dcsClient_->enumHids(kTransportLocal, "", enumHidsThunk);
    if (filling != 0) logError("DCS client failure in enumHids Local");

    std::vector<DeviceRecord> records = devices_.endFilling();
    for (DeviceRecord& record : records) {
        DcsHandle handle = 0;
        dcsClient_->enumSpecificHid(record.portName, &handle);
        record.handle = handle;
        record.isLocal = transportIsUsb(*dcsClient_, handle) ? 1 : 0;
    }
    devices_.replace(std::move(records));
    if (infoEnabled()) logInfo(LogText("DCS enumHids LOCAL = ") << CountDevicesByTransport(kTransportLocal));
    if (filling != 0) {
        ClearDevices();
        return 0;
    }
    return 1;
}

LONG CMonitor::enumHidsCallback(uint32_t, DcsHandle handle) {
    Trace trace("CMonitor::enumHidsCallback()");
    lastHandle_ = handle;
    const std::optional<size_t> index = devices_.claimRecord();
    if (!index) return 0;
    DcsClient client = shortLivedClient();
    char port[kNameBuffer] = {};
    readPortName(client, handle, port);
    auto named = printerNameMap_.find(handle);
    const bool havePrinter = named != printerNameMap_.end();
    // A device present at start-up is named as an arriving one is; the map, when it has the
    // handle, still wins.
    devices_.fillRecord(*index, port, havePrinter ? named->second : readPrinterName(client, handle));
    if (!havePrinter) {
        if (infoEnabled()) {
            logInfo(LogText("CMonitor::enumHidCallback(") << handle << ") no PrinterFriendlyName for port " << port);
        }
    }
    return 0;
}

int CMonitor::AddNewDevices() {
    return dcsClient_ && dcsClient_->enumHids(kTransportLocal, "", deviceArrivalThunk) == 0 ? 1 : 0;
}

LONG CMonitor::deviceArrivalCallback(uint32_t, DcsHandle handle) {
    if (devices_.contains(handle)) return E_FAIL;
    DcsClient client = shortLivedClient();
    DeviceRecord record;
    readPortName(client, handle, record.portName);
    const std::string printer = readPrinterName(client, handle);
    copyBounded(record.printerName, sizeof(record.printerName), printer.c_str(), printer.size());
    DcsHandle specific = 0;
    const LONG lookup = client.enumSpecificHid(record.portName, &specific);
    // A device whose handle can't be learnt now is left to the next device change: a record
    // without a handle could never be opened, and every broadcast would add another.
    if (lookup != 0 || specific == 0) {
        logError(LogText("CMonitor::deviceArrivalCallback(") << handle << ") no handle for port " << record.portName
                                                              << ": " << lookup);
        return E_FAIL;
    }
    record.handle = specific;
    record.isLocal = transportIsUsb(client, specific) ? 1 : 0;
    return devices_.appendIfNew(record) ? 0 : E_FAIL;
}

void CMonitor::OpenAndRegisterForHids() {
    logInfo("OpenAndRegisterForHids()");
    std::vector<DeviceRecord> records = devicesSnapshot();
    if (records.empty()) {
        logError("No Devices attached!");
        return;
    }
    for (size_t index = 0; index < records.size(); ++index) {
        DeviceRecord& record = records[index];
        if (record.opened && record.registered) continue;
        if (!record.opened && dcsClient_->openHid(record.handle) != 0) {
            record.registered = 0;
            logInfo("DCS openHid = FAILED");
            if (infoEnabled()) logInfo(LogText("Opening: ") << record.handle);
        } else {
            // Also for a record that stayed open and is only registered again.
            logInfo("DCS openHid = 0");
            if (infoEnabled()) logInfo(LogText("Opening: ") << record.handle);
            record.opened = 1;
        }
        if (record.opened && !record.registered) {
            if (dcsClient_->registerForReportsHid(record.handle, reportThunk) != 0) {
                record.registered = 0;
                logError("DCS client failure in registerForReportsHid");
                dcsClient_->closeHid(record.handle);
                record.opened = 0;
            } else {
                const LONG result = dcsClient_->registerForNotificationsHid(record.handle, notificationThunk);
                if (infoEnabled()) logInfo(LogText("registerForNotificationsHid successfully!!! lRetCode = ") << result);
                if (result != 0) {
                    record.registered = 0;
                    logError("registerForNotificationsHid with DCS failed!!!");
                } else {
                    record.registered = 1;
                }
            }
        }
        devices_.writeBackFlags(index, record);
    }
}

void CMonitor::UnregisterHids() {
    std::vector<DeviceRecord> records = devicesSnapshot();
    if (records.empty() || !dcsClient_) return;
    for (const DeviceRecord& record : records) {
        LONG result = dcsClient_->unregisterForReportsHid(record.handle);
        if (result != 0) logError(LogText("DCS client failure in unregisterForReportsHid rc=") << result);
        result = dcsClient_->unregisterForNotificationsHid(record.handle);
        if (result != 0) logError(LogText("DCS client failuer in unregisterForNotificationsHid rc=") << result);
        result = dcsClient_->closeHid(record.handle);
        if (result != 0) logError(LogText("DCS client failure in closeHid rc=") << result);
    }
    devices_.markAllClosed();
}

void CMonitor::ClearDevices() { devices_.clear(); }

LONG CMonitor::notificationCallback(DcsHandle handle, uint32_t notificationClass, uint32_t code) {
    Trace trace("CMonitor::notificationCallback()");
    if (notificationClass != kNotificationClassHidOpen || CountDevicesByTransport(kTransportLocal) < 1) return 0;
    if (code == kNotificationHidOpenOkay) {
        logInfo("received notificationCallback NOTIFICATION_HID_OPEN_OKAY");
        SetHidOpenState(handle, 1);
    } else if (code == kNotificationHidOpenError) {
        logInfo("received notificationCallback NOTIFICATION_HID_OPEN_ERROR");
        SetHidOpenState(handle, 0);
    } else {
        logInfo("notificationCallback NOT HANDLED");
    }
    return 0;
}

std::optional<DeviceNames> CMonitor::lookupDevice(DcsHandle handle) {
    std::optional<DeviceNames> names;
    if (const std::optional<DeviceRecord> record = devices_.find(handle)) {
        names = DeviceNames{record->portName, record->printerName};
    } else if (dcsClient_) {
        char buffer[kNameBuffer + 1] = {};
        uint32_t length = 0;
        dcsClient_->getStringHid(handle, kDescriptorPortname, buffer, kNameBuffer, &length);
        // Known to the library alone: the port names the printer as well.
        if (length > 0 && length <= kNameBuffer) {
            const std::string port = withoutMarkup(std::string(buffer));
            names = DeviceNames{port, port};
        }
    }
    return names;
}

LONG CMonitor::GetDeviceNames(DcsHandle handle, char* printerNameOut) {
    const std::optional<DeviceNames> names = lookupDevice(handle);
    if (!names) return ERROR_NOT_FOUND;
    if (printerNameOut != nullptr) copyBounded(printerNameOut, kNameBuffer, names->printer.c_str(), names->printer.size());
    return 0;
}

int CMonitor::CountDevicesByTransport(const char* name) {
    return devices_.countLocal(std::strcmp(name, kTransportLocal) == 0);
}

int CMonitor::CountUnreadyDevices() { return devices_.countUnready(); }

void CMonitor::SetHidOpenState(DcsHandle handle, int32_t value) { devices_.setHidOpenState(handle, value); }

int CMonitor::IsLocalDevice(DcsHandle handle) {
    BasicLogger* log = logger();
    const bool tracing = log->isEnabled(&g_logPanelmon, LOG_TRACE);
    FunctionTrace trace(log, &g_logPanelmon,
                        tracing ? std::string(LogText("CMonitor::IsLocalDevice(") << handle << ")") : std::string(),
                        LOG_TRACE, tracing);
    return dcsClient_ && transportIsUsb(*dcsClient_, handle) ? 1 : 0;
}

LONG CMonitor::EndSessionForPort(DcsHandle handle) {
    const std::optional<DeviceNames> device = lookupDevice(handle);
    if (!device) return 0;
    if (infoEnabled()) logInfo("Ending Session for Port: " + device->port);
    SessionControllerClient client(prefix_, device->port);
    client.closeSession();
    return 0;
}

LONG CMonitor::SendScanToList(DcsHandle handle) {
    Sleep(250);
    // The scanner held is that of the device whose panel gets the list; its other reports wait
    // for this one (reportCallback), so none of them releases the hold during the send. An
    // unknown handle has no port: nothing is held and the list names none, never another
    // device's.
    const std::string port = lookupDevice(handle).value_or(DeviceNames{}).port;
    SessionControllerClient client(prefix_, port);
    if (!port.empty()) client.openSession();
    const auto release = [&] {
        if (!port.empty() && IsLocalDevice(handle) == 1) client.closeSession();
    };
    try {
        // The scan-session library and the list library get no callback and no monitor object,
        // and this thread owns no window that a sent message could reach, so nothing re-enters
        // the monitor on this thread while the lock is held.
        std::lock_guard<std::mutex> session(sessionObjectLock_);
        const std::string text = "<PortName>" + port + "</PortName>";
        scx::setPortText(scanObject2_, text.c_str());
        appList_.refreshPanelList(scanObject2_);
    } catch (...) {
        release();  // a send that failed (out of memory) must not keep the scanner held
        throw;
    }
    release();
    return 0;
}
