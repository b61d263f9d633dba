// The chosen applications, in list order, and their one registry value. The in-memory list is
// changed by add, remove and move and written by save; every read goes to the registry.
#pragma once

#include "CriticalSection.h"

#include <windows.h>

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
    // The "<APPLIST>" document's length without its NUL, and whether it was written.
    struct Document {
        size_t length = 0;
        bool written = false;
        bool narrow = true;  // every character fitted in 8 bits (8-bit output only)
    };
    // Writes the "<APPLIST>" document of the stored list and its NUL into `room` when it holds
    // more than the document's length; the length is reported either way. The list is read
    // straight into the caller's room between the two tags; a room too small, or none, has it
    // read into storage kept between calls, so that steady calls allocate nothing.
    Document writeDocument(wchar_t* room, size_t roomChars) const;
    // The same in 8-bit characters (U+0000 to U+00FF); `narrow` false when another character
    // stands in it, and then nothing useful is written.
    Document writeNarrowDocument(char* room, size_t roomChars) const;
    // The document as a string.
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
    // The list's key opened for reading; null when the list can't be read (an empty list). A
    // missing key is created, as every other user of the list expects it to exist.
    HKEY openForReading() const;
    // The stored text read into kept_ (grown to fit); its length. Under keptLock_.
    size_t readIntoKept(HKEY key) const;
    // Gives kept_ back when a list far larger than any monitor takes grew it. Under keptLock_.
    void releaseHugeKept() const;
    mutable CriticalSection keptLock_;
    mutable std::vector<wchar_t> kept_;
};
