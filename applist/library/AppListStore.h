// The chosen applications, in list order, and their one registry value. The in-memory list is
// changed by add, remove and move and written by save; every read goes to the registry.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

constexpr int kMoveUpButton = 1036;
constexpr int kMoveDownButton = 1037;

class AppListStore {
public:
    // The store of the list below HKLM\<keyPath>.
    explicit AppListStore(std::wstring keyPath);

    // The process's store, for this library's brand key; created on first use.
    static AppListStore& instance();
    static void destroyInstance();

    // The "AppList" value, or empty text when it is missing or unreadable.
    std::wstring readStoredText() const;
    // The "<APPLIST>" document of the stored list, the text read straight into it.
    std::wstring readDocument() const;
    void load(std::vector<std::wstring>& copy);
    // Throws the platform error when the key or the value can't be written.
    DWORD save();
    // 0, or 52 when an entry has the same friendly name or the same path (exact comparison).
    DWORD add(const std::wstring& entry);
    // Replaces every entry with the same path, then saves.
    DWORD replaceByPath(const std::wstring& entry);
    // 87 for a position outside the list.
    DWORD removeAt(size_t position);
    std::wstring entryAt(size_t position) const;
    // One step up (1036) or down (any other id): 0, 50 at the end, 87 for a negative position.
    DWORD move(int buttonId, int& position);
    // Loads, then drops the entries whose program is missing (not saved).
    void removeMissing();
    // The entry marked or cleared as default, handed to replaceByPath; 0 when nothing changed.
    DWORD setDefault(const std::wstring& entry);
    DWORD clearDefault(const std::wstring& entry);

    size_t count() const { return entries_.size(); }
    const std::vector<std::wstring>& entries() const { return entries_; }
    const std::wstring& keyPath() const { return keyPath_; }

private:
    std::wstring keyPath_;
    std::vector<std::wstring> entries_;
    // The stored list's size in bytes when last read: the next read tries that room at once.
    mutable std::atomic<DWORD> lastSize_{0};
};
