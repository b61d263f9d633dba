// Job files and program starts: each request becomes a small file in the temporary folder and
// a started program that reads it.
#include "CMonitor.h"

#include "Destinations.h"
#include "Duplexer.h"
#include "JobFile.h"
#include "JobText.h"
#include "MonitorLog.h"
#include "ScanJob.h"
#include "UntrustedText.h"

#include <algorithm>
#include <cwchar>

using namespace monitor_log;

namespace {
constexpr LONG kInvalidData = ERROR_INVALID_DATA;
constexpr size_t kNameCompareLength = 30;
constexpr size_t kLongestJobName = sizeof("LightScanXML32767.xml") - 1;

bool isCodePageLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

// Wide text in the system code page, whole.
std::string toCodePage(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(std::min<size_t>(text.size(), 1u << 20));
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, &out[0], needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

// A short code (a file type), cut to at most `capacity` - 1 bytes at a character's end.
std::string codeInCodePage(const std::wstring& text, size_t capacity) {
    return cutAtCharacter(toCodePage(text), capacity - 1, isCodePageLeadByte);
}

bool sameDestinationName(const std::wstring& name, const wchar_t* fixed) {
    return _wcsnicmp(name.c_str(), fixed, kNameCompareLength) == 0;
}

// A written file's path for a command line; only a path with a space asks the file system. The
// folder alone is shortened, so the program still sees the file's own name.
std::string commandLinePath(const std::string& path) {
    if (path.find_first_of(" \t") == std::string::npos) return path;
    const size_t slash = path.rfind('\\');
    const bool folderOnly = slash != std::string::npos && path.find_first_of(" \t", slash) == std::string::npos;
    const std::string longForm = folderOnly ? path.substr(0, slash) : path;
    char shortForm[kNameBuffer] = {};
    const DWORD length = GetShortPathNameA(longForm.c_str(), shortForm, sizeof(shortForm));
    if (length == 0 || length >= sizeof(shortForm)) return pathArgument(path, std::string());
    return pathArgument(path, std::string(shortForm, length) + (folderOnly ? path.substr(slash) : std::string()));
}

// The job file's folder; empty, with its log line, when even the longest job name would not fit.
std::string jobFolder() {
    const std::string folder = temporaryFolder();
    if (!folder.empty() && folder.size() + kLongestJobName < kNameBuffer) return folder;
    logError("The temporary folder is unknown or its path is too long for a job file");
    return std::string();
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

ScanJob CMonitor::buildFileJob(const ScanRequest& scan) { return fileJob(destinationValues(scan)); }

std::optional<ScanJob> CMonitor::buildFolderJob(const ScanRequest& scan, const PanelAppRecord& record) {
    if (!isPathText(record.path)) return std::nullopt;
    char now[kNameBuffer] = {};
    CSCUtil::getDateTimeText(now, sizeof(now));
    const std::string folder = toCodePage(record.path);
    const std::string type = codeInCodePage(withoutMarkup(record.defaultFileType), kFolderExtensionChars + 1);
    if (folder.size() > kNameBuffer || folderFilePath(folder, now, type).size() > kJobFilePathChars) return std::nullopt;
    return folderJob(destinationValues(scan), folder, type, now);
}

std::optional<ScanJob> CMonitor::buildApplicationJob(const ScanRequest& scan, const PanelAppRecord& record) {
    if (!isPathText(record.path)) return std::nullopt;
    const std::string program = toCodePage(record.path);
    if (program.size() > kNameBuffer) return std::nullopt;
    return applicationJob(destinationValues(scan), program,
                          codeInCodePage(withoutMarkup(record.defaultFileType), kNameBuffer));
}

ScanJob CMonitor::buildEmailJob(const ScanRequest& scan) {
    uint8_t options[8] = {};
    {
        std::lock_guard<std::mutex> session(sessionObjectLock_);
        scx::setPortText(scanObject2_, scan.device.port.c_str());
        scx::queryOptions(scanObject0_, options, scanObject2_);
    }
    return emailJob(destinationValues(scan), options[0]);
}

ScanJob CMonitor::buildFaxJob(const ScanRequest& scan) { return faxJob(destinationValues(scan)); }

ScanJob CMonitor::buildPrintJob(const DeviceNames& device, int copies, int colorNumber) {
    return printJob(device.port, device.printer, copies, colorNumber);
}

std::optional<ScanJob> CMonitor::destinationJob(const ScanRequest& scan, const PanelAppRecord& record) {
    const std::wstring& name = record.friendlyName;
    if (sameDestinationName(name, monitor_process::destinationNames[1])) return buildFaxJob(scan);
    if (sameDestinationName(name, monitor_process::destinationNames[0])) return buildEmailJob(scan);
    if (sameDestinationName(name, monitor_process::destinationNames[2])) return buildFileJob(scan);
    return record.isFolder ? buildFolderJob(scan, record) : buildApplicationJob(scan, record);
}

LONG CMonitor::ScanToApplication(int32_t appIndex, const ScanRequest& scan) {
    const std::optional<PanelAppRecord> record = appList_.destinationForScan(appIndex);
    if (!record) {
        // Nothing to scan to: no file is written and nothing is started.
        logError("ScanToApplication: no destination for application index " + std::to_string(appIndex));
        return kInvalidData;
    }
    const std::optional<ScanJob> content = destinationJob(scan, *record);
    if (!content) {
        logError("ScanToApplication: the path of the destination at application index " + std::to_string(appIndex) +
                 " is too long for a job file or holds characters no path has");
        return kInvalidData;
    }
    ClaimedJob job = ClaimedJob::draw(jobFolder(), true);
    if (job.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    job.write(content->bytes());
    return LaunchLightScan(job.path());
}

LONG CMonitor::ScanToComputer(const ScanRequest& scan) {
    AppJobValues values;
    values.widthText = scan.widthText;
    values.heightText = scan.heightText;
    values.colorModeText = scan.colorModeText;
    values.portName = scan.device.port;
    values.ocrFlag = appList_.ocrFlag();
    values.photoDockPresent = photoDockPresent_;
    const std::wstring paintPath = appList_.paintPath();
    values.paintPath = toCodePage(paintPath);
    if (values.paintPath.size() > kNameBuffer || !isPathText(paintPath)) {
        logError("ScanToComputer: the paint program's path is too long for the job file or holds characters no path "
                 "has; it is left out");
        values.paintPath.clear();
    }
    ClaimedJob job = ClaimedJob::draw(jobFolder(), false);
    LONG result = 0;
    if (!job.write(appJobBytes(values))) {
        logError("Couldn't create file successfully.");
        result = kInvalidData;
    }
    if (!job.empty()) LaunchLightScan(job.path());
    return result;
}

LONG CMonitor::LaunchCopy(DcsHandle handle, int32_t parameter, int32_t mode) {
    // An unknown handle leaves the port and printer empty, never another device's.
    const ScanJob content = buildPrintJob(lookupDevice(handle).value_or(DeviceNames{}), parameter, mode);
    ClaimedJob job = ClaimedJob::draw(jobFolder(), true);
    if (job.empty()) {
        logError("Couldn't create file successfully.");
        return kInvalidData;
    }
    job.write(content.bytes());
    LaunchLightScan(job.path());
    return 0;
}

void CMonitor::launch(const std::string& command) {
    monitor_process::enterModuleDirectory();
    if (infoEnabled()) logInfo("LaunchProgram =>" + command);
    start(command);
}

bool CMonitor::start(const std::string& command) {
    if (CSCUtil::runProgram(command.c_str(), false, nullptr)) return true;
    const DWORD error = GetLastError();
    logError(LogText("LaunchProgram failed with error ") << error << ": " << command);
    return false;
}

LONG CMonitor::LaunchLightScan(const std::string& jobPath) {
    launch(lightScanCommand(monitor_process::moduleDirectory, prefix_, commandLinePath(jobPath)));
    return 0;
}

LONG CMonitor::ReportLocalCardInserted() {
    const std::string folder = jobFolder();
    if (folder.empty()) {
        logError("Couldn't create hid report file.");
        return kInvalidData;
    }
    const std::string path = folder + "LocalCardReader.kvr";
    LONG result = 0;
    if (writeJobBytes(path.c_str(), cardReportBytes(), false) != 0) {
        logError("Couldn't create hid report file.");
        result = kInvalidData;
    }
    launch(photoDockCommand(photoDockPath_, commandLinePath(path)));
    return result;
}

bool CMonitor::launchPhotoDesk(DcsHandle handle) {
    // The card's own device, not whichever report came last; started from wherever the
    // current folder is, and without a log line.
    const std::optional<DeviceNames> device = lookupDevice(handle);
    if (!device) return false;
    return start(photoDeskCommand(photoDeskPath_, device->printer));
}

int CMonitor::setDuplexerButtonStatus(DcsHandle handle, DWORD state) {
    return writeDuplexerButtonStatus(brandKeyPath_, lookupDevice(handle).value_or(DeviceNames{}).printer, state,
                                     spoolerFriendlyName);
}
