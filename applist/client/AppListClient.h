// The application list as the monitor sees it: the library binding, the destination table that
// resolves the panel's application index, and the list sent to the panel.
#pragma once

#include "AppListLibrary.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

struct PanelAppRecord {
    std::wstring friendlyName;
    std::wstring path;
    std::wstring defaultFileType;
    std::wstring supportedFileTypes;
    std::wstring defaultAioApp;  // "true" or empty
    bool isFolder = false;
};

using DestinationTable = std::map<int, PanelAppRecord>;

// Fills `table` from a fetched document, after the fixed destinations (e-mail, fax when
// `withFax`, file), and returns the "MS Paint" path found, if any. Pure, so it can be tested
// and fuzzed apart from the library.
struct FixedDestinations {
    std::wstring email;  // text 16
    std::wstring fax;    // text 17
    std::wstring file;   // text 18
};
void fillDestinations(DestinationTable& table, std::wstring document, const FixedDestinations& fixed,
                      bool withFax, bool ocrInstalled, std::optional<std::wstring>& paintPath);
// Whether a default file type is one the text filter holds back without an OCR program.
bool isTextFileType(const std::wstring& fileType);

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
    // Sends the table's names to the panel through the session object.
    bool sendPanelList(void* sessionObject);
    void clearDestinations();
    // A copy of the record at a panel index; none when the index has no destination.
    std::optional<PanelAppRecord> findDestination(int index) const;
    DestinationTable destinations() const;

    bool listSent() const;
    void setListSent(bool sent);
    std::string ocrFlag() const;
    std::wstring paintPath() const;

    bool isOcrInstalled() const;
    bool hasFaxProgram() const;
    void setFaxVendorName(const std::string& name);
    std::string faxVendorName() const;

private:
    bool fetchDocument(std::wstring& document);

    std::string prefix_;
    AppListLibrary library_;
    FixedDestinations fixed_;
    HMODULE scanLibrary_ = nullptr;
    // List requests and scan requests arrive on different library threads: the table and the
    // fields below are only touched under this lock, and a rebuild swaps the table in whole.
    mutable std::mutex lock_;
    DestinationTable table_;
    bool listSent_ = false;
    std::string ocrFlag_ = "0";
    std::wstring paintPath_;
    std::string faxVendorName_;
    // One list build or send at a time, so a send hands the panel the table it just built.
    std::mutex buildLock_;
};
