#include "SessionController.h"

#include <algorithm>
#include <atomic>

namespace {
// The one server of the process, reached by its window procedure.
std::atomic<SessionController*> g_server{nullptr};

// The system error of a failed call, never 0: a failure must not read as success.
LONG lastErrorOr(LONG fallback) {
    DWORD error = GetLastError();
    return error != 0 ? static_cast<LONG>(error) : fallback;
}

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
    SessionController* self = this;
    g_server.compare_exchange_strong(self, nullptr);
    if (window_ != nullptr) DestroyWindow(window_);
}

LONG SessionController::start() {
    // An outside program may already serve this controller: leave the work to it.
    if (FindWindowA("SessionController", name_.c_str()) != nullptr) return 0;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!classRegistered_) {
        WNDCLASSEXA windowClass = {sizeof(windowClass)};
        windowClass.lpfnWndProc = windowProc;
        windowClass.cbWndExtra = 4;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = name_.c_str();
        if (RegisterClassExA(&windowClass) == 0) {
            DWORD error = GetLastError();
            if (error != ERROR_CLASS_ALREADY_EXISTS) return static_cast<LONG>(error);
        }
        classRegistered_ = true;
    }
    window_ = CreateWindowExA(0, name_.c_str(), name_.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr) return lastErrorOr(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

LONG SessionController::stop() {
    HWND window = window_;
    window_ = nullptr;
    if (window != nullptr) SendMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}

LONG SessionController::holders(DcsHandle handle) const {
    for (const Session& session : sessions_) {
        if (session.handle == handle) return session.count;
    }
    return 0;
}

void SessionController::open(DcsHandle handle) {
    for (Session& session : sessions_) {
        if (session.handle == handle) {
            ++session.count;
            return;
        }
    }
    if (client_->openScanner(handle) == 0) sessions_.push_back({handle, 1});
}

void SessionController::close(DcsHandle handle) {
    auto found = std::find_if(sessions_.begin(), sessions_.end(),
                              [handle](const Session& session) { return session.handle == handle; });
    if (found == sessions_.end()) return;
    if (--found->count == 0) {
        client_->closeScanner(handle);
        sessions_.erase(found);
    }
}

LRESULT CALLBACK SessionController::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SessionController* server = g_server.load();
    if (server != nullptr) {
        switch (message) {
            case kSessionOpenMessage:
                server->open(static_cast<DcsHandle>(lParam));
                return 1;
            case kSessionCloseMessage:
                server->close(static_cast<DcsHandle>(lParam));
                return 1;
            default:
                break;
        }
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
    // Bounded: the controller's thread may itself be waiting inside the device library for the
    // report callback this request comes from (an unregistration during re-enumeration), and an
    // unbounded send would then hold both threads for good.
    SetLastError(0);
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, message, 0, static_cast<LPARAM>(handle), SMTO_NORMAL, kSessionRequestWaitMs,
                            &answer) == 0) {
        return lastErrorOr(ERROR_TIMEOUT);
    }
    if (answer == 0) return lastErrorOr(ERROR_NOT_FOUND);
    return 0;
}
