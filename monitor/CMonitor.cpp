#include "CMonitor.h"

#include "AsciiText.h"
#include "CallbackGuard.h"
#include "LibraryLoad.h"
#include "ModulePath.h"
#include "MonitorLog.h"
#include "SystemCall.h"

#include <dbt.h>
#include <imm.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace monitor_process {
std::string prefix;
std::string moduleDirectory;

void enterModuleDirectory() {
    char current[MAX_PATH + 1] = {};
    const DWORD length = GetCurrentDirectoryA(MAX_PATH + 1, current);
    std::string folder = length > 0 && length <= MAX_PATH ? std::string(current, length) : std::string();
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!moduleDirectory.empty() && lstrcmpiA(folder.c_str(), moduleDirectory.c_str()) == 0) return;
    SetCurrentDirectoryA(moduleDirectory.c_str());
}
HINSTANCE instance = nullptr;
HMODULE resources = nullptr;
wchar_t destinationNames[3][kNameBuffer] = {};
char faxProgramText[kNameBuffer] = {};
HICON largeIcon = nullptr;
HICON smallIcon = nullptr;
}  // namespace monitor_process

using namespace monitor_log;

namespace {
std::atomic<CMonitor*> g_monitor{nullptr};

LRESULT CALLBACK monitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // An exception must not unwind into the system's message dispatch: the message counts as
    // handled, and the loop goes on.
    return callbackGuard<LRESULT>(
        0,
        [&] {
            CMonitor* monitor = CMonitor::instance();
            if (monitor != nullptr && monitor->WindowProc(window, message, wParam, lParam) == 0) return LRESULT(1);
            return DefWindowProcA(window, message, wParam, lParam);
        },
        [message](const char* what) {
            logError(LogText("CMonitor::WindowProc(") << message << ") stopped by an exception: " << what);
        });
}

// PANELMON_SESSION_PROBE names a file whose number stands for the active console session, so
// a test can make another session the active one. Without the file the system answers.
std::string g_sessionProbe;
DWORD(WINAPI* g_systemConsoleSession)() = nullptr;

DWORD WINAPI probedConsoleSession() {
    char text[32] = {};
    const UniqueHandle file(CreateFileA(g_sessionProbe.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    DWORD read = 0;
    if (file && ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr) && read > 0) {
        return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
    }
    return g_systemConsoleSession != nullptr ? g_systemConsoleSession() : 0;
}

}  // namespace

CMonitor* CMonitor::instance() { return g_monitor.load(); }

std::string instanceNameFor(const std::string& prefix, DWORD session) {
    return "Monitor_" + prefix + "_" + std::to_string(session) + "_running";
}

DWORD activeConsoleSession() {
    const UniqueModule kernel(loadSystemLibrary("kernel32.dll"));
    auto session = entryPoint<DWORD(WINAPI*)()>(kernel.get(), "WTSGetActiveConsoleSessionId");
    return session != nullptr ? session() : 0;
}

bool closeRunningMonitor(const std::string& name, const std::string& exeName) {
    HWND window = FindWindowA(nullptr, name.c_str());
    if (window == nullptr) return false;
    SendMessageA(window, WM_CLOSE, 0, 0);

    // Only a leftover of this session: another user's monitor is not ours to end.
    DWORD ownSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &ownSession);
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return true;
    PROCESSENTRY32 entry = {sizeof(entry)};
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (std::strcmp(entry.szExeFile, exeName.c_str()) != 0 || entry.th32ProcessID == GetCurrentProcessId()) {
            continue;
        }
        DWORD session = 0;
        if (!ProcessIdToSessionId(entry.th32ProcessID, &session) || session != ownSession) continue;
        UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
        if (!process) continue;
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), INFINITE);
        break;
    }
    return true;
}

CMonitor::CMonitor(bool showsManager) : appList_(monitor_process::prefix) {
    // Turned off for the whole process, and for good: a Chinese name could not be typed into the
    // manager of a process that did it.
    if (!showsManager) ImmDisableIME(static_cast<DWORD>(-1));
    util_ = std::make_unique<CSCUtil>();
    prefix_ = monitor_process::prefix;
    kernelLibrary_.reset(loadSystemLibrary("kernel32.dll"));
    if (kernelLibrary_) {
        getConsoleSession_ = entryPoint<ConsoleSessionFn>(kernelLibrary_.get(), "WTSGetActiveConsoleSessionId");
        if (const char* probe = std::getenv("PANELMON_SESSION_PROBE"); probe != nullptr && getConsoleSession_ != nullptr) {
            g_sessionProbe = probe;
            g_systemConsoleSession = getConsoleSession_;
            getConsoleSession_ = probedConsoleSession;
        }
        if (getConsoleSession_ != nullptr) consoleSession_ = getConsoleSession_();
    }
    const std::string& directory = monitor_process::moduleDirectory;
    ownExeName_ = prefix_ + "panelmon.exe";
    photoDockPath_ = directory + "\\PhotoDock.exe";
    photoDeskPath_ = directory + "\\photodesk.exe";
    quickPrintPath_ = directory + "\\QuickPrn.exe";
    if (const char* timings = std::getenv("PANELMON_TIMINGS")) timings_ = parseMonitorTimings(timings);

    scanLibrary_ = std::make_unique<ScanSessionLibrary>(directory + "\\" + prefix_ + "scx.dll");
    scanObject0_ = scanLibrary_->create(kScanObjectOptions);
    scanObject2_ = scanLibrary_->create(kScanObjectSession);
    appList_.setScanLibrary(scanLibrary_->module());

    sessionServer_ = std::make_unique<SessionController>(prefix_);
    g_monitor = this;
}

void CMonitor::checkPhotoPrograms() {
    photoDockPresent_ = pathExists(photoDockPath_);
    photoDeskPresent_ = !photoDockPresent_ && pathExists(photoDeskPath_);
}

CMonitor::~CMonitor() {
    UnregisterHids();
    ClearDevices();
    if (scanObject0_ != nullptr && scanLibrary_->destroy(kScanObjectOptions, scanObject0_)) scanObject0_ = nullptr;
    if (scanObject2_ != nullptr && scanLibrary_->destroy(kScanObjectSession, scanObject2_)) scanObject2_ = nullptr;
    scanLibrary_.reset();
    util_.reset();
    dcsClient_.reset();
    sessionServer_.reset();
    printerNameMap_.clear();
    CMonitor* self = this;
    g_monitor.compare_exchange_strong(self, nullptr);
    uninstallLogger();
}

int CMonitor::Run(HINSTANCE instance, HINSTANCE, const char* commandLine, int) {
    monitor_process::instance = instance;
    const char* line = commandLine != nullptr ? commandLine : "";
    const bool unload = equalIgnoringAsciiCase(line, "-u");

    util_->readConfigText(kConfigManufacturerPath, brandKeyPath_);
    instanceName_ = instanceNameFor(prefix_, consoleSession_);

    WNDCLASSEXA windowClass = {sizeof(windowClass)};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = monitorWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = monitor_process::largeIcon;
    windowClass.hIconSm = monitor_process::smallIcon;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = instanceName_.c_str();
    RegisterClassExA(&windowClass);
    instanceName_ = asciiLowered(instanceName_);

    if (equalIgnoringAsciiCase(line, "-a")) {
        if (appList_.library().load() && appList_.library().initialize() == 0) appList_.library().createAppList();
        const std::string table = monitor_process::moduleDirectory + "\\moire0.lut";
        const std::string copy = monitor_process::moduleDirectory + "\\moire.lut";
        if (table.size() < kNameBuffer && copy.size() < kNameBuffer) CopyFileA(table.c_str(), copy.c_str(), FALSE);
        // "-a" runs with the rights of whoever may write the machine's list (an installer, an
        // administrator): such a process must not go on as the session's monitor, which starts
        // programs named in a list every user can write. The monitor starts in the user's own
        // token, from the Run value at logon.
        return 0;
    }
    if (equalIgnoringAsciiCase(line, "-s")) {
        if (appList_.library().load()) appList_.library().launchGui();
    }

    instanceMutex_.reset(CreateMutexA(nullptr, TRUE, instanceName_.c_str()));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (existed) {
        if (unload) closeRunningMonitor(instanceName_, ownExeName_);
        return 0;
    }
    if (unload || FindWindowA(nullptr, instanceName_.c_str()) != nullptr) return 0;

    Enum();
    HWND window = CreateWindowExA(0, instanceName_.c_str(), instanceName_.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) {
        DWORD error = GetLastError();
        logger()->writeText(&g_logPanelmon, LOG_ERROR,
                            LogText("CreateWindowEx failed with error ") << static_cast<uint32_t>(error));
        return 0;
    }
    window_ = window;
    Init();
    if (CountDevicesByTransport(kTransportLocal) <= 0) SetTimer(window_, kReenumerateTimer, timings_.reenumerateMs, nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The process winds down its statics next: no report may reach them on a library thread.
    UnregisterHids();
    return static_cast<int>(message.wParam);
}

int CMonitor::Init() {
    BasicLogger* log = logger();
    FunctionTrace trace(log, &g_logPanelmon, "CMonitor::Init()", LOG_TRACE, log->isEnabled(&g_logPanelmon, LOG_TRACE));
    OpenAndRegisterForHids();
    char manufacturer[kNameBuffer], productId[kNameBuffer], product[kNameBuffer];
    util_->GetManufacturerName(manufacturer, productId, product, kNameBuffer);
    appList_.setFaxVendorName(productId);
    return 1;
}

void CMonitor::startPollTimer() {
    if (window_ != nullptr) SetTimer(window_, kPollTimer, timings_.pollMs, nullptr);
}

void CMonitor::stopPollTimer() {
    if (window_ != nullptr) KillTimer(window_, kPollTimer);
}

LRESULT CMonitor::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_CREATE:
            // Reports may arrive before Run stores the handle; timers need it now.
            window_ = window;
            firstTick_ = true;
            logInfo("Starting Session Controller Server: ");
            sessionServer_->start();
            startPollTimer();
            return 1;
        case WM_DESTROY:
        case WM_CLOSE:
        case WM_QUIT:
            onClose();
            return 1;
        case WM_DEVMODECHANGE:
            logInfo("Received WM_DEVMODECHANGE");
            reenumerate();
            return 0;
        case WM_TIMER:
            if (wParam == kPollTimer) {
                poll();
            } else if (wParam == kReenumerateTimer) {
                UnregisterHids();
                ClearDevices();
                if (Enum() != 0) {
                    Init();
                    ++reenumerations_;
                    if (reenumerations_ > kMaxReenumerations || CountDevicesByTransport(kTransportLocal) >= 1) {
                        KillTimer(window_, kReenumerateTimer);
                    }
                }
            }
            return 1;
        case WM_POWERBROADCAST:
            logInfo("Received WM_POWERBROADCAST");
            onPowerBroadcast(wParam);
            return 0;
        case WM_DEVICECHANGE:
            logInfo("Received WM_DEVICECHANGE");
            onDeviceChange(wParam);
            return 0;
        default:
            return 1;
    }
}

void CMonitor::onClose() {
    logInfo("Received WM_DESTROY");
    stopPollTimer();
    instanceMutex_.reset();
    kernelLibrary_.reset();
    logInfo("Ending Session Controller Server: ");
    sessionServer_->stop();
    PostQuitMessage(0);
}

void CMonitor::reenumerate() {
    UnregisterHids();
    ClearDevices();
    if (Enum() != 0) Init();
}

void CMonitor::poll() {
    if (CountUnreadyDevices() != 0) OpenAndRegisterForHids();
    if (firstTick_ || CountUnreadyDevices() != 0) {
        firstTick_ = false;
        OpenAndRegisterForHids();
    }
}

void CMonitor::onPowerBroadcast(WPARAM event) {
    switch (event) {
        case PBT_APMQUERYSUSPEND:
            logInfo("WM_POWERBROADCAST --> PBT_APMQUERYSUSPEND");
            stopPollTimer();
            suspended_ = true;
            return;
        case PBT_APMSUSPEND:
            logInfo("WM_POWERBROADCAST --> PBT_APMSUSPEND");
            if (!suspended_) {
                stopPollTimer();
                suspended_ = true;
            }
            return;
        case PBT_APMQUERYSUSPENDFAILED:
            if (suspended_) {
                logInfo("WM_POWERBROADCAST --> PBT_APMQUERYSUSPENDFAILED");
                suspended_ = false;
                startPollTimer();
                return;
            }
            break;
        case PBT_APMRESUMECRITICAL:
        case PBT_APMRESUMESUSPEND:
        case PBT_APMRESUMEAUTOMATIC:
            logInfo("WM_POWERBROADCAST --> PBT_APMRESUMESUSPEND");
            suspended_ = false;
            startPollTimer();
            return;
        default:
            break;
    }
    if (infoEnabled()) logInfo("Unhandled WM_POWERBROADCAST --> " + std::to_string(static_cast<unsigned>(event)));
}

void CMonitor::onDeviceChange(WPARAM event) {
    // A broadcast delivered while this handling waits in a device call must not start another.
    if (event != DBT_DEVNODES_CHANGED || inDeviceChange_ || !dcsClient_) return;
    inDeviceChange_ = true;
    try {
        dcsClient_->discovery(kTransportUsb, "");
        AddNewDevices();
        OpenAndRegisterForHids();
        if (CountDevicesByTransport(kTransportLocal) >= 1 && window_ != nullptr) KillTimer(window_, kReenumerateTimer);
    } catch (...) {
        // A handling that failed (out of memory) must not leave every later arrival unheard.
        inDeviceChange_ = false;
        throw;
    }
    inDeviceChange_ = false;
}
