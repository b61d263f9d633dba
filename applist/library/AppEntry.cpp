#include "AppEntry.h"

#include "TagText.h"

const wchar_t kDefaultAioLine[] = L"          <DEFAULT_AIO_APP>true</DEFAULT_AIO_APP>\r\n";
static_assert(sizeof(kDefaultAioLine) / sizeof(wchar_t) - 1 == kDefaultAioLineLength, "the line is found by its text");

namespace {
const std::wstring kIndent(10, L' ');
const std::wstring kOuterIndent(5, L' ');

std::wstring valueLine(const wchar_t* name, const std::wstring& value) {
    std::wstring line;
    tagtext::setElement(line, name, value);
    return kIndent + line + L"\r\n";
}
}  // namespace

std::wstring makeAppEntry(const std::wstring& friendlyName, const std::wstring& path, const std::wstring& defaultType,
                          const std::wstring& supportedTypes, bool isDefault) {
    std::wstring body = valueLine(L"FRIENDLY_NAME", friendlyName) + valueLine(L"PATH", path);
    if (isDefault) body += kDefaultAioLine;
    body += valueLine(L"DEFAULT_FILE_TYPE", defaultType) + valueLine(L"SUPPORTED_FILE_TYPES", supportedTypes);
    std::wstring entry = kOuterIndent;
    tagtext::setElement(entry, L"APP", body);
    entry += L"\r\n";
    entry.insert(kOuterIndent.size() + 5, L"\r\n");                 // after "<APP>"
    entry.insert(entry.size() - 2 - 6, kOuterIndent);               // before "</APP>"
    return entry;
}

std::vector<std::wstring> splitEntries(const std::wstring& stored) {
    std::vector<std::wstring> entries;
    size_t position = 0;
    while (position < stored.size()) {
        const size_t close = stored.find(L"</APP>", position);
        if (close == std::wstring::npos) break;
        entries.push_back(stored.substr(position, close - position + 8));
        position = close + 8;
    }
    return entries;
}

std::wstring entryValue(const std::wstring& entry, const wchar_t* name) { return tagtext::elementOrEmpty(entry, name); }

std::wstring withDefaultMark(const std::wstring& entry) {
    // Marked once: a second line could never be cleared with one unmarking.
    if (entry.find(kDefaultAioLine) != std::wstring::npos) return entry;
    const size_t path = entry.find(L"</PATH>");
    if (path == std::wstring::npos) return entry;
    std::wstring marked = entry;
    marked.insert(std::min(path + 9, marked.size()), kDefaultAioLine);
    return marked;
}

std::wstring withoutDefaultMark(const std::wstring& entry) {
    const size_t line = entry.find(kDefaultAioLine);
    if (line == std::wstring::npos) return entry;
    std::wstring cleared = entry;
    cleared.erase(line, kDefaultAioLineLength);
    return cleared;
}
