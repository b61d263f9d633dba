// The list texts from the registry and the library: tag operations in both widths, APP-entry
// splitting and marking, the document, and the monitor's reading of it into destinations.
#include "AppEntry.h"
#include "DestinationTable.h"
#include "FuzzInput.h"
#include "TagText.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.byte();
    const std::string name = input.text();
    const std::string raw = input.text();
    const std::wstring document = input.wideRest();

    // 8-bit tag operations on raw text; every remove shrinks it, so a remove loop ends.
    std::string narrow = raw;
    std::string value;
    while (tagtext::getElement(narrow, name.empty() ? std::string("APP") : name, value)) {
        const size_t before = narrow.size();
        if (!tagtext::removeElement(narrow, name.empty() ? std::string("APP") : name) || narrow.size() >= before) {
            std::abort();
        }
    }
    tagtext::setElement(narrow, name, raw);

    // The stored text as the library splits and marks it.
    for (const std::wstring& entry : splitEntries(document)) {
        if (entry.find(L"</APP>") == std::wstring::npos) std::abort();
        const std::wstring marked = withDefaultMark(entry);
        const std::wstring cleared = withoutDefaultMark(marked);
        if (marked != entry && cleared.size() + kDefaultAioLineLength != marked.size()) std::abort();
        entryValue(entry, L"FRIENDLY_NAME");
    }
    const std::wstring built = kDocumentOpen + document + kDocumentClose;

    // The monitor's destination table from either document form.
    DestinationTable table;
    std::optional<std::wstring> paint;
    const FixedDestinations fixed{L"E-mail", L"Fax", L"File"};
    fillDestinations(table, (flags & 1) ? built : document, fixed, (flags & 2) != 0, (flags & 4) != 0, paint);
    if (table.size() < 2) std::abort();
    isTextFileType(document.substr(0, 8));
    return 0;
}
