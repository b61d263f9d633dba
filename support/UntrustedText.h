// Text from outside the system (a device's strings, another program's file description) made
// safe for where it goes. The job files and the stored list are tag text without escaping, so a
// '<' or '>' in such a value would open or close an element, and a line end would start a new
// line of the log. Everything else is kept as it is: these are names people read. Pure.
#pragma once

#include <algorithm>
#include <string>

template <typename Char>
std::basic_string<Char> withoutMarkup(std::basic_string<Char> text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](Char c) { return c == Char('<') || c == Char('>') || c == Char('\r') || c == Char('\n'); }),
               text.end());
    return text;
}

// A value inside a command line: also without '"', which would end or start a quoted argument.
template <typename Char>
std::basic_string<Char> forCommandLine(std::basic_string<Char> text) {
    text = withoutMarkup(std::move(text));
    text.erase(std::remove(text.begin(), text.end(), Char('"')), text.end());
    return text;
}

// Whether a stored path can go into a job file as it is: a Windows path holds no '<', '>', '"',
// '|' or control character, so a value with one was made to open or close an element or a line.
// Such a path is refused, never cleaned: a cleaned one would name another file.
template <typename Char>
bool isPathText(const std::basic_string<Char>& text) {
    return std::none_of(text.begin(), text.end(), [](Char c) {
        return c == Char('<') || c == Char('>') || c == Char('"') || c == Char('|') || (c >= Char(0) && c < Char(0x20));
    });
}
