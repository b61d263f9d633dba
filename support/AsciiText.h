// The ASCII letters folded alone, the same under every locale and code page: the names compared
// this way (switches, file types, program names, prefixes) are ASCII, and a locale's rules must
// never make two different names equal. Pure: no system headers, so the fuzzed core uses it too.
#pragma once

#include <string>
#include <string_view>

template <typename Char>
constexpr Char asciiLower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr Char asciiUpper(Char c) {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
std::basic_string<Char> asciiLowered(std::basic_string<Char> text) {
    for (Char& c : text) c = asciiLower(c);
    return text;
}

template <typename Char>
std::basic_string<Char> asciiUppered(std::basic_string<Char> text) {
    for (Char& c : text) c = asciiUpper(c);
    return text;
}

namespace ascii_text {
template <typename Char>
bool equalIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}
}  // namespace ascii_text

inline bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) { return ascii_text::equalIgnoringCase(a, b); }
inline bool equalIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) { return ascii_text::equalIgnoringCase(a, b); }
