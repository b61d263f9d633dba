// One application of the list as stored: an APP entry of fixed lines, and the splitting of the
// stored text into entries. Pure.
#pragma once

#include <string>
#include <vector>

// "          <DEFAULT_AIO_APP>true</DEFAULT_AIO_APP>" CR LF: 51 characters, found by its exact text.
extern const wchar_t kDefaultAioLine[];
constexpr size_t kDefaultAioLineLength = 51;

std::wstring makeAppEntry(const std::wstring& friendlyName, const std::wstring& path, const std::wstring& defaultType,
                          const std::wstring& supportedTypes, bool isDefault = false);

// The complete entries of a stored text: each runs through its "</APP>" and the two characters
// after it; anything after the last one is ignored.
std::vector<std::wstring> splitEntries(const std::wstring& stored);

// The value of an element of an entry, empty when it is missing.
std::wstring entryValue(const std::wstring& entry, const wchar_t* name);

// The entry with the default line inserted after its PATH line, or cleared; unchanged when the
// entry has no "</PATH>" or no default line.
std::wstring withDefaultMark(const std::wstring& entry);
std::wstring withoutDefaultMark(const std::wstring& entry);

// The list's document: "<APPLIST>" CR LF, the stored text, "</APPLIST>".
constexpr wchar_t kDocumentOpen[] = L"<APPLIST>\r\n";
constexpr wchar_t kDocumentClose[] = L"</APPLIST>";
