// Stored application lists with their pieces cut, doubled, nested or broken, the way a broken
// installer or a hand edit could leave them; the same seed gives the same lists.
#pragma once

#include "AppListText.h"

#include <cstdint>
#include <iterator>
#include <string>

namespace {
uint32_t mangleRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::wstring mangledEntry(const std::wstring& name, const std::wstring& path, bool isDefault) {
    return testing_support::appEntryText(name, path, L"JPG", isDefault, L"JPG,BMP,TXT");
}

// A stored text with some of its pieces cut, doubled, nested or broken.
std::wstring mangledList(uint32_t& state, uint64_t round) {
    static const wchar_t* const pieces[] = {L"<APP>", L"</APP>", L"<FRIENDLY_NAME>", L"</FRIENDLY_NAME>", L"<PATH>",
                                            L"</PATH>", L"<APPLIST>", L"</APPLIST>", L"<DEFAULT_AIO_APP>true",
                                            L"</DEFAULT_AIO_APP>", L"<", L">", L"\r\n", L"\u4e2d\u6587", L"\u00e9"};
    std::wstring text = mangledEntry(L"Viewer", L"C:\\v.exe", false) + mangledEntry(L"Editor", L"C:\\e.exe", true) +
                        mangledEntry(L"Reader", L"C:\\r.exe", false);
    if (round % 1000 == 7) {  // now and then a name of 100 000 characters
        text += mangledEntry(std::wstring(100000, L'N'), L"C:\\long.exe", false);
    }
    for (uint32_t changes = 1 + mangleRandom(state) % 6; changes-- > 0;) {
        const size_t at = text.empty() ? 0 : mangleRandom(state) % text.size();
        switch (mangleRandom(state) % 5) {
            case 0:  // cut a span
                text.erase(at, mangleRandom(state) % 40);
                break;
            case 1:  // double a span
                text.insert(at, text.substr(at, mangleRandom(state) % 60));
                break;
            case 2:  // a tag or text where it doesn't belong
                text.insert(at, pieces[mangleRandom(state) % std::size(pieces)]);
                break;
            case 3:  // an APP inside an APP
                text.insert(at, mangledEntry(L"Nested", L"C:\\n.exe", mangleRandom(state) % 2 == 0));
                break;
            default:  // an embedded NUL
                text.insert(at, 1, L'\0');
                break;
        }
    }
    return text;
}

}  // namespace
