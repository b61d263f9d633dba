// Keeps a device's scanner open for holders that come and go: a hidden window on a thread of its
// own counts open requests per scanner handle; short-lived clients find it by name.
#pragma once

#include "DcsClient.h"
#include "Handles.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

constexpr UINT kSessionOpenMessage = WM_USER + 1;
constexpr UINT kSessionCloseMessage = WM_USER + 2;
// The longest a client waits for the controller to take a request.
constexpr UINT kSessionRequestWaitMs = 2000;

// "Session Controller <code>" ("mxsd" names the default product "kvab"), and the device
// library of that product.
std::string sessionControllerName(const std::string& code, bool ignoreCase);
std::string sessionLibraryName(const std::string& code, bool ignoreCase);

class SessionController {
public:
    explicit SessionController(const std::string& code);
    ~SessionController();
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    // 0, or the system error of a failed class registration or window creation.
    LONG start();
    LONG stop();

    const std::string& name() const { return name_; }
    HWND window() const { return window_; }
    // The open count of a scanner handle, 0 when it is not held.
    LONG holders(DcsHandle handle) const;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI serve(void* parameter);
    void open(DcsHandle handle);
    void close(DcsHandle handle);

    struct Session {
        DcsHandle handle;
        LONG count;
    };
    std::string name_;
    std::unique_ptr<DcsClient> client_;
    mutable std::mutex sessionsLock_;
    std::vector<Session> sessions_;
    std::atomic<HWND> window_{nullptr};
    bool classRegistered_ = false;
    UniqueHandle thread_;
    DWORD threadId_ = 0;
    UniqueHandle ready_;
    LONG startResult_ = 0;
};

class SessionControllerClient {
public:
    SessionControllerClient(const std::string& code, const std::string& portName);
    virtual ~SessionControllerClient() = default;

    LONG openSession() { return send(kSessionOpenMessage); }
    LONG closeSession() { return send(kSessionCloseMessage); }

private:
    LONG send(UINT message);

    std::string name_;
    std::string portName_;
    std::string libraryName_;
};
