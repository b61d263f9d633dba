#include "BrandKey.h"

#include "AsciiText.h"

namespace {
struct BrandRow {
    const wchar_t* code;
    const wchar_t* key;
};
#define BRAND_ROW(code, key) {L"" code, L"" key},
#define BRAND_FALLBACK(key)
const BrandRow kBrandTable[] = {
#include "BrandTable.h"
};
#undef BRAND_ROW
#undef BRAND_FALLBACK

#define BRAND_ROW(code, key)
#define BRAND_FALLBACK(key) L"" key
const wchar_t kFallbackBrand[] =
#include "BrandTable.h"
    ;
#undef BRAND_ROW
#undef BRAND_FALLBACK
}  // namespace

std::wstring brandKeyFor(const std::wstring& libraryFileName) {
    const std::wstring prefix = asciiLowered(libraryFileName.substr(0, 4));
    if (prefix.size() >= 2) {
        for (const BrandRow& row : kBrandTable) {
            if (prefix.compare(0, 2, row.code) == 0) return row.key;
        }
    }
    return kFallbackBrand;
}

std::wstring appListKeyPath(const std::wstring& libraryFileName) {
    return L"Software\\" + brandKeyFor(libraryFileName) + L"\\App List Manager\\";
}
