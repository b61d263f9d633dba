// The destinations read the way the monitor read them before its linear reading: a search from
// the start and an erase at the front for every element. Kept as the measure that the linear
// reading gives the same records in the same order for every document.
#pragma once

#include "DestinationTable.h"
#include "TagText.h"

namespace reference {

inline void quadraticFill(DestinationTable& table, std::wstring document, const FixedDestinations& fixed,
                          bool withFax, bool ocrInstalled, std::optional<std::wstring>& paintPath) {
    int next = putFixedDestinations(table, fixed, withFax);
    if (document.find(L"<APPLIST>") != std::wstring::npos) {
        std::wstring body;
        while (tagtext::getElement(document, L"APP", body)) {
            tagtext::removeElement(document, L"APP");
            PanelAppRecord record;
            if (readAppEntry(body, ocrInstalled, record, paintPath)) table[next++] = std::move(record);
        }
        return;
    }
    std::wstring destination;
    while (tagtext::getElement(document, L"DESTINATION", destination)) {
        table[next++] = readDestination(destination);
        tagtext::removeElement(document, L"DESTINATION");
    }
}

inline bool sameRecord(const PanelAppRecord& a, const PanelAppRecord& b) {
    return a.friendlyName == b.friendlyName && a.path == b.path && a.defaultFileType == b.defaultFileType &&
           a.supportedFileTypes == b.supportedFileTypes && a.defaultAioApp == b.defaultAioApp &&
           a.isFolder == b.isFolder;
}

// Whether both readings give the same table and the same paint path for every combination of
// fax and OCR program; the first combination that differs is named in `why`.
inline bool readsAlike(const std::wstring& document, std::string* why = nullptr) {
    const FixedDestinations fixed{L"E-mail", L"Fax", L"File"};
    for (int flags = 0; flags < 4; ++flags) {
        DestinationTable linear, quadratic;
        std::optional<std::wstring> linearPaint, quadraticPaint;
        fillDestinations(linear, document, fixed, (flags & 1) != 0, (flags & 2) != 0, linearPaint);
        quadraticFill(quadratic, document, fixed, (flags & 1) != 0, (flags & 2) != 0, quadraticPaint);
        bool same = linear.size() == quadratic.size() && linearPaint == quadraticPaint;
        for (auto a = linear.begin(), b = quadratic.begin(); same && a != linear.end(); ++a, ++b) {
            same = a->first == b->first && sameRecord(a->second, b->second);
        }
        if (!same) {
            if (why != nullptr) {
                *why = "fax " + std::to_string(flags & 1) + ", ocr " + std::to_string((flags & 2) >> 1) + ": " +
                       std::to_string(linear.size()) + " against " + std::to_string(quadratic.size()) + " records";
            }
            return false;
        }
    }
    return true;
}

}  // namespace reference
