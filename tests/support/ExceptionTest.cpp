#include "Exception.h"

#include "SupportTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
// The system's own text for a code, line breaks included; empty when it has none.
tstring rawSystemText(DWORD code) {
    TCHAR buffer[256] = {};
    DWORD length = FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 1033,
                                 buffer, 256, nullptr);
    return tstring(buffer, length);
}

// A code with the customer bit set: the system table never has text for it.
const DWORD kCodeWithoutText = 0x2000FFFF;
}  // namespace

TEST(Win32Exception, CodeTextHasPrefixCodeAndSystemText) {
    Win32Exception error(_T("Mutex::acquire() WaitForSingleObject failed"), 5, _T(".\\Mutex"), 42);
    EXPECT_EQ(tstring(_T("Win32(5")) + systemMessageText(5), error.getCodeText());
    // No parenthesis or separator after the code. Windows says "Access is denied.", Wine
    // "Access denied."; both follow the code at once.
    const tstring text = error.getCodeText();
    EXPECT_TRUE(text == _T("Win32(5Access is denied.") || text == _T("Win32(5Access denied.")) << narrow(text);
}

TEST(Win32Exception, SystemTextLosesEveryLineBreakAndNothingElse) {
    const tstring raw = rawSystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_NE(tstring::npos, raw.find_first_of(_T("\r\n"))) << "expected the system text to end in a line break: "
                                                            << narrow(raw);
    // Every code the system has text for: the same characters in the same order, minus CR and LF.
    int checked = 0;
    for (DWORD code = 0; code < 16000; ++code) {
        tstring expected = rawSystemText(code);
        if (expected.empty()) continue;
        expected.erase(std::remove_if(expected.begin(), expected.end(),
                                      [](TCHAR c) { return c == _T('\r') || c == _T('\n'); }),
                       expected.end());
        ASSERT_EQ(expected, systemMessageText(code)) << "code " << code;
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

TEST(Win32Exception, CodeWithoutSystemTextReportsTheLookupError) {
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(rawSystemText(kCodeWithoutText).empty());
    const DWORD lookupError = GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), lookupError);

    EXPECT_EQ(_T("Error getting message:") + toText(lookupError), systemMessageText(kCodeWithoutText));
    Win32Exception error(_T("X::y()"), static_cast<LONG>(kCodeWithoutText), _T(".\\X"), 1);
    EXPECT_EQ(_T("Win32(536936447Error getting message:") + toText(lookupError), error.getCodeText());
}

TEST(Exception, CodeTextIsDecimalOrEmptyForZero) {
    EXPECT_EQ(tstring(), Win32Exception(_T("X::y()"), 0, _T(".\\X"), 3).getCodeText());
    EXPECT_EQ(tstring(_T("123")), Exception(_T("X::y()"), 123, _T(".\\X"), 3).getCodeText());
    EXPECT_EQ(tstring(), Exception(_T("X::y()"), 0, _T(".\\X"), 3).getCodeText());
    EXPECT_EQ(tstring(_T("-5")), Exception(_T("X::y()"), -5, tstring(), 0).getCodeText());
}

TEST(Exception, CopiesKeepAllFourFieldsAndTheCodeText) {
    Win32Exception original(_T("RegistryKey::regOpenKeyEx()"), 2, _T(".\\RegistryKey"), 77);
    Win32Exception copy(original);
    Win32Exception assigned(_T("other"), 9, _T(".\\Other"), 1);
    assigned = original;
    for (const Win32Exception* error : {&copy, &assigned}) {
        EXPECT_EQ(tstring(_T("RegistryKey::regOpenKeyEx()")), error->getMessage());
        EXPECT_EQ(2, error->getCode());
        EXPECT_EQ(tstring(_T(".\\RegistryKey")), error->file());
        EXPECT_EQ(77, error->line());
        EXPECT_EQ(original.getCodeText(), error->getCodeText());
    }

    // A catch site keeps a copy made from the reference it caught.
    Win32Exception kept =
        thrownBy([] { throw Win32Exception(_T("Mutex::release() ReleaseMutex failed"), 288, _T(".\\Mutex"), 9); });
    EXPECT_EQ(tstring(_T("Mutex::release() ReleaseMutex failed")), kept.getMessage());
    EXPECT_EQ(288, kept.getCode());
    EXPECT_EQ(tstring(_T(".\\Mutex")), kept.file());
    EXPECT_EQ(9, kept.line());
}
