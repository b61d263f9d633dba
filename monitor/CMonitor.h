// The one monitor object: owns the device binding and table, the scan-session objects, the
// session controller server and the hidden main window with its timers.
#pragma once

#include "AppListClient.h"
#include "CSCUtil.h"
#include "ClaimedJob.h"
#include "DcsClient.h"
#include "Destinations.h"
#include "DeviceTable.h"
#include "DeviceWork.h"
#include "MonitorTimings.h"
#include "PanelRequest.h"
#include "ScanJob.h"
#include "ScanRequest.h"
#include "ScanSession.h"
#include "SessionController.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kReenumerateTimer = 2;
constexpr int kEnumRetries = 20;
constexpr unsigned kMaxReenumerations = 30;  // the counter may exceed this once: 31 retries

// State of the process, set by the entry flow and read by the callbacks.
namespace monitor_process {
extern std::string prefix;
extern std::string moduleDirectory;  // without a trailing separator
extern HINSTANCE instance;
extern HMODULE resources;
extern wchar_t destinationNames[3][kNameBuffer];  // texts 16, 17, 18
extern char faxProgramText[kNameBuffer];          // text 19
extern HICON largeIcon;
extern HICON smallIcon;
// Makes the module's folder the current one before a program starts; asks the file system only
// when another folder is current, since reading the current folder costs nothing.
void enterModuleDirectory();
}  // namespace monitor_process

// "Monitor_<prefix>_<session>_running", as formatted (not lower-cased).
std::string instanceNameFor(const std::string& prefix, DWORD session);
// The console session, or 0 when the system has no session function.
DWORD activeConsoleSession();
// Closes a running monitor: WM_CLOSE to the window titled `name`, then ends the first other
// process of this session whose executable is `exeName`. False when no window was found.
bool closeRunningMonitor(const std::string& name, const std::string& exeName);

class CMonitor {
public:
    // `showsManager`: this run shows the list's manager ("-s"), whose name box takes text typed
    // through an input method, so the process keeps it; a monitor alone turns it off.
    explicit CMonitor(bool showsManager = false);
    virtual ~CMonitor();
    CMonitor(const CMonitor&) = delete;
    CMonitor& operator=(const CMonitor&) = delete;

    // The printer name into `printerNameOut` (260 chars) and the port into `portName`; 0, or
    // 1168 for a handle neither the table nor the library knows.
    virtual LONG GetDeviceNames(DcsHandle handle, char* printerNameOut);
    virtual void ClearDevices();
    virtual void LogScanDataMsg(const void* message);

    int Run(HINSTANCE instance, HINSTANCE previousInstance, const char* commandLine, int showCommand);
    int Init();
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Device sessions.
    int Enum();
    int AddNewDevices();
    void OpenAndRegisterForHids();
    void UnregisterHids();
    int CountDevicesByTransport(const char* name);
    int CountUnreadyDevices();
    void SetHidOpenState(DcsHandle handle, int32_t value);
    int IsLocalDevice(DcsHandle handle);
    LONG EndSessionForPort(DcsHandle handle);
    LONG SendScanToList(DcsHandle handle);
    // The port and printer of a handle, from the table or else the library; none when neither
    // knows it.
    std::optional<DeviceNames> lookupDevice(DcsHandle handle);

    // Library callbacks, reached through the process-wide monitor pointer.
    LONG enumHidsCallback(uint32_t first, DcsHandle handle);
    LONG deviceArrivalCallback(uint32_t first, DcsHandle handle);
    LONG notificationCallback(DcsHandle handle, uint32_t notificationClass, uint32_t code);
    LONG reportCallback(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length);

    // Reports, scans and the job files they become. Each request's values travel as a
    // ScanRequest; two devices' requests may run at once.
    LONG RequestScan(int32_t code, PanelRequest request, DcsHandle handle);
    LONG ScanToApplication(int32_t appIndex, const ScanRequest& scan);
    LONG ScanToComputer(const ScanRequest& scan);
    LONG LaunchCopy(DcsHandle handle, int32_t parameter, int32_t mode);
    LONG LaunchLightScan(const std::string& jobPath);
    LONG ReportLocalCardInserted();
    bool launchPhotoDesk(DcsHandle handle);
    int setDuplexerButtonStatus(DcsHandle handle, DWORD state);
    // The jobs of the destinations; none when a path in it would not fit the job's room, which
    // a cut path would only pretend to.
    ScanJob buildFileJob(const ScanRequest& scan);
    std::optional<ScanJob> buildFolderJob(const ScanRequest& scan, const PanelAppRecord& record);
    std::optional<ScanJob> buildApplicationJob(const ScanRequest& scan, const PanelAppRecord& record);
    ScanJob buildEmailJob(const ScanRequest& scan);
    ScanJob buildFaxJob(const ScanRequest& scan);
    ScanJob buildPrintJob(const DeviceNames& device, int copies, int colorNumber);

    void checkPhotoPrograms();

    DcsHandle lastHandle() const { return lastHandle_; }
    HWND window() const { return window_; }
    AppListClient& appList() { return appList_; }
    const std::string& instanceName() const { return instanceName_; }
    std::vector<DeviceRecord> devicesSnapshot() const { return devices_.snapshot(); }

    static CMonitor* instance();

private:
    void reenumerate();
    void poll();
    void onPowerBroadcast(WPARAM event);
    void onDeviceChange(WPARAM event);
    void onClose();
    void startPollTimer();
    void stopPollTimer();
    bool transportIsUsb(DcsClient& client, DcsHandle handle);
    void readPortName(DcsClient& client, DcsHandle handle, char (&out)[kNameBuffer]);
    // The Scanner Model, or "Null Printer" when it can't be read.
    std::string readPrinterName(DcsClient& client, DcsHandle handle);
    void autoPrint(DcsHandle handle, int files, int storageId);
    bool sessionIsActive() const;
    DestinationValues destinationValues(const ScanRequest& scan) const;
    std::optional<ScanJob> destinationJob(const ScanRequest& scan, const PanelAppRecord& record);
    // Starts a program from the module's folder with a "LaunchProgram =>" line; `start` starts
    // it from the current folder without one. A start that fails is logged either way.
    void launch(const std::string& command);
    bool start(const std::string& command);

    std::unique_ptr<CSCUtil> util_;
    std::unique_ptr<ScanSessionLibrary> scanLibrary_;
    HWND window_ = nullptr;
    std::string instanceName_;
    std::string prefix_;
    std::string brandKeyPath_;
    void* scanObject0_ = nullptr;
    void* scanObject2_ = nullptr;
    UniqueHandle instanceMutex_;
    UniqueModule kernelLibrary_;
    using ConsoleSessionFn = DWORD(WINAPI*)();
    ConsoleSessionFn getConsoleSession_ = nullptr;
    DWORD consoleSession_ = 0;
    bool suspended_ = false;
    std::unique_ptr<DcsClient> dcsClient_;

    DeviceTable devices_;
    // The shared session object carries one port at a time: its port is set and used in one
    // step (an e-mail job's option query, a list send). Held across the scan-session library's
    // calls and the list rebuild; neither library can call back into the monitor.
    std::mutex sessionObjectLock_;

    std::unique_ptr<SessionController> sessionServer_;
    DeviceWork deviceWork_;
    bool firstTick_ = false;
    bool photoDockPresent_ = false;
    bool photoDeskPresent_ = false;
    std::string photoDockPath_;
    std::string photoDeskPath_;
    std::string quickPrintPath_;
    std::string ownExeName_;
    std::atomic<DcsHandle> lastHandle_{0};
    std::map<DcsHandle, std::string> printerNameMap_;

    MonitorTimings timings_;
    AppListClient appList_;
    bool inDeviceChange_ = false;
    unsigned reenumerations_ = 0;
};
