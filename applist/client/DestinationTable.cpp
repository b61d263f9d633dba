#include "DestinationTable.h"

#include "AsciiText.h"
#include "TagText.h"

#include <cwchar>

namespace {
bool startsTypeName(const std::wstring& fileType, const wchar_t* name) {
    const size_t length = wcslen(name);
    if (fileType.size() > length) return false;
    for (size_t i = 0; i < fileType.size(); ++i) {
        if (asciiLower(fileType[i]) != name[i]) return false;
    }
    return true;
}

PanelAppRecord readEntry(const std::wstring& body) {
    PanelAppRecord record;
    record.friendlyName = tagtext::elementOrEmpty(body, L"FRIENDLY_NAME");
    record.path = tagtext::elementOrEmpty(body, L"PATH");
    record.defaultFileType = tagtext::elementOrEmpty(body, L"DEFAULT_FILE_TYPE");
    record.supportedFileTypes = tagtext::elementOrEmpty(body, L"SUPPORTED_FILE_TYPES");
    return record;
}
}  // namespace

bool isTextFileType(const std::wstring& fileType) {
    return startsTypeName(fileType, L"txt") || startsTypeName(fileType, L"rtf");
}

int putFixedDestinations(DestinationTable& table, const FixedDestinations& fixed, bool withFax) {
    auto fixedRecord = [](const std::wstring& name) {
        PanelAppRecord record;
        record.friendlyName = name;
        record.defaultFileType = L"JPG";
        return record;
    };
    int next = 0;
    table[next++] = fixedRecord(fixed.email);
    if (withFax) table[next++] = fixedRecord(fixed.fax);
    table[next++] = fixedRecord(fixed.file);
    return next;
}

bool readAppEntry(const std::wstring& body, bool ocrInstalled, PanelAppRecord& record,
                  std::optional<std::wstring>& paintPath) {
    record = readEntry(body);
    if (isTextFileType(record.defaultFileType) && !ocrInstalled) return false;
    if (tagtext::elementOrEmpty(body, L"DEFAULT_AIO_APP") == L"true") record.defaultAioApp = L"true";
    if (record.friendlyName == L"MS Paint") paintPath = record.path;
    return true;
}

PanelAppRecord readDestination(const std::wstring& destination) {
    std::wstring inner;
    bool isFolder = false;
    if (!tagtext::getElement(destination, L"APP", inner)) {
        isFolder = tagtext::getElement(destination, L"FOLDER", inner);
    }
    PanelAppRecord record = readEntry(inner);
    record.isFolder = isFolder;
    return record;
}

void fillDestinations(DestinationTable& table, const std::wstring& document, const FixedDestinations& fixed,
                      bool withFax, bool ocrInstalled, std::optional<std::wstring>& paintPath) {
    int next = putFixedDestinations(table, fixed, withFax);
    if (document.find(L"<APPLIST>") != std::wstring::npos) {
        tagtext::drainElements(document, L"APP", [&](const std::wstring& body) {
            PanelAppRecord record;
            if (readAppEntry(body, ocrInstalled, record, paintPath)) table[next++] = std::move(record);
        });
        return;
    }
    tagtext::drainElements(document, L"DESTINATION",
                           [&](const std::wstring& destination) { table[next++] = readDestination(destination); });
}
