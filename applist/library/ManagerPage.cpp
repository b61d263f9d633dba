#include "ManagerPage.h"

#include <algorithm>

#include "Exception.h"
#include "Handles.h"

namespace {
const wchar_t kSaveFailedFallback[] = L"The application list could not be saved.";

std::wstring describe(const Exception& error) {
    std::wstring detail = error.getMessage();
    const std::wstring code = error.getCodeText();
    if (!code.empty()) detail += L"\r\n" + code;
    return detail;
}
}  // namespace

AppDiscoverer& ManagerContext::finder() {
    if (!finder_) finder_ = std::make_unique<AppDiscoverer>();
    return *finder_;
}

bool ManagerContext::loadText(UINT id, std::wstring& text) const {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(resources_, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr) return false;
    text.assign(resource, static_cast<size_t>(length));
    return true;
}

std::wstring ManagerContext::textOr(UINT id, const wchar_t* fallback) const {
    std::wstring text;
    return loadText(id, text) ? text : std::wstring(fallback);
}

namespace {
// Mirrors the message box this thread is making. The flags alone right-align the text and set
// its reading order where the system honours them (not every one does); the mirrored layout puts
// the icon and the buttons on the side a right-to-left reader starts from as well. It is set as
// the box first activates: the box's own set-up resets what it was created with.
LRESULT CALLBACK mirrorMessageBox(int code, WPARAM window, LPARAM detail) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(window);
        wchar_t name[8] = {};
        GetClassNameW(box, name, 8);
        const LONG style = GetWindowLongW(box, GWL_EXSTYLE);
        if (std::wstring(name) == L"#32770" && (style & WS_EX_LAYOUTRTL) == 0) {
            SetWindowLongW(box, GWL_EXSTYLE, style | WS_EX_LAYOUTRTL);
            InvalidateRect(box, nullptr, TRUE);
        }
    }
    return CallNextHookEx(nullptr, code, window, detail);
}
}  // namespace

int ManagerContext::showMessage(HWND owner, const std::wstring& text, const std::wstring& title, UINT kind) const {
    UINT style = kind | MB_TASKMODAL;
    UniqueHook mirror;
    if (rightToLeft_) {
        style |= MB_RIGHT | MB_RTLREADING;
        mirror.reset(SetWindowsHookExW(WH_CBT, mirrorMessageBox, nullptr, GetCurrentThreadId()));
    }
    return MessageBoxW(owner, text.c_str(), title.c_str(), style);
}

std::wstring windowText(HWND window, int limit) {
    std::wstring text(static_cast<size_t>(limit) + 1, L'\0');
    const int length = GetWindowTextW(window, &text[0], limit + 1);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

INT_PTR ManagerPage::run(int dialogId, HWND parent) {
    return DialogBoxParamW(context_.resources(), MAKEINTRESOURCEW(dialogId), parent, procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ManagerPage::procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<ManagerPage*>(lParam)->dialog_ = dialog;
    }
    // Nothing before WM_INITDIALOG needs the page.
    auto* page = reinterpret_cast<ManagerPage*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return page != nullptr ? page->onMessage(message, wParam, lParam) : FALSE;
}

namespace {
// The client area in screen coordinates, left below right whatever the layout's direction.
RECT screenClient(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
    ClientToScreen(window, &corners[0]);
    ClientToScreen(window, &corners[1]);
    return {std::min(corners[0].x, corners[1].x), corners[0].y, std::max(corners[0].x, corners[1].x), corners[1].y};
}
}  // namespace

// The dialog opens over its owner, its client area from the owner's leading corner: the left
// one, or the right one of a mirrored (right-to-left) owner. The template's position is measured
// from the owner's client origin, which a mirrored owner has on its right, so a dialog placed by
// it alone would open beside its owner.
void ManagerPage::placeOverOwner() {
    HWND owner = GetWindow(dialog(), GW_OWNER);
    if (owner == nullptr) return;
    const RECT ownerClient = screenClient(owner);
    const RECT client = screenClient(dialog());
    RECT frame = {};
    GetWindowRect(dialog(), &frame);
    const bool fromRight = (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    const LONG dx = fromRight ? ownerClient.right - client.right : ownerClient.left - client.left;
    SetWindowPos(dialog(), nullptr, frame.left + dx, frame.top + ownerClient.top - client.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR ManagerPage::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return guarded([&] {
                placeOverOwner();
                onInit();
                return TRUE;
            });
        case WM_COMMAND: return guarded([&] { return onCommand(LOWORD(wParam), HIWORD(wParam)); }, true);
        case WM_NOTIFY: return guarded([&] { return onNotify(reinterpret_cast<const NMHDR*>(lParam)); });
        case WM_CLOSE: return guarded([&] { return onClose(); });
        default: return guarded([&] { return onOtherMessage(message, wParam, lParam); });
    }
}

// What failed, for the message: our own errors' text and code, nothing for any other. Called
// only from inside a handler.
std::wstring describeFailure() noexcept {
    try {
        throw;
    } catch (const Exception& error) {
        try {
            return describe(error);
        } catch (...) {
        }
    } catch (...) {
    }
    return std::wstring();
}

template <typename Work>
INT_PTR ManagerPage::guarded(Work work, bool afterCommand) noexcept {
    std::wstring detail;
    try {
        return work();
    } catch (...) {
        detail = describeFailure();
    }
    reportFailure(detail);
    if (afterCommand) {
        try {
            onCommandFailed();
        } catch (...) {
        }
    }
    return TRUE;
}

bool ManagerPage::trySave(std::wstring& detail) noexcept {
    detail.clear();
    try {
        store().save();
        return true;
    } catch (...) {
        detail = describeFailure();
        return false;
    }
}

// A failure to write the list: said once, and the dialog goes on.
int ManagerPage::reportFailure(const std::wstring& detail, UINT buttons) noexcept {
    try {
        std::wstring text = context_.textOr(kSaveFailedText, kSaveFailedFallback);
        if (!detail.empty()) text += L"\r\n\r\n" + detail;
        return context_.showMessage(dialog_, text, windowText(dialog_), buttons | MB_ICONERROR);
    } catch (...) {
        return MessageBoxW(dialog_, kSaveFailedFallback, L"", buttons | MB_ICONERROR | MB_TASKMODAL);
    }
}
