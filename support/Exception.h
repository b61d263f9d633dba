// The one exception type of the support library: a failed system call, its code and where it
// was thrown.
#pragma once

#include "Text.h"

class Exception {
public:
    Exception(tstring message, LONG code, tstring file, LONG line);
    virtual ~Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    // The code as decimal text, empty when it is 0.
    virtual tstring getCodeText() const;
    virtual LONG getCode() const;
    virtual tstring getMessage() const;

    const tstring& file() const { return file_; }
    LONG line() const { return line_; }

protected:
    tstring message_;
    LONG code_;
    tstring file_;
    LONG line_;
};

class Win32Exception : public Exception {
public:
    using Exception::Exception;
    // "Win32(" + code + the system's text for it, empty when the code is 0.
    tstring getCodeText() const override;
};

// The system's English text for an error code on one line, or "Error getting message:<error>".
tstring systemMessageText(DWORD code);

// Every throw site of the library reads the same way; each source defines kSourceFile.
#define THROW_WIN32(message, code) \
    throw Win32Exception((message), static_cast<LONG>(code), kSourceFile, __LINE__)
