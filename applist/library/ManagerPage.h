// What the manager's four dialogs share: the run's context and the base of a dialog whose
// object is its state, handed in through DialogBoxParamW and kept in DWLP_USER.
#pragma once

#include "AppDiscoverer.h"
#include "AppListStore.h"
#include "ManagerResources.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <utility>

// What the dialogs end with: Back, Next (done), Cancel, and the window closed.
constexpr INT_PTR kBack = kBackButton;
constexpr INT_PTR kNext = kNextButton;
constexpr INT_PTR kCancel = IDCANCEL;
constexpr INT_PTR kClosed = 1;

// One manager run: its resources, presentation and store, and the discoverer made on first use.
// All dialogs of the run use it on the thread that runs them.
class ManagerContext {
public:
    ManagerContext(HINSTANCE resources, bool rightToLeft, AppListStore& store)
        : resources_(resources), rightToLeft_(rightToLeft), store_(store) {}
    ManagerContext(const ManagerContext&) = delete;
    ManagerContext& operator=(const ManagerContext&) = delete;

    HINSTANCE resources() const { return resources_; }
    bool rightToLeft() const { return rightToLeft_; }
    AppListStore& store() const { return store_; }
    AppDiscoverer& finder();

    // False when the text does not load; `text` is then left as it was.
    bool loadText(UINT id, std::wstring& text) const;
    std::wstring textOr(UINT id, const wchar_t* fallback) const;
    // Task-modal, right-aligned and read right to left in a right-to-left presentation.
    int showMessage(HWND owner, const std::wstring& text, const std::wstring& title, UINT kind) const;

private:
    HINSTANCE resources_;
    bool rightToLeft_;
    AppListStore& store_;
    std::unique_ptr<AppDiscoverer> finder_;
};

// The window's text, up to `limit` characters.
std::wstring windowText(HWND window, int limit = 1024);

// One modal dialog of the manager. Its handlers run guarded: no error goes back into the dialog
// machinery; a failure is said once the handler has unwound, and the dialog goes on.
class ManagerPage {
public:
    explicit ManagerPage(ManagerContext& context) : context_(context) {}
    virtual ~ManagerPage() = default;
    ManagerPage(const ManagerPage&) = delete;
    ManagerPage& operator=(const ManagerPage&) = delete;

    // Runs dialog `dialogId` modally over `parent`; its result, or -1 when it can't be shown.
    INT_PTR run(int dialogId, HWND parent);

protected:
    virtual void onInit() = 0;
    virtual INT_PTR onCommand(int id, int code) = 0;
    virtual INT_PTR onNotify(const NMHDR*) { return FALSE; }
    // After a command whose failure was said: puts the dialog in line with the store.
    virtual void onCommandFailed() {}
    // FALSE leaves the close box to the dialog manager, which sends IDCANCEL.
    virtual INT_PTR onClose() { return FALSE; }
    virtual INT_PTR onOtherMessage(UINT, WPARAM, LPARAM) { return FALSE; }

    // Saves the list; false, with what failed in `detail`, when it can't.
    bool trySave(std::wstring& detail) noexcept;
    // Says that the list could not be saved, with `detail`, and gives the answer (MB_OK and the
    // like for `buttons`).
    int reportFailure(const std::wstring& detail, UINT buttons = MB_OK) noexcept;

    ManagerContext& context() const { return context_; }
    AppListStore& store() const { return context_.store(); }
    HWND dialog() const { return dialog_; }
    HWND item(int id) const { return GetDlgItem(dialog_, id); }

private:
    void placeOverOwner();
    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    template <typename Work>
    INT_PTR guarded(Work work, bool afterCommand = false) noexcept;

    ManagerContext& context_;
    HWND dialog_ = nullptr;
};

// Runs dialog `dialogId` over `parent` as a `Page` made of the context and `args`.
template <typename Page, typename... Args>
INT_PTR runPage(int dialogId, HWND parent, ManagerContext& context, Args&&... args) {
    Page page(context, std::forward<Args>(args)...);
    return page.run(dialogId, parent);
}
