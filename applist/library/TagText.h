// The list's tag operations. The list is plain text searched for literal tags, never parsed:
// no escaping, and the first open and first close tag are found independently. One template
// serves the 8-bit and the 16-bit text.
#pragma once

#include <algorithm>
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

namespace detail {
// Where `tag` first starts in `kept` followed by `text` from `from` on, counted from the start of
// `kept`; npos when nowhere. `kept` holds no whole tag, so only a tag across the join can start in it.
template <typename Char>
size_t findAcrossJoin(const std::basic_string<Char>& kept, const std::basic_string<Char>& text, size_t from,
                      const std::basic_string<Char>& tag) {
    const size_t joined = kept.size();
    for (size_t start = joined >= tag.size() ? joined - tag.size() + 1 : 0; start < joined; ++start) {
        const size_t inKept = joined - start;
        if (text.size() - from < tag.size() - inKept) continue;
        if (kept.compare(start, inKept, tag, 0, inKept) == 0 &&
            text.compare(from, tag.size() - inKept, tag, inKept, tag.size() - inKept) == 0) {
            return start;
        }
    }
    const size_t found = text.find(tag, from);
    return found == std::basic_string<Char>::npos ? found : joined + found - from;
}
}  // namespace detail

// Hands `visit` the value of every element of `name` that a loop of getElement and removeElement
// over `text` would take, in the same order, odd texts included, in linear time: that loop
// searches from the start and erases at the front, so a long list costs quadratic time. The text
// before the first tag of a step holds no tag and is only kept for the join a removal makes with
// what follows, where a new tag may form.
template <typename Char, typename Visit>
void drainElements(const std::basic_string<Char>& text, const Char* name, Visit visit) {
    using String = std::basic_string<Char>;
    const String open = openTag(String(name));
    const String close = closeTag(String(name));
    String kept;
    size_t rest = 0;  // the text now is kept followed by text from rest on
    for (;;) {
        const size_t start = detail::findAcrossJoin(kept, text, rest, open);
        const size_t end = detail::findAcrossJoin(kept, text, rest, close);
        if (start == String::npos || end == String::npos) return;
        // A value starts after its open tag, so it lies wholly after the join.
        const size_t from = start + open.size();
        visit(end > from ? text.substr(rest + from - kept.size(), end - from) : String());
        const size_t first = std::min(start, end);
        const size_t last = start < end ? end + close.size() : start + open.size();
        const size_t resume = rest + last - kept.size();
        if (first < kept.size()) {
            kept.resize(first);
        } else {
            kept.append(text, rest, first - kept.size());
        }
        rest = resume;
    }
}

// The element's value, or empty text when it is missing.
template <typename Char>
std::basic_string<Char> elementOrEmpty(const std::basic_string<Char>& text, const Char* name) {
    std::basic_string<Char> value;
    getElement(text, name, value);
    return value;
}

}  // namespace tagtext
