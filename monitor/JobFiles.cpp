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
#include <cstdlib>
#include <ctime>
#include <cwchar>

using namespace monitor_log;

namespace {
constexpr LONG kInvalidData = ERROR_INVALID_DATA;
constexpr int kJobNameAttempts = 256;
constexpr unsigned kJobNameCount = 32768;  // the generator's range
constexpr unsigned kJobNameStride = 7919;  // odd: the steps reach every name
constexpr size_t kNameCompareLength = 30;

std::string temporaryFolder() {
    char folder[kNameBuffer] = {};
    const DWORD length = GetTempPathA(kNameBuffer, folder);
    return length > 0 && length < kNameBuffer ? std::string(folder, length) : std::string();
}

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

std::string CMonitor::drawJobPath(bool seed) {
    const std::string folder = temporaryFolder();
    if (seed) std::srand(static_cast<unsigned>(std::time(nullptr)));
    // Two requests in one second draw the same first number: a name already taken is never
    // replaced, so the second request draws on until it creates a file of its own. Threads
    // seeded alike would replay each other's taken names, so the draws after a taken one are
    // moved along by a process-wide step.
    for (int attempt = 0; attempt < kJobNameAttempts; ++attempt) {
        unsigned number = static_cast<unsigned>(std::rand());
        if (attempt > 0) number = (number + jobNameStep_.fetch_add(1) * kJobNameStride) % kJobNameCount;
        const std::string path = boundedText(folder + jobFileName(static_cast<int>(number)));
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            // Kept open: the writer writes through it instead of opening the name again.
            claimedFile_ = std::move(file);
            claimedPath_ = path;
            return path;
        }
        const DWORD error = GetLastError();
        // Any other failure is the writer's to report; it gets the name.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return path;
    }
    return std::string();
}

bool CMonitor::writeJob(const std::string& jobPath, const std::string& bytes) {
    if (claimedFile_ && jobPath == claimedPath_) {
        claimedPath_.clear();
        return writeJobBytesAndClose(claimedFile_.release(), bytes) == 0;
    }
    return writeJobBytes(jobPath.c_str(), bytes, false) == 0;
}

DestinationValues CMonitor::destinationValues() const {
    DestinationValues values;
    values.portName = portName();
    values.colorModeText = colorModeText_;
    values.ocrFlag = appList_.ocrFlag();
    values.faxProgram = monitor_process::faxProgramText;
    return values;
}

void CMonitor::buildFileJob(const std::string& jobPath) { writeJob(jobPath, fileJob(destinationValues()).bytes()); }

void CMonitor::buildFolderJob(const std::string& jobPath, const PanelAppRecord& record) {
    char now[kNameBuffer] = {};
    CSCUtil::getDateTimeText(now, sizeof(now));
    writeJob(jobPath,
             folderJob(destinationValues(), toCodePage(record.path), toCodePage(record.defaultFileType, 5), now).bytes());
}

void CMonitor::buildApplicationJob(const std::string& jobPath, const PanelAppRecord& record) {
    writeJob(jobPath,
             applicationJob(destinationValues(), toCodePage(record.path), toCodePage(record.defaultFileType)).bytes());
}

void CMonitor::buildEmailJob(const std::string& jobPath) {
    const std::string port = portName();
    scx::setPortText(scanObject2_, port.c_str());
    uint8_t options[8] = {};
    scx::queryOptions(scanObject0_, options, scanObject2_);
    writeJob(jobPath, emailJob(destinationValues(), options[0]).bytes());
}

void CMonitor::buildFaxJob(const std::string& jobPath) { writeJob(jobPath, faxJob(destinationValues()).bytes()); }

void CMonitor::buildPrintJob(const std::string& jobPath, DcsHandle handle, int copies, int colorNumber) {
    char printer[kNameBuffer] = {};
    GetDeviceNames(handle, printer);
    writeJob(jobPath, printJob(portName(), printer, copies, colorNumber).bytes());
}

void CMonitor::lookupPaperSize(int areaCode, float& width, float& height) {
    const PaperSize size = ::lookupPaperSize(areaCode);
    width = size.width;
    height = size.height;
    scanWidthText_ = size.widthText;
    scanHeightText_ = size.heightText;
}

LONG CMonitor::ScanToApplication(int32_t appIndex) {
    const std::optional<PanelAppRecord> record = appList_.findDestination(appIndex);
    if (!record) {
        // Nothing to scan to: no file is written and nothing is started.
        logError("ScanToApplication: no destination for application index " + std::to_string(appIndex));
        return kInvalidData;
    }
    const std::string jobPath = drawJobPath(true);
    if (jobPath.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    const std::wstring& name = record->friendlyName;
    if (sameDestinationName(name, monitor_process::destinationNames[1])) {
        buildFaxJob(jobPath);
    } else if (sameDestinationName(name, monitor_process::destinationNames[0])) {
        buildEmailJob(jobPath);
    } else if (sameDestinationName(name, monitor_process::destinationNames[2])) {
        buildFileJob(jobPath);
    } else if (record->isFolder) {
        buildFolderJob(jobPath, *record);
    } else {
        buildApplicationJob(jobPath, *record);
    }
    return LaunchLightScan(jobPath);
}

LONG CMonitor::ScanToComputer() {
    const std::string jobPath = drawJobPath(false);
    AppJobValues values;
    values.widthText = scanWidthText_;
    values.heightText = scanHeightText_;
    values.colorModeText = colorModeText_;
    values.portName = portName();
    values.ocrFlag = appList_.ocrFlag();
    values.photoDockPresent = photoDockPresent_;
    values.paintPath = toCodePage(appList_.paintPath(), kNameBuffer + 1);
    LONG result = 0;
    if (jobPath.empty() || !writeJob(jobPath, appJobBytes(values))) {
        logError("Couldn't create file successfully.");
        result = kInvalidData;
    }
    if (!jobPath.empty()) LaunchLightScan(jobPath);
    return result;
}

LONG CMonitor::LaunchCopy(DcsHandle handle, int32_t parameter, int32_t mode) {
    std::lock_guard<std::recursive_mutex> scanning(scanLock_);
    const std::string jobPath = drawJobPath(true);
    if (jobPath.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    buildPrintJob(jobPath, handle, parameter, mode);
    LaunchLightScan(jobPath);
    return 0;
}

LONG CMonitor::LaunchLightScan(const std::string& jobPath) {
    const std::string& directory = monitor_process::moduleDirectory;
    monitor_process::enterModuleDirectory();
    const std::string command = lightScanCommand(directory, prefix_, jobPath);
    logInfo("LaunchProgram =>" + command);
    CSCUtil::runProgram(command.c_str(), false, nullptr);
    return 0;
}

LONG CMonitor::ReportLocalCardInserted() {
    const std::string path = boundedText(temporaryFolder() + "LocalCardReader.kvr");
    LONG result = 0;
    if (writeJobBytes(path.c_str(), cardReportBytes(), false) != 0) {
        logError("Couldn't create hid report file.");
        result = kInvalidData;
    }
    const std::string command = photoDockCommand(path);
    monitor_process::enterModuleDirectory();
    logInfo("LaunchProgram =>" + command);
    CSCUtil::runProgram(command.c_str(), false, nullptr);
    return result;
}

bool CMonitor::launchPhotoDesk(DcsHandle handle) {
    char printer[kNameBuffer] = {};
    // The card's own device, not whichever report came last.
    if (GetDeviceNames(handle, printer) != 0) return false;
    const std::string command = photoDeskCommand(photoDeskPath_, printer);
    logInfo("LaunchProgram =>" + command);
    return CSCUtil::runProgram(command.c_str(), false, nullptr);
}

int CMonitor::setDuplexerButtonStatus(DcsHandle handle, DWORD state) {
    char printer[kNameBuffer] = {};
    GetDeviceNames(handle, printer);
    return writeDuplexerButtonStatus(brandKeyPath_, printer, state, spoolerFriendlyName);
}
