// Text of the build's width: 8-bit for the monitor, UTF-16 for the application-list library
// (the library's build defines UNICODE and _UNICODE).
#pragma once

#include <windows.h>
#include <tchar.h>

#include <string>

using tstring = std::basic_string<TCHAR>;

template <typename Integer>
inline tstring toText(Integer value) {
#ifdef UNICODE
    return std::to_wstring(value);
#else
    return std::to_string(value);
#endif
}
