// The one monitor object: owns the device binding and table, the scan-session objects, the
// session controller server and the hidden main window with its timers.
#pragma once

#include "AppListClient.h"
#include "CSCUtil.h"
#include "DcsClient.h"
#include "Destinations.h"
#include "DeviceRecord.h"
#include "MonitorTimings.h"
#include "PanelRequest.h"
#include "ScanSession.h"
#include "SessionController.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
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
extern HMODULE scanLibrary;
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
    CMonitor();
    virtual ~CMonitor();
    CMonitor(const CMonitor&) = delete;
    CMonitor& operator=(const CMonitor&) = delete;

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

    // Library callbacks, reached through the process-wide monitor pointer.
    LONG enumHidsCallback(uint32_t first, DcsHandle handle);
    LONG deviceArrivalCallback(uint32_t first, DcsHandle handle);
    LONG notificationCallback(DcsHandle handle, uint32_t notificationClass, uint32_t code);
    LONG reportCallback(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length);

    // Reports, scans and the job files they become.
    LONG RequestScan(int32_t code, PanelRequest request, DcsHandle handle);
    LONG ScanToApplication(int32_t appIndex);
    LONG ScanToComputer();
    LONG LaunchCopy(DcsHandle handle, int32_t parameter, int32_t mode);
    LONG LaunchLightScan(const std::string& jobPath);
    LONG ReportLocalCardInserted();
    bool launchPhotoDesk(DcsHandle handle);
    int setDuplexerButtonStatus(DcsHandle handle, DWORD state);
    void buildFileJob(const std::string& jobPath);
    void buildFolderJob(const std::string& jobPath, const PanelAppRecord& record);
    void buildApplicationJob(const std::string& jobPath, const PanelAppRecord& record);
    void buildEmailJob(const std::string& jobPath);
    void buildFaxJob(const std::string& jobPath);
    void buildPrintJob(const std::string& jobPath, DcsHandle handle, int copies, int colorNumber);
    void lookupPaperSize(int areaCode, float& width, float& height);

    void checkPhotoPrograms();

    // Read by the report handling and the tests.
    std::string portName() const;
    DcsHandle lastHandle() const { return lastHandle_; }
    HWND window() const { return window_; }
    AppListClient& appList() { return appList_; }
    const std::string& instanceName() const { return instanceName_; }
    std::vector<DeviceRecord> devicesSnapshot() const;

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
    void autoPrint(DcsHandle handle, int files, int storageId);
    bool sessionIsActive() const;
    // A job file name of its own in the temporary folder (created empty); empty when none is free.
    // The created file stays open for the job's writer (writeJob), under scanLock_.
    std::string drawJobPath(bool seed);
    // Writes a job to its file: through the handle drawJobPath kept for that name, else by name.
    bool writeJob(const std::string& jobPath, const std::string& bytes);
    DestinationValues destinationValues() const;

    std::unique_ptr<CSCUtil> util_;
    // One report's work at a time: the port it sets (portName_), a scan's settings below and the
    // shared scan objects stay its own until its job files are written or its list is sent, even
    // when two devices' reports arrive on two library threads. Taken again by the scan and copy
    // requests, which are also entered on their own.
    std::recursive_mutex scanLock_;
    std::atomic<unsigned> jobNameStep_{0};
    std::string claimedPath_;    // the last drawn job name and its open file
    UniqueHandle claimedFile_;
    std::string colorModeText_;
    std::string scanWidthText_;
    std::string scanHeightText_;
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

    // The device table. The library's callback threads read it while the window thread
    // rebuilds it, so every access holds the lock; no library call is made while it is held.
    mutable std::mutex devicesLock_;
    std::vector<DeviceRecord> devices_;
    int deviceCount_ = 0;           // counted by the enumeration callbacks
    bool fillingPass_ = false;      // the table exists and the callbacks fill it

    std::unique_ptr<SessionController> sessionServer_;
    mutable std::mutex requestLock_;  // portName and the other request fields
    std::string portName_;
    bool firstTick_ = false;
    bool photoDockPresent_ = false;
    bool photoDeskPresent_ = false;
    std::string photoDockPath_;
    std::string photoDeskPath_;
    std::string ownExeName_;
    std::atomic<DcsHandle> lastHandle_{0};
    std::map<DcsHandle, std::string> printerNameMap_;

    MonitorTimings timings_;
    AppListClient appList_;
    bool inDeviceChange_ = false;
    unsigned reenumerations_ = 0;
};
