#include "Exception.h"

#include <algorithm>
#include <utility>

Exception::Exception(tstring message, LONG code, tstring file, LONG line)
    : message_(std::move(message)), code_(code), file_(std::move(file)), line_(line) {}

tstring Exception::getCodeText() const { return code_ == 0 ? tstring() : toText(code_); }

LONG Exception::getCode() const { return code_; }

tstring Exception::getMessage() const { return message_; }

tstring Win32Exception::getCodeText() const {
    if (code_ == 0) return tstring();
    return _T("Win32(") + toText(code_) + systemMessageText(static_cast<DWORD>(code_));
}

tstring systemMessageText(DWORD code) {
    TCHAR buffer[256] = {};
    DWORD length = FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 code, 1033, buffer, 256, nullptr);
    if (length == 0) {
        DWORD error = GetLastError();
        return _T("Error getting message:") + toText(error);
    }
    tstring text(buffer, std::min<DWORD>(length, 255));
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](TCHAR c) { return c == _T('\r') || c == _T('\n'); }),
               text.end());
    return text;
}
