// Job files and program starts: each request becomes a small file in the temporary folder and
// a started program that reads it.
#include "CMonitor.h"

#include "Destinations.h"
#include "Duplexer.h"
#include "JobFile.h"
#include "JobText.h"
#include "MonitorLog.h"
#include "ScanJob.h"

#include <algorithm>
#include <cwchar>

using namespace monitor_log;

namespace {
constexpr LONG kInvalidData = ERROR_INVALID_DATA;
constexpr size_t kNameCompareLength = 30;

bool isCodePageLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

// Wide text in the system code page, cut to at most `capacity` - 1 bytes. Converted whole and
// then cut: a conversion into a buffer too small gives nothing at all, and a path of two-byte
// characters would then lose every character instead of the ones past its room.
std::string toCodePage(const std::wstring& text, size_t capacity = kNameBuffer) {
    if (text.empty() || capacity == 0) return std::string();
    const int length = static_cast<int>(std::min<size_t>(text.size(), 1u << 20));
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, &out[0], needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return cutAtCharacter(out, capacity - 1, isCodePageLeadByte);
}

bool sameDestinationName(const std::wstring& name, const wchar_t* fixed) {
    return _wcsnicmp(name.c_str(), fixed, kNameCompareLength) == 0;
}
}  // namespace

DestinationValues CMonitor::destinationValues(const ScanRequest& scan) const {
    DestinationValues values;
    values.portName = scan.device.port;
    values.colorModeText = scan.colorModeText;
    values.ocrFlag = appList_.ocrFlag();
    values.faxProgram = monitor_process::faxProgramText;
    return values;
}

void CMonitor::buildFileJob(ClaimedJob& job, const ScanRequest& scan) { job.write(fileJob(destinationValues(scan)).bytes()); }

void CMonitor::buildFolderJob(ClaimedJob& job, const ScanRequest& scan, const PanelAppRecord& record) {
    char now[kNameBuffer] = {};
    CSCUtil::getDateTimeText(now, sizeof(now));
    job.write(folderJob(destinationValues(scan), toCodePage(record.path), toCodePage(record.defaultFileType, 5), now)
                  .bytes());
}

void CMonitor::buildApplicationJob(ClaimedJob& job, const ScanRequest& scan, const PanelAppRecord& record) {
    job.write(applicationJob(destinationValues(scan), toCodePage(record.path), toCodePage(record.defaultFileType))
                  .bytes());
}

void CMonitor::buildEmailJob(ClaimedJob& job, const ScanRequest& scan) {
    uint8_t options[8] = {};
    {
        std::lock_guard<std::mutex> session(sessionObjectLock_);
        scx::setPortText(scanObject2_, scan.device.port.c_str());
        scx::queryOptions(scanObject0_, options, scanObject2_);
    }
    job.write(emailJob(destinationValues(scan), options[0]).bytes());
}

void CMonitor::buildFaxJob(ClaimedJob& job, const ScanRequest& scan) { job.write(faxJob(destinationValues(scan)).bytes()); }

void CMonitor::buildPrintJob(ClaimedJob& job, const DeviceNames& device, int copies, int colorNumber) {
    job.write(printJob(device.port, device.printer, copies, colorNumber).bytes());
}

LONG CMonitor::ScanToApplication(int32_t appIndex, const ScanRequest& scan) {
    const std::optional<PanelAppRecord> record = appList_.destinationForScan(appIndex);
    if (!record) {
        // Nothing to scan to: no file is written and nothing is started.
        logError("ScanToApplication: no destination for application index " + std::to_string(appIndex));
        return kInvalidData;
    }
    ClaimedJob job = ClaimedJob::draw(temporaryFolder(), true);
    if (job.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    const std::wstring& name = record->friendlyName;
    if (sameDestinationName(name, monitor_process::destinationNames[1])) {
        buildFaxJob(job, scan);
    } else if (sameDestinationName(name, monitor_process::destinationNames[0])) {
        buildEmailJob(job, scan);
    } else if (sameDestinationName(name, monitor_process::destinationNames[2])) {
        buildFileJob(job, scan);
    } else if (record->isFolder) {
        buildFolderJob(job, scan, *record);
    } else {
        buildApplicationJob(job, scan, *record);
    }
    return LaunchLightScan(job.path());
}

LONG CMonitor::ScanToComputer(const ScanRequest& scan) {
    ClaimedJob job = ClaimedJob::draw(temporaryFolder(), false);
    AppJobValues values;
    values.widthText = scan.widthText;
    values.heightText = scan.heightText;
    values.colorModeText = scan.colorModeText;
    values.portName = scan.device.port;
    values.ocrFlag = appList_.ocrFlag();
    values.photoDockPresent = photoDockPresent_;
    values.paintPath = toCodePage(appList_.paintPath(), kNameBuffer + 1);
    LONG result = 0;
    if (!job.write(appJobBytes(values))) {
        logError("Couldn't create file successfully.");
        result = kInvalidData;
    }
    if (!job.empty()) LaunchLightScan(job.path());
    return result;
}

LONG CMonitor::LaunchCopy(DcsHandle handle, int32_t parameter, int32_t mode) {
    ClaimedJob job = ClaimedJob::draw(temporaryFolder(), true);
    if (job.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    // An unknown handle leaves the port and printer empty, never another device's.
    buildPrintJob(job, lookupDevice(handle).value_or(DeviceNames{}), parameter, mode);
    LaunchLightScan(job.path());
    return 0;
}

void CMonitor::launch(const std::string& command, LaunchLine line) {
    monitor_process::enterModuleDirectory();
    if (line == LaunchLine::Logged) logInfo("LaunchProgram =>" + command);
    CSCUtil::runProgram(command.c_str(), false, nullptr);
}

LONG CMonitor::LaunchLightScan(const std::string& jobPath) {
    launch(lightScanCommand(monitor_process::moduleDirectory, prefix_, jobPath), LaunchLine::Logged);
    return 0;
}

LONG CMonitor::ReportLocalCardInserted() {
    const std::string path = boundedText(temporaryFolder() + "LocalCardReader.kvr");
    LONG result = 0;
    if (writeJobBytes(path.c_str(), cardReportBytes(), false) != 0) {
        logError("Couldn't create hid report file.");
        result = kInvalidData;
    }
    launch(photoDockCommand(path), LaunchLine::Logged);
    return result;
}

bool CMonitor::launchPhotoDesk(DcsHandle handle) {
    // The card's own device, not whichever report came last; started from wherever the
    // current folder is, and without a log line.
    const std::optional<DeviceNames> device = lookupDevice(handle);
    if (!device) return false;
    return CSCUtil::runProgram(photoDeskCommand(photoDeskPath_, device->printer).c_str(), false, nullptr);
}

int CMonitor::setDuplexerButtonStatus(DcsHandle handle, DWORD state) {
    return writeDuplexerButtonStatus(brandKeyPath_, lookupDevice(handle).value_or(DeviceNames{}).printer, state,
                                     spoolerFriendlyName);
}
