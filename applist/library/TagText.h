// The list's tag operations. The list is plain text searched for literal tags, never parsed:
// no escaping, and the first open and first close tag are found independently. One template
// serves the 8-bit and the 16-bit text.
#pragma once

#include <string>

namespace tagtext {

template <typename Char>
std::basic_string<Char> openTag(const std::basic_string<Char>& name) {
    std::basic_string<Char> tag(1, Char('<'));
    tag += name;
    tag += Char('>');
    return tag;
}

template <typename Char>
std::basic_string<Char> closeTag(const std::basic_string<Char>& name) {
    std::basic_string<Char> tag(1, Char('<'));
    tag += Char('/');
    tag += name;
    tag += Char('>');
    return tag;
}

// The value between the first open tag and the first close tag of `name`. False, with `value`
// unchanged, when either tag is missing. A close tag before the open tag gives an empty value.
template <typename Char>
bool getElement(const std::basic_string<Char>& text, const std::basic_string<Char>& name,
                std::basic_string<Char>& value) {
    const std::basic_string<Char> open = openTag(name);
    const size_t start = text.find(open);
    const size_t end = text.find(closeTag(name));
    if (start == std::basic_string<Char>::npos || end == std::basic_string<Char>::npos) return false;
    const size_t from = start + open.size();
    value = end > from ? text.substr(from, end - from) : std::basic_string<Char>();
    return true;
}

// Erases from the first open tag through the first close tag. When the close tag comes first,
// the span between them still goes, so a repeated remove always shrinks the text.
template <typename Char>
bool removeElement(std::basic_string<Char>& text, const std::basic_string<Char>& name) {
    const size_t start = text.find(openTag(name));
    const std::basic_string<Char> close = closeTag(name);
    const size_t end = text.find(close);
    if (start == std::basic_string<Char>::npos || end == std::basic_string<Char>::npos) return false;
    const size_t first = start < end ? start : end;
    const size_t last = start < end ? end + close.size() : start + openTag(name).size();
    text.erase(first, last - first);
    return true;
}

// Removes the element and appends it anew at the end; nothing for an empty name.
template <typename Char>
void setElement(std::basic_string<Char>& text, const std::basic_string<Char>& name,
                const std::basic_string<Char>& value) {
    if (name.empty()) return;
    removeElement(text, name);
    text += openTag(name);
    text += value;
    text += closeTag(name);
}

template <typename Char>
bool getElement(const std::basic_string<Char>& text, const Char* name, std::basic_string<Char>& value) {
    return getElement(text, std::basic_string<Char>(name), value);
}
template <typename Char>
bool removeElement(std::basic_string<Char>& text, const Char* name) {
    return removeElement(text, std::basic_string<Char>(name));
}
template <typename Char>
void setElement(std::basic_string<Char>& text, const Char* name, const std::basic_string<Char>& value) {
    setElement(text, std::basic_string<Char>(name), value);
}

// The element's value, or empty text when it is missing.
template <typename Char>
std::basic_string<Char> elementOrEmpty(const std::basic_string<Char>& text, const Char* name) {
    std::basic_string<Char> value;
    getElement(text, name, value);
    return value;
}

}  // namespace tagtext
