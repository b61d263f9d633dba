#include "BareProgram.h"

#include <vector>

namespace bench {

namespace {
DcsHandle g_firstHandle = 0;

LONG WINAPI takeFirst(uint32_t, DcsHandle handle) {
    if (g_firstHandle == 0) g_firstHandle = handle;
    return 0;
}

std::string readyMark(const std::string& folder) { return folder + "\\ready"; }
}  // namespace

bool BareListener::open(const std::string& folder, const std::string& prefix, ReportCallback report,
                        NotificationCallback notification, const std::function<void()>& beforeOpen) {
    library_ = LoadLibraryA((folder + "\\" + prefix + "devlink.dll").c_str());
    if (library_ == nullptr) return false;
    if (exportOf<DcsInitializeFn>(library_, "DcsInitialize")() != 0 ||
        exportOf<DcsGetClientIdFn>(library_, "DcsGetClientId")(&client_, "") != 0 ||
        exportOf<DcsEnumHidsFn>(library_, "DcsEnumHids")(client_, kTransportLocal, "", takeFirst) != 0 ||
        g_firstHandle == 0) {
        return false;
    }
    if (beforeOpen) beforeOpen();
    if (exportOf<DcsHandleFn>(library_, "DcsOpenHid")(client_, g_firstHandle) != 0) return false;
    handle_ = g_firstHandle;
    reports_ = exportOf<DcsRegisterForReportsHidFn>(library_, "DcsRegisterForReportsHid")(client_, handle_, report) == 0;
    if (!reports_ || notification == nullptr) return reports_;
    notifications_ = exportOf<DcsRegisterForNotificationsHidFn>(library_, "DcsRegisterForNotificationsHid")(
                         client_, handle_, notification) == 0;
    return notifications_;
}

BareListener::~BareListener() {
    if (library_ == nullptr) return;
    if (reports_) exportOf<DcsHandleFn>(library_, "DcsUnregisterForReportsHid")(client_, handle_);
    if (notifications_) exportOf<DcsHandleFn>(library_, "DcsUnregisterForNotificationsHid")(client_, handle_);
    if (handle_ != 0) exportOf<DcsHandleFn>(library_, "DcsCloseHid")(client_, handle_);
    exportOf<DcsUninitializeFn>(library_, "DcsUninitialize")();
}

void registerBareClass() {
    static const ATOM atom = [] {
        WNDCLASSEXA windowClass = {sizeof(windowClass)};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
        windowClass.lpszClassName = "bare_program";
        return RegisterClassExA(&windowClass);
    }();
    (void)atom;
}

HWND bareWindow() {
    static const HWND window = [] {
        registerBareClass();
        return CreateWindowExA(0, "bare_program", "bare_program", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }();
    return window;
}

void serveUntilStopped(const std::string& folder, bool window) {
    if (window) {
        bareWindow();
        SetTimer(nullptr, 0, 50, nullptr);
    }
    writeFile(readyMark(folder), "ready");
    MSG message;
    while (fileExists(readyMark(folder))) {
        if (!window) {
            Sleep(50);
        } else if (GetMessageA(&message, nullptr, 0, 0) > 0) {
            DispatchMessageA(&message);
        } else {
            break;
        }
    }
}

void writeJobFile(const std::string& path, const std::string& bytes, DWORD disposition) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void startDetached(const std::string& commandLine) {
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    STARTUPINFOA startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNA;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

BareProgram::BareProgram(const std::string& prefix) : prefix_(prefix) {
    CreateDirectoryA(tempFolder().c_str(), nullptr);
    copyBuilt("devlink.dll", prefix + "devlink.dll");
    writeFile(folder_.file(prefix + "devlink.scenario"), kScenario);
}

BareProgram::~BareProgram() {
    DeleteFileA(readyMark(folder_.path()).c_str());
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
}

void BareProgram::copyBuilt(const std::string& builtName, const std::string& as) {
    // The stand-ins are built under the product prefix, the test programs without one.
    const std::string bin = ownFolder();
    const std::string prefixed = bin + productPrefix() + builtName;
    const std::string source = fileExists(prefixed) ? prefixed : bin + builtName;
    CopyFileA(source.c_str(), folder_.file(as).c_str(), FALSE);
}

bool BareProgram::start(const std::string& arguments) {
    process_ = startProcess("\"" + ownPath() + "\" --bare \"" + folder_.path() + "\" " + prefix_ +
                                (arguments.empty() ? "" : " " + arguments),
                            folder_.path().c_str());
    return process_ != nullptr;
}

bool BareProgram::waitUntilReady() {
    for (int i = 0; i < 1000 && process_ != nullptr && !ready(); ++i) Sleep(10);
    return ready();
}

bool BareProgram::ready() const { return fileExists(readyMark(folder_.path())); }

}  // namespace bench
