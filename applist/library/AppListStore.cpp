#include "AppListStore.h"

#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "BrandKey.h"
#include "Exception.h"
#include "LibraryModule.h"
#include "RegistryKey.h"
#include "RegistryRead.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace {
const tstring kSourceFile = _T("AppListStore.cpp");
constexpr REGSAM kListAccess = 0x1F;  // query, set, create sub-key, enumerate, notify
const wchar_t kValueName[] = L"AppList";

std::mutex g_instanceLock;
std::unique_ptr<AppListStore> g_instance;
}  // namespace

AppListStore::AppListStore(std::wstring keyPath) : keyPath_(std::move(keyPath)) {}

AppListStore& AppListStore::instance() {
    std::lock_guard<std::mutex> hold(g_instanceLock);
    if (!g_instance) g_instance = std::make_unique<AppListStore>(appListKeyPath(libraryFileName()));
    return *g_instance;
}

void AppListStore::destroyInstance() {
    std::lock_guard<std::mutex> hold(g_instanceLock);
    g_instance.reset();
}

std::wstring AppListStore::readStoredText() const {
    try {
        RegistryKey key(keyPath_, true, HKEY_LOCAL_MACHINE, kListAccess);
        std::wstring text;
        if (key.getValue(kValueName, text)) return text;
    } catch (const Exception&) {
        // An unreadable list reads as an empty one.
    }
    return std::wstring();
}

std::wstring AppListStore::readDocument() const {
    std::wstring document(kDocumentOpen);
    try {
        RegistryKey key(keyPath_, true, HKEY_LOCAL_MACHINE, kListAccess);
        // Read at once in the room the list took last time; an unreadable list reads as empty.
        const size_t before = document.size();
        if (tryAppendText(key.handle(), kValueName, document, lastSize_.load()).ok()) {
            lastSize_ = static_cast<DWORD>((document.size() - before + 1) * sizeof(wchar_t));
        }
    } catch (const Exception&) {
    }
    return document.append(kDocumentClose);
}

void AppListStore::load(std::vector<std::wstring>& copy) {
    entries_ = splitEntries(readStoredText());
    copy = entries_;
}

DWORD AppListStore::save() {
    std::wstring text;
    for (const std::wstring& entry : entries_) text += entry;
    RegistryKey key(keyPath_, true, HKEY_LOCAL_MACHINE, kListAccess);
    key.setValue(kValueName, text);
    return 0;
}

DWORD AppListStore::add(const std::wstring& entry) {
    const std::wstring name = entryValue(entry, L"FRIENDLY_NAME");
    const std::wstring path = entryValue(entry, L"PATH");
    for (const std::wstring& existing : entries_) {
        if (entryValue(existing, L"FRIENDLY_NAME") == name) return ERROR_DUP_NAME;
    }
    for (const std::wstring& existing : entries_) {
        if (entryValue(existing, L"PATH") == path) return ERROR_DUP_NAME;
    }
    entries_.push_back(entry);
    return 0;
}

DWORD AppListStore::replaceByPath(const std::wstring& entry) {
    // A replacement that can't be saved is undone, so the list in memory keeps matching the
    // stored one: a renamed entry would otherwise count as another one's duplicate.
    const std::vector<std::wstring> before = entries_;
    const std::wstring path = entryValue(entry, L"PATH");
    for (std::wstring& existing : entries_) {
        if (entryValue(existing, L"PATH") == path) existing = entry;
    }
    try {
        return save();
    } catch (...) {
        entries_ = before;
        throw;
    }
}

DWORD AppListStore::removeAt(size_t position) {
    if (position >= entries_.size()) return ERROR_INVALID_PARAMETER;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    return 0;
}

std::wstring AppListStore::entryAt(size_t position) const {
    return position < entries_.size() ? entries_[position] : std::wstring();
}

DWORD AppListStore::move(int buttonId, int& position) {
    if (position < 0) return ERROR_INVALID_PARAMETER;
    const size_t p = static_cast<size_t>(position);
    if (buttonId == kMoveUpButton) {
        if (p == 0) return ERROR_NOT_SUPPORTED;
        if (p >= entries_.size()) return ERROR_INVALID_PARAMETER;
        std::swap(entries_[p - 1], entries_[p]);
        --position;
        return 0;
    }
    if (p + 1 >= entries_.size()) return ERROR_NOT_SUPPORTED;
    std::swap(entries_[p], entries_[p + 1]);
    ++position;
    return 0;
}

void AppListStore::removeMissing() {
    std::vector<std::wstring> loaded;
    load(loaded);
    // One pass: a removal at a time shifts the rest of a long list each time.
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [](const std::wstring& entry) { return !isUsableExe(entryValue(entry, L"PATH")); }),
                   entries_.end());
}

DWORD AppListStore::setDefault(const std::wstring& entry) {
    const std::wstring marked = withDefaultMark(entry);
    return marked == entry ? 0 : replaceByPath(marked);
}

DWORD AppListStore::clearDefault(const std::wstring& entry) {
    const std::wstring cleared = withoutDefaultMark(entry);
    return cleared == entry ? 0 : replaceByPath(cleared);
}
