// The list texts from the registry and the library: tag operations in both widths, APP-entry
// splitting and marking, the document, and the monitor's reading of it into destinations,
// compared with the element-by-element reading it replaced.
#include "AppEntry.h"
#include "DestinationTable.h"
#include "FuzzInput.h"
#include "ReferenceDestinations.h"
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

    // The monitor's destination table from either document form, record for record as the
    // quadratic reading gives it.
    if (!reference::readsAlike((flags & 1) ? built : document)) std::abort();
    isTextFileType(document.substr(0, 8));
    return 0;
}
