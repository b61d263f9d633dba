// The application list as the monitor sees it: the library binding, the destination table that
// resolves the panel's application index, and the list sent to the panel.
#pragma once

#include "AppListLibrary.h"
#include "DestinationTable.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// The largest "<APPLIST>" document the monitor reads, in characters with its terminator: room
// for over a thousand entries of the longest names and paths, yet read and built in milliseconds.
constexpr uint32_t kMaxListCharacters = 1u << 20;

class AppListClient {
public:
    explicit AppListClient(const std::string& prefix) : prefix_(prefix), library_(prefix) {}

    AppListLibrary& library() { return library_; }
    // Set once at monitor start, before any report arrives.
    void setFixedDestinations(const FixedDestinations& names) { fixed_ = names; }
    void setScanLibrary(HMODULE library) { scanLibrary_ = library; }

    // Rebuilds the table from the library's document; false (table untouched) when the library,
    // an export or the document is unavailable.
    bool buildDestinations();
    // Builds the table and sends its names to the panel through the session object.
    bool sendPanelList(void* sessionObject);
    // A list request: clears the table, then builds and sends it, as one step.
    bool refreshPanelList(void* sessionObject);
    // The destination a scan's index names; the table is built first when the list has not
    // been sent. Never meets a table that a list request has cleared but not rebuilt.
    std::optional<PanelAppRecord> destinationForScan(int index);
    void clearDestinations();
    // A copy of the record at a panel index; none when the index has no destination.
    std::optional<PanelAppRecord> findDestination(int index) const;
    DestinationTable destinations() const;

    bool listSent() const;
    void setListSent(bool sent);
    std::string ocrFlag() const;
    std::wstring paintPath() const;

    bool isOcrInstalled() const;
    // Whether a program is registered in the native view (App Paths or the classes root) or,
    // with nativeView false, under App Paths in the 32-bit view.
    static bool programRegistered(const std::string& exeName, bool nativeView);
    bool hasFaxProgram() const;
    void setFaxVendorName(const std::string& name);
    std::string faxVendorName() const;

private:
    // False when the library or the document is unavailable; a document over the limit is
    // refused (logged) and read as the empty list. The document is read into `document`'s own
    // room, so a text kept from the last list takes no new block for a list of its size.
    bool fetchDocument(std::wstring& document);
    // Under buildLock_.
    bool buildLocked();
    bool sendLocked(void* sessionObject);

    std::string prefix_;
    AppListLibrary library_;
    FixedDestinations fixed_;
    HMODULE scanLibrary_ = nullptr;
    // The last document read, under buildLock_: its room serves the next list.
    std::wstring document_;
    // List requests and scan requests arrive on different library threads: the table and the
    // fields below are only touched under this lock, and a rebuild swaps the table in whole.
    mutable std::mutex lock_;
    DestinationTable table_;
    bool listSent_ = false;
    std::string ocrFlag_ = "0";
    std::wstring paintPath_;
    std::string faxVendorName_;
    // One list build or send at a time, so a send hands the panel the table it just built and a
    // scan never resolves its index in a table being rebuilt. Held across the list library's
    // and the scan-session library's calls: neither is given a callback, so neither can come
    // back into this object on the holding thread.
    std::mutex buildLock_;
};
