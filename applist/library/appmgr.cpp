// The application-list library: the exports, the process's store and discoverer, and the
// single-instance start of the manager.
#include "appmgr.h"

#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "AppListStore.h"
#include "Exception.h"
#include "Handles.h"
#include "InterProcessLock.h"
#include "LibraryModule.h"
#include "ManagerDialog.h"
#include "Mutex.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {
constexpr LONG kNoCodeFailure = ERROR_GEN_FAILURE;

std::mutex g_discovererLock;
std::unique_ptr<AppDiscoverer> g_discoverer;

AppDiscoverer& discoverer() {
    std::lock_guard<std::mutex> hold(g_discovererLock);
    if (!g_discoverer) g_discoverer = std::make_unique<AppDiscoverer>();
    return *g_discoverer;
}

// Runs an export's work; no error crosses the boundary and no failure reads as success.
template <typename Work>
LONG guarded(Work work) {
    try {
        return work();
    } catch (const Exception& error) {
        return error.getCode() != 0 ? error.getCode() : kNoCodeFailure;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return kNoCodeFailure;
    }
}

// The size protocol's answer for a document written, or not, into the caller's buffer.
LONG answer(const AppListStore::Document& document, bool haveBuffer, uint32_t size, uint32_t* needed) {
    if (document.length >= UINT32_MAX) return ERROR_NOT_ENOUGH_MEMORY;
    *needed = static_cast<uint32_t>(document.length + 1);
    if (size < *needed) return ERROR_INSUFFICIENT_BUFFER;
    if (!haveBuffer) return ERROR_INVALID_PARAMETER;
    if (!document.narrow) {
        *needed = 0;
        return ERROR_NOT_SUPPORTED;
    }
    return document.written ? 0 : kNoCodeFailure;
}

LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY || message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// True when a manager runs already: its window was found and brought forward.
bool bringRunningManagerForward(const std::wstring& guiName) {
    HWND running = FindWindowW(guiName.c_str(), nullptr);
    if (running == nullptr) return false;
    // The found window is the manager's hidden owner: its dialog is what comes forward.
    SetForegroundWindow(GetLastActivePopup(running));
    return true;
}

// Runs the manager over a hidden owner window of the class `guiName`; 0, or the code of a class
// that didn't register.
LONG runOwnedManager(const std::wstring& guiName) {
    HINSTANCE instance = libraryInstance();
    WNDCLASSEXW windowClass = {sizeof(windowClass)};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ownerProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(nullptr, L"appmgr.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(32515));
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = guiName.c_str();
    if (RegisterClassExW(&windowClass) == 0) {
        const DWORD error = GetLastError();
        if (windowClass.hIcon != nullptr) DestroyIcon(windowClass.hIcon);
        return static_cast<LONG>(error);
    }
    HWND owner = CreateWindowExW(0, guiName.c_str(), guiName.c_str(), WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (owner != nullptr) {
        SetForegroundWindow(owner);
        runManagerDialog(instance, owner);
        DestroyWindow(owner);
    }
    UnregisterClassW(guiName.c_str(), instance);
    if (windowClass.hIcon != nullptr) DestroyIcon(windowClass.hIcon);
    return 0;
}

struct ActivationContextCloser {
    static bool valid(HANDLE context) { return context != nullptr && context != INVALID_HANDLE_VALUE; }
    static void close(HANDLE context) { ReleaseActCtx(context); }
};
struct ActivationCookieCloser {
    static bool valid(ULONG_PTR cookie) { return cookie != 0; }
    static void close(ULONG_PTR cookie) { DeactivateActCtx(0, cookie); }
};
using UniqueActivationContext = UniqueResource<HANDLE, ActivationContextCloser>;
using ActiveContext = UniqueResource<ULONG_PTR, ActivationCookieCloser>;

// The library's own manifest (resource 2) names common controls 6; while its context is active
// the dialogs get them in any host program, whatever the host's own manifest says. Where it
// can't be made the dialogs run with the host's controls.
UniqueActivationContext libraryContext() {
    ACTCTXW request = {sizeof(request)};
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = libraryInstance();
    request.lpResourceName = MAKEINTRESOURCEW(2);
    return UniqueActivationContext(CreateActCtxW(&request));
}

// A lock that can't be created or waited for throws its code, and no manager opens.
LONG launchManager() {
    const std::wstring guiName = L"Application List" + libraryFileName();
    {  // held only for the look: a second launch finds this manager's window instead of waiting
        Mutex lock(false, guiName + L"_mutex", true);
        InterProcessLock held(lock);
        if (bringRunningManagerForward(guiName)) return ERROR_ALREADY_EXISTS;
    }
    const UniqueActivationContext context = libraryContext();
    ActiveContext active;
    if (context) ActivateActCtx(context.get(), active.put());
    return runOwnedManager(guiName);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        setLibraryInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" LONG WINAPI Initialize() {
    return guarded([] {
        AppListStore::instance();
        discoverer();
        return 0L;
    });
}

extern "C" LONG WINAPI Uninitialize() {
    return guarded([] {
        AppListStore::destroyInstance();
        std::lock_guard<std::mutex> hold(g_discovererLock);
        g_discoverer.reset();
        return 0L;
    });
}

extern "C" LONG WINAPI CreateAppList() {
    return guarded([] {
        AppDiscoverer& finder = discoverer();
        const DWORD status = finder.discover(true);
        if (status != 0) return static_cast<LONG>(status);
        AppListStore& store = AppListStore::instance();
        for (const std::wstring& entry : finder.discovered()) store.add(entry);
        return static_cast<LONG>(store.save());
    });
}

extern "C" LONG WINAPI GetWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed) {
    if (needed == nullptr) return ERROR_INVALID_PARAMETER;
    *needed = 0;
    return guarded([&] { return answer(AppListStore::instance().writeDocument(buffer, size), buffer != nullptr, size, needed); });
}

extern "C" LONG WINAPI GetAppList(char* buffer, uint32_t size, uint32_t* needed) {
    if (needed == nullptr) return ERROR_INVALID_PARAMETER;
    *needed = 0;
    return guarded(
        [&] { return answer(AppListStore::instance().writeNarrowDocument(buffer, size), buffer != nullptr, size, needed); });
}

extern "C" LONG WINAPI LaunchGui() {
    return guarded([] {
        // An instance brought forward, or a class that didn't register, still ends in 0; a
        // failure of the lock throws its code.
        launchManager();
        return 0L;
    });
}
