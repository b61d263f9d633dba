#include "BrandKey.h"

#include "AsciiText.h"

namespace {
struct BrandRow {
    const wchar_t* code;
    const wchar_t* key;
};
// The first match wins, so the second "gn" and "eb" rows are never chosen.
const BrandRow kBrandTable[] = {
    {L"ke", L"KelvaraInkjet"}, {L"nv", L"NorvikInkJet"},  {L"nr", L"NorvikLaser"},   {L"ua", L"LumetraInkJet"},
    {L"os", L"OstrelInkjet"},  {L"ro", L"SorvaniInkJet"}, {L"qz", L"QuarzelInkJet"}, {L"kv", L"KelvaraLaser"},
    {L"eb", L"IbrexLaser"},    {L"gn", L"DcsLaser"},      {L"gn", L"DcsScanner"},    {L"eb", L"IbrexScanner"},
    {L"tq", L"TQInkjet"},      {L"rv", L"GravikInkjet"},  {L"nt", L"T-NovaInkjet"},  {L"wb", L"OemInkjet"},
};
}  // namespace

std::wstring brandKeyFor(const std::wstring& libraryFileName) {
    const std::wstring prefix = asciiLowered(libraryFileName.substr(0, 4));
    if (prefix.size() >= 2) {
        for (const BrandRow& row : kBrandTable) {
            if (prefix.compare(0, 2, row.code) == 0) return row.key;
        }
    }
    return L"Kelvara Tools";
}

std::wstring appListKeyPath(const std::wstring& libraryFileName) {
    return L"Software\\" + brandKeyFor(libraryFileName) + L"\\App List Manager\\";
}
