#include "ManagerText.h"

#include "AsciiText.h"

#include <cwchar>

namespace managertext {
namespace {
struct FileTypeRow {
    const wchar_t* name;
    const wchar_t* code;
};

// Rows 0-17 take the codes of the association types at the same positions; the office rows
// keep their own codes, so a document type never checks a row of another kind.
const FileTypeRow kFileTypes[kFileTypeCount] = {
    {L"Bitmap (*.BMP)", L"BMP"},
    {L"EXIF (*.EXF)", L"EXF"},
    {L"GIF (*.GIF)", L"GIF"},
    {L"JPEG (*.JPG)", L"JPG"},
    {L"JPEG (*.JFIF)", L"JFIF"},
    {L"JPEG (*.JPE)", L"JPE"},
    {L"JPEG (*.JPEG)", L"JPEG"},
    {L"JPEG (*.JTF)", L"JTF"},
    {L"PCX (*.PCS)", L"PCX"},
    {L"PCX (*.DCX)", L"DCX"},
    {L"Portable Network Graphics (*.PNG)", L"PNG"},
    {L"TIF (*.TIF)", L"TIF"},
    {L"TIF (*.TIFF)", L"TIFF"},
    {L"Truevision TARGA (*.TGA)", L"TGA"},
    {L"Windows MetaFile (*.WMF)", L"WMF"},
    {L"Portable Document Format (*.PDF)", L"PDF"},
    {L"Rich Text Format (*.RTF)", L"RTF"},
    {L"TEXT (*.TXT)", L"TXT"},
    {L"Microsoft Word Document(*.DOC)", L"DOC"},
    {L"Microsoft Word Document(*.DOCX)", L"DOCX"},
    {L"Microsoft PowerPoint Presentation (*.PPT)", L"PPT"},
    {L"Microsoft PowerPoint Presentation (*.PPTX)", L"PPTX"},
    {L"Microsoft Excel Worksheet (*.XLS)", L"XLS"},
    {L"Microsoft Excel Worksheet (*.XLSX)", L"XLSX"},
};

std::wstring trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}
}  // namespace

const wchar_t* fileTypeName(size_t row) { return row < kFileTypeCount ? kFileTypes[row].name : L""; }

const wchar_t* fileTypeCode(size_t row) { return row < kFileTypeCount ? kFileTypes[row].code : L""; }

int rowForCode(const std::wstring& code) {
    const std::wstring wanted = trimmed(code);
    if (wanted.empty()) return -1;
    for (size_t row = 0; row < kFileTypeCount; ++row) {
        if (equalIgnoringAsciiCase(wanted, kFileTypes[row].code)) return static_cast<int>(row);
    }
    return -1;
}

// The default row is the row of exactly the default code. Taking every row whose code contains
// it would mark TIF and TIFF (or XLS and XLSX, or every row for an empty default) at once, and an
// unchanged save would then store the later row's code as the default.
TypeRows rowsForEntry(const std::wstring& supportedTypes, const std::wstring& defaultType) {
    TypeRows rows;
    const int defaultRow = rowForCode(defaultType);
    size_t start = 0;
    while (start <= supportedTypes.size()) {
        size_t comma = supportedTypes.find(L',', start);
        if (comma == std::wstring::npos) comma = supportedTypes.size();
        const int row = rowForCode(supportedTypes.substr(start, comma - start));
        if (row >= 0) {
            rows.checked[static_cast<size_t>(row)] = true;
            if (row == defaultRow) rows.defaultRow = row;
        }
        start = comma + 1;
    }
    return rows;
}

std::wstring supportedCodes(const std::vector<bool>& checked) {
    std::wstring codes;
    for (size_t row = 0; row < checked.size() && row < kFileTypeCount; ++row) {
        if (!checked[row]) continue;
        if (!codes.empty()) codes += L',';
        codes += kFileTypes[row].code;
    }
    return codes;
}

int firstChecked(const std::vector<bool>& checked) {
    for (size_t row = 0; row < checked.size() && row < kFileTypeCount; ++row) {
        if (checked[row]) return static_cast<int>(row);
    }
    return -1;
}

std::wstring displayTypeName(size_t row, bool rightToLeft) {
    const std::wstring name = fileTypeName(row);
    return rightToLeft ? L"\u202A" + name + L"\u202C" : name;
}

std::wstring cleanFriendlyName(const std::wstring& typed) {
    std::wstring name;
    name.reserve(typed.size());
    for (wchar_t c : typed) {
        if (c != L'"' && c != L'&' && c != L'\'' && c != L'<' && c != L'>') name += c;
    }
    return name;
}

std::wstring positionCounter(int current, int total, const std::wstring& separator, bool rightToLeft) {
    std::wstring counter = rightToLeft ? L"  \u200F(" : L"  (";
    counter += std::to_wstring(current);
    counter += L' ';
    counter += separator;
    counter += L' ';
    counter += std::to_wstring(total);
    counter += L')';
    return counter;
}

std::wstring removeConfirmation(const std::wstring& text, const std::wstring& name) {
    const size_t first = text.find(L'\'');
    if (first == std::wstring::npos) return text;
    const size_t second = text.find(L'\'', first + 1);
    std::wstring message = text.substr(0, first + 1) + name;
    // A text with one apostrophe only still gets the name after it.
    if (second != std::wstring::npos) message += text.substr(second);
    return message;
}

std::wstring fileNameOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool isRightToLeftLanguage(const std::wstring& language) {
    return equalIgnoringAsciiCase(language, L"HEBREW") || equalIgnoringAsciiCase(language, L"ARABIC");
}

}  // namespace managertext
