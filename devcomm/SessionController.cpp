#include "SessionController.h"

#include "BasicLogger.h"
#include "CallbackGuard.h"
#include "SystemCall.h"

#include <algorithm>
#include <atomic>

namespace {
constexpr DWORD kStopWaitMs = 10000;

// The one server of the process, reached by its window procedure.
std::atomic<SessionController*> g_server{nullptr};

// The system error of a failed call, never 0: a failure must not read as success.

bool isDefaultCode(const std::string& code, bool ignoreCase) {
    if (!ignoreCase) return code == "mxsd";
    return code.size() == 4 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, code.c_str(), 4, "mxsd", 4) ==
                                   CSTR_EQUAL;
}
}  // namespace

std::string sessionControllerName(const std::string& code, bool ignoreCase) {
    return "Session Controller " + (isDefaultCode(code, ignoreCase) ? std::string("kvab") : code);
}

std::string sessionLibraryName(const std::string& code, bool ignoreCase) {
    return (isDefaultCode(code, ignoreCase) ? std::string("kvab") : code) + "devlink.dll";
}

SessionController::SessionController(const std::string& code)
    : name_(sessionControllerName(code, false)),
      client_(std::make_unique<DcsClient>(sessionLibraryName(code, false), "", false)) {
    g_server = this;
}

SessionController::~SessionController() {
    // Unhooked first: a request that arrives while the thread winds down must not reach a
    // controller that is going away.
    SessionController* self = this;
    g_server.compare_exchange_strong(self, nullptr);
    stop();
}

// The window lives on a thread of its own: its clients are report callbacks on the library's
// threads, and the monitor's main thread may be waiting inside the library for those very
// callbacks (an unregistration while it re-enumerates). On the main thread they would wait for
// each other for good.
DWORD WINAPI SessionController::serve(void* parameter) {
    auto* self = static_cast<SessionController*>(parameter);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    LONG result = 0;
    if (!self->classRegistered_) {
        WNDCLASSEXA windowClass = {sizeof(windowClass)};
        windowClass.lpfnWndProc = windowProc;
        windowClass.cbWndExtra = 4;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = self->name_.c_str();
        if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            result = static_cast<LONG>(GetLastError());
        } else {
            self->classRegistered_ = true;
        }
    }
    HWND window = nullptr;
    if (result == 0) {
        window = CreateWindowExA(0, self->name_.c_str(), self->name_.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
        if (window == nullptr) result = lastErrorOr(ERROR_INVALID_WINDOW_HANDLE);
    }
    self->window_ = window;
    self->startResult_ = result;
    SetEvent(self->ready_.get());
    if (window == nullptr) return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (IsWindow(window)) DestroyWindow(window);
    return 0;
}

LONG SessionController::start() {
    // An outside program may already serve this controller: leave the work to it.
    if (FindWindowA("SessionController", name_.c_str()) != nullptr) return 0;
    if (thread_) {
        // Still serving; a thread whose window someone else closed ends, and is started anew.
        HWND window = window_;
        if (window != nullptr && IsWindow(window)) return 0;
        if (WaitForSingleObject(thread_.get(), kStopWaitMs) != WAIT_OBJECT_0) return ERROR_BUSY;
        thread_.reset();
    }
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready_) return lastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    thread_.reset(CreateThread(nullptr, 0, serve, this, 0, &threadId_));
    if (!thread_) return lastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    WaitForSingleObject(ready_.get(), INFINITE);
    if (startResult_ != 0) {
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    return startResult_;
}

LONG SessionController::stop() {
    HWND window = window_;
    window_ = nullptr;
    if (window != nullptr) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, kStopWaitMs, &ignored);
    }
    if (thread_) {
        // The quit also reaches a thread whose window is already gone.
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        // A thread that does not end is kept, so a later start serves with it, not beside it.
        if (WaitForSingleObject(thread_.get(), kStopWaitMs) == WAIT_OBJECT_0) thread_.reset();
    }
    return 0;
}

LONG SessionController::holders(DcsHandle handle) const {
    std::lock_guard<std::mutex> hold(sessionsLock_);
    for (const Session& session : sessions_) {
        if (session.handle == handle) return session.count;
    }
    return 0;
}

void SessionController::open(DcsHandle handle) {
    std::lock_guard<std::mutex> hold(sessionsLock_);
    for (Session& session : sessions_) {
        if (session.handle == handle) {
            ++session.count;
            return;
        }
    }
    // Room first: a scanner opened and then not recorded would never be closed.
    sessions_.reserve(sessions_.size() + 1);
    if (client_->openScanner(handle) == 0) sessions_.push_back({handle, 1});
}

void SessionController::close(DcsHandle handle) {
    std::lock_guard<std::mutex> hold(sessionsLock_);
    auto found = std::find_if(sessions_.begin(), sessions_.end(),
                              [handle](const Session& session) { return session.handle == handle; });
    if (found == sessions_.end()) return;
    if (--found->count == 0) {
        client_->closeScanner(handle);
        sessions_.erase(found);
    }
}

LRESULT CALLBACK SessionController::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);  // ends the controller's thread
        return 0;
    }
    SessionController* server = g_server.load();
    if (server != nullptr && (message == kSessionOpenMessage || message == kSessionCloseMessage)) {
        // A request that fails by an exception is answered 0, as one the controller can't serve;
        // it must not unwind into the system's dispatch.
        return callbackGuard<LRESULT>(
            0,
            [&] {
                if (message == kSessionOpenMessage) {
                    server->open(static_cast<DcsHandle>(lParam));
                } else {
                    server->close(static_cast<DcsHandle>(lParam));
                }
                return LRESULT(1);
            },
            [](const char* what) {
                if (isLoggerInstalled()) {
                    BasicLogger::getInstance()->writeText(&g_logPanelmon, LOG_ERROR,
                                                          std::string("SessionController stopped by an exception: ") + what);
                }
            });
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

SessionControllerClient::SessionControllerClient(const std::string& code, const std::string& portName)
    : name_(sessionControllerName(code, true)), portName_(portName), libraryName_(sessionLibraryName(code, true)) {}

LONG SessionControllerClient::send(UINT message) {
    SetLastError(0);
    HWND window = FindWindowA(name_.c_str(), name_.c_str());
    if (window == nullptr) return lastErrorOr(ERROR_NOT_FOUND);
    DcsClient client(libraryName_, "", false);
    DcsHandle handle = 0;
    LONG result = client.enumSpecificScanner(portName_.c_str(), &handle);
    if (result != 0) return result;
    // Bounded: the controller may be served by an outside program, or be busy inside the device
    // library; a report callback must not hang on it.
    SetLastError(0);
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, message, 0, static_cast<LPARAM>(handle), SMTO_NORMAL, kSessionRequestWaitMs,
                            &answer) == 0) {
        return lastErrorOr(ERROR_TIMEOUT);
    }
    if (answer == 0) return lastErrorOr(ERROR_NOT_FOUND);
    return 0;
}
