// Operator-panel reports: decoding, the dispatch on origin and request code, and the scan
// request that hands over to the job files.
#include "CMonitor.h"

#include "CScanCaps.h"
#include "JobText.h"
#include "MonitorLog.h"
#include "PanelRequest.h"
#include "UntrustedText.h"

#include <cstring>

using namespace monitor_log;

namespace {
constexpr LONG kInvalidData = ERROR_INVALID_DATA;  // 13
}  // namespace

LONG CMonitor::reportCallback(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length) {
    Trace trace("CMonitor::reportCallback()");
    if (report == nullptr || length < kPanelReportMinimum || first == 0 || handle == 0) return kInvalidData;
    lastHandle_ = handle;
    if (infoEnabled()) logInfo("HID Report = " + toHexText(report, length, true));

    PanelRequest request;
    int32_t code = 0;
    if (decodePanelReport(report, request, code) != 0) return 0;
    const uint8_t parameter = report[7];

    const std::optional<DeviceRecord> device = devices_.find(handle);
    std::lock_guard<std::recursive_mutex> inOrder(deviceWork_.of(device ? device->portName : ""));
    switch (panelActionFor(request.origin, code)) {
        case PanelAction::Invalid:
            return kInvalidData;
        case PanelAction::NoButton:
            logInfo("No button pressed");
            return 0;
        case PanelAction::HostSendList:
            SendScanToList(handle);
            logInfo("Send Host ScanToList");
            return 0;
        case PanelAction::HostCancel:
            logInfo("Cancel scan operation");
            EndSessionForPort(handle);
            return 0;
        case PanelAction::Scan: {
            char printer[kNameBuffer] = {};
            GetDeviceNames(handle, printer);
            if (infoEnabled()) logInfo("Scan. Color mode: " + std::to_string(code));
            RequestScan(code, request, handle);
            return 0;
        }
        case PanelAction::Fax: {
            logInfo("Fax");
            // Always grayscale with no application chosen. The library's buffer stays untouched.
            uint8_t fax[kPanelReportMinimum];
            std::memcpy(fax, report, sizeof(fax));
            fax[6] = 2;
            fax[7] = 0xFF;
            decodePanelReport(fax, request, code);
            RequestScan(2, request, handle);
            return 0;
        }
        case PanelAction::ColorCopy:
            return LaunchCopy(handle, parameter, 2);
        case PanelAction::GrayCopy:
            return LaunchCopy(handle, parameter, 1);
        case PanelAction::InkReorder:
            logInfo("Ink Reorder Application");
            RequestScan(6, request, handle);
            return 0;
        case PanelAction::MemoryCard:
            if (photoDockPresent_) {
                ReportLocalCardInserted();
            } else {
                launchPhotoDesk(handle);
            }
            return 0;
        case PanelAction::PanelSendList:
            SendScanToList(handle);
            logInfo("Send ScanToList");
            return 0;
        case PanelAction::AutoPrint:
            autoPrint(handle, parameter, report[5]);
            return 0;
        case PanelAction::Duplex:
            setDuplexerButtonStatus(handle, parameter & 1);
            return 0;
        case PanelAction::EndSession:
            EndSessionForPort(handle);
            return 0;
    }
    return 0;
}

void CMonitor::autoPrint(DcsHandle handle, int files, int storageId) {
    logInfo("Auto-print selected files");
    // An unknown handle gets no port, as a copy does: the last port looked up may be another
    // device's, whose card would then be printed.
    const DeviceNames device = lookupDevice(handle).value_or(DeviceNames{});
    const std::string command = quickPrintCommand(quickPrintPath_, files, device.port, storageId, device.printer);
    EndSessionForPort(handle);
    launch(command);
}

bool CMonitor::sessionIsActive() const {
    return getConsoleSession_ == nullptr || getConsoleSession_() == consoleSession_;
}

LONG CMonitor::RequestScan(int32_t code, PanelRequest request, DcsHandle handle) {
    Trace trace("CMonitor::RequestScan()");
    if (!sessionIsActive()) {
        logInfo("CMonitor::RequestScan Not Active session");
        return 0;
    }
    if (code < 0 || handle == 0) {
        logError("ERROR_INVALID_DATA");
        return kInvalidData;
    }
    const int32_t appIndex = applicationIndexFor(request.parameter);

    ScanRequest scan;
    scan.handle = handle;
    scan.colorModeText = code == 2 ? "grayscale" : "color";
    const std::optional<DeviceNames> device = lookupDevice(handle);
    if (!device) {
        logError("GetFriendlyName failure");
        return 0;
    }
    scan.device = *device;
    const PaperSize paper = lookupPaperSize(request.paperSize);
    scan.widthText = paper.widthText;
    scan.heightText = paper.heightText;

    CScanCaps& caps = CScanCaps::instance();
    caps.init(false);
    if (caps.sendAppListToOpPanel() == 0) ScanToComputer(scan);
    ScanToApplication(appIndex, scan);
    monitor_process::enterModuleDirectory();
    logInfo("LaunchProgram =>");
    return 0;
}

void CMonitor::LogScanDataMsg(const void* message) {
    BasicLogger* log = logger();
    if (log->isEnabled(&g_logScx, LOG_INFO)) log->writeText(&g_logScx, LOG_INFO, "CMonitor::LogScanDataMsg");
    if (message == nullptr || !infoEnabled()) return;
    ScanMsg scan;
    std::memcpy(&scan, message, sizeof(scan));
    scan.FriendlyName[sizeof(scan.FriendlyName) - 1] = '\0';
    auto number = [](int32_t value) { return std::to_string(value); };
    logInfo(std::string("pScanMsg->Request = ") + scanRequestName(scan.Request));
    logInfo("pScanMsg->FriendlyName = " + withoutMarkup(std::string(scan.FriendlyName)));
    logInfo(std::string("pScanMsg->TransportType = ") + scanTransportName(scan.TransportType));
    logInfo("pScanMsg->DPI.x = " + number(scan.DPI.x));
    logInfo("pScanMsg->DPI.y = " + number(scan.DPI.y));
    logInfo("pScanMsg->ButtonID = " + number(scan.ButtonID));
    logInfo("pScanMsg->AppIndex = " + number(scan.AppIndex));
    logInfo("pScanMsg->Content = " + number(scan.Content));
    logInfo("pScanMsg->ColorMode = " + number(scan.ColorMode));
    logInfo("pScanMsg->Area.xPos = " + number(scan.Area.xPos));
    logInfo("pScanMsg->Area.yPos = " + number(scan.Area.yPos));
    logInfo("pScanMsg->Area.xExtent = " + number(scan.Area.xExtent));
    logInfo("pScanMsg->Area.yExtent = " + number(scan.Area.yExtent));
}
