// The manager's text rules, apart from any window: the file-type rows and their codes, name
// cleaning, the position counter and the remove confirmation. Pure, so it builds and is tested
// anywhere.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace managertext {

// The rows of the file-type list, in the order shown.
constexpr size_t kFileTypeCount = 24;
// The row's name as shown ("JPEG (*.JPG)"), without the default mark.
const wchar_t* fileTypeName(size_t row);
// The code the row writes into SUPPORTED_FILE_TYPES and DEFAULT_FILE_TYPE ("JPG"). Row 8,
// shown as "(*.PCS)", writes PCX.
const wchar_t* fileTypeCode(size_t row);
// The first row whose code equals `code` without regard to case or surrounding blanks; -1 for
// none (LSS and unknown codes).
int rowForCode(const std::wstring& code);

// The rows an entry's types check, and its default row (-1 when its default type is none of
// its checked rows).
struct TypeRows {
    std::vector<bool> checked = std::vector<bool>(kFileTypeCount, false);
    int defaultRow = -1;
};
TypeRows rowsForEntry(const std::wstring& supportedTypes, const std::wstring& defaultType);
// The codes of the checked rows, in row order, joined with ",".
std::wstring supportedCodes(const std::vector<bool>& checked);
// The first checked row, -1 for none.
int firstChecked(const std::vector<bool>& checked);

// A row's name as put in the list: wrapped in LEFT-TO-RIGHT EMBEDDING ... POP DIRECTIONAL
// FORMATTING for right-to-left presentation.
std::wstring displayTypeName(size_t row, bool rightToLeft);

// The name without '"', '&', ''', '<' and '>', which would break the list's tags.
std::wstring cleanFriendlyName(const std::wstring& typed);

// "  (2 / 3)" with `separator` between the numbers; two blanks, U+200F, "(" ... for
// right-to-left presentation.
std::wstring positionCounter(int current, int total, const std::wstring& separator, bool rightToLeft);

// The confirmation `text` with `name` put between its first two apostrophes; the text alone
// when it has no apostrophe.
std::wstring removeConfirmation(const std::wstring& text, const std::wstring& name);

// The part after the last backslash; the whole text when there is none.
std::wstring fileNameOf(const std::wstring& path);

// True for a presentation language written right to left ("HEBREW", "ARABIC", any case).
bool isRightToLeftLanguage(const std::wstring& language);

}  // namespace managertext
