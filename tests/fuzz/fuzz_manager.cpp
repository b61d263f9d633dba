// The manager's texts from stored entries and typed input: type rows, name cleaning, the
// counter and the remove confirmation.
#include "FuzzInput.h"
#include "ManagerText.h"

#include <cstdlib>

using namespace managertext;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.byte();
    const int current = static_cast<int8_t>(input.byte());
    const int total = static_cast<int8_t>(input.byte());
    const std::wstring text = input.wideRest();
    const size_t half = text.size() / 2;
    const std::wstring first = text.substr(0, half);
    const std::wstring second = text.substr(half);

    const std::wstring cleaned = cleanFriendlyName(text);
    for (wchar_t c : cleaned) {
        if (c == L'"' || c == L'&' || c == L'\'' || c == L'<' || c == L'>') std::abort();
    }
    rowsForEntry(first, second);
    rowForCode(first);
    std::vector<bool> checked;
    for (size_t i = 0; i < 24; ++i) checked.push_back(((flags >> (i % 8)) & 1) != 0);
    supportedCodes(checked);
    firstChecked(checked);
    displayTypeName(flags % 30, (flags & 0x80) != 0);
    positionCounter(current, total, first, (flags & 1) != 0);
    removeConfirmation(first, second);
    fileNameOf(text);
    isRightToLeftLanguage(first);
    return 0;
}
