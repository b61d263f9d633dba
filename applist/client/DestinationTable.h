// The destinations the panel chooses from, by panel index, and how they are read from the
// library's document. Pure: no system calls.
#pragma once

#include <map>
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
// `withFax`, file), and returns the "MS Paint" path found, if any. Linear in the document's
// length. Pure, so it can be tested and fuzzed apart from the library.
struct FixedDestinations {
    std::wstring email;  // text 16
    std::wstring fax;    // text 17
    std::wstring file;   // text 18
};
void fillDestinations(DestinationTable& table, const std::wstring& document, const FixedDestinations& fixed,
                      bool withFax, bool ocrInstalled, std::optional<std::wstring>& paintPath);
// Whether a default file type is one the text filter holds back without an OCR program.
bool isTextFileType(const std::wstring& fileType);

// The pieces of the reading, shared with the tests' reference reading.
// The fixed destinations at the first indexes; returns the next free index.
int putFixedDestinations(DestinationTable& table, const FixedDestinations& fixed, bool withFax);
// An APP entry's record; false when the text filter holds it back. "MS Paint" sets `paintPath`.
bool readAppEntry(const std::wstring& body, bool ocrInstalled, PanelAppRecord& record,
                  std::optional<std::wstring>& paintPath);
// A DESTINATION element's record: its APP, or else its FOLDER.
PanelAppRecord readDestination(const std::wstring& destination);
