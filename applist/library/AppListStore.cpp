#include "AppListStore.h"

#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "BrandKey.h"
#include "Exception.h"
#include "Handles.h"
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

namespace {
constexpr size_t kOpenChars = sizeof(kDocumentOpen) / sizeof(wchar_t) - 1;
constexpr size_t kCloseChars = sizeof(kDocumentClose) / sizeof(wchar_t) - 1;
// A value that keeps growing between reads is given up after this many, and reads as empty.
constexpr int kReadAttempts = 8;
// The storage kept between calls holds a list up to this size (the largest a monitor takes);
// a larger one is given back after its call, so that one huge list doesn't stay in memory.
constexpr size_t kKeptMostChars = 1u << 20;

enum class TextRead { Text, None, Larger };

// The list's text read into `room` (never null): Text with `chars` its length up to the first
// NUL (or up to the room's end when it holds none); None for a missing, unreadable or non-text
// value; Larger with `chars` the room the value needs, a character spare.
TextRead readListText(HKEY key, wchar_t* room, size_t roomChars, size_t& chars) {
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>(std::min<size_t>(roomChars, MAXDWORD / sizeof(wchar_t)) * sizeof(wchar_t));
    const LONG status = RegQueryValueExW(key, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(room), &bytes);
    if (status == ERROR_MORE_DATA) {
        chars = bytes / sizeof(wchar_t) + 1;
        return TextRead::Larger;
    }
    if (status != ERROR_SUCCESS || !isTextType(type)) return TextRead::None;
    const size_t stored = std::min<size_t>(bytes / sizeof(wchar_t), roomChars);
    chars = static_cast<size_t>(std::find(room, room + stored, L'\0') - room);
    return TextRead::Text;
}

void putTags(wchar_t* document, size_t textChars) {
    std::copy(kDocumentOpen, kDocumentOpen + kOpenChars, document);
    std::copy(kDocumentClose, kDocumentClose + kCloseChars + 1, document + kOpenChars + textChars);
}
}  // namespace

HKEY AppListStore::openForReading() const {
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS) return key;
    if (status == ERROR_FILE_NOT_FOUND) {
        try {
            RegistryKey created(keyPath_, true, HKEY_LOCAL_MACHINE, kListAccess);
        } catch (const Exception&) {
        }
    }
    return nullptr;
}

size_t AppListStore::readIntoKept(HKEY key) const {
    if (key == nullptr) return 0;
    if (kept_.empty()) kept_.resize(256);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        size_t chars = 0;
        switch (readListText(key, kept_.data(), kept_.size(), chars)) {
        case TextRead::Text:
            return chars;
        case TextRead::None:
            return 0;
        case TextRead::Larger:
            kept_.resize(std::max(chars, kept_.size() + 1));
            break;
        }
    }
    return 0;
}

AppListStore::Document AppListStore::writeDocument(wchar_t* room, size_t roomChars) const {
    const UniqueKey key(openForReading());
    Document out;
    if (room != nullptr && roomChars > kOpenChars + kCloseChars) {
        // The text's NUL may land where the closing tag goes; the tag overwrites it.
        size_t chars = 0;
        const TextRead read = key ? readListText(key.get(), room + kOpenChars, roomChars - kOpenChars - kCloseChars, chars)
                                  : TextRead::None;
        if (read != TextRead::Larger) {
            if (read == TextRead::None) chars = 0;
            out.length = kOpenChars + chars + kCloseChars;
            out.written = out.length < roomChars;
            if (out.written) putTags(room, chars);
            return out;
        }
    }
    std::lock_guard<CriticalSection> hold(keptLock_);
    const size_t chars = readIntoKept(key.get());
    out.length = kOpenChars + chars + kCloseChars;
    out.written = room != nullptr && out.length < roomChars;
    if (out.written) {
        std::copy(kept_.data(), kept_.data() + chars, room + kOpenChars);
        putTags(room, chars);
    }
    releaseHugeKept();
    return out;
}

void AppListStore::releaseHugeKept() const {
    if (kept_.size() > kKeptMostChars) std::vector<wchar_t>().swap(kept_);
}

AppListStore::Document AppListStore::writeNarrowDocument(char* room, size_t roomChars) const {
    const UniqueKey key(openForReading());
    std::lock_guard<CriticalSection> hold(keptLock_);
    const size_t chars = readIntoKept(key.get());
    Document out;
    out.length = kOpenChars + chars + kCloseChars;
    const wchar_t* text = kept_.data();
    if (room != nullptr && out.length < roomChars) {
        out.narrow = std::all_of(text, text + chars, [](wchar_t c) { return c <= 0xFF; });
        if (out.narrow) {
            char* at = std::copy(kDocumentOpen, kDocumentOpen + kOpenChars, room);
            at = std::transform(text, text + chars, at, [](wchar_t c) { return static_cast<char>(c); });
            std::copy(kDocumentClose, kDocumentClose + kCloseChars + 1, at);
            out.written = true;
        }
    }
    releaseHugeKept();
    return out;
}

std::wstring AppListStore::readDocument() const {
    std::wstring document;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        document.resize(writeDocument(nullptr, 0).length + 1);
        const Document written = writeDocument(&document[0], document.size());
        if (written.written) return document.substr(0, written.length);
    }
    return std::wstring(kDocumentOpen) + kDocumentClose;
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
