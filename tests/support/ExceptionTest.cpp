#include "Exception.h"

#include <gtest/gtest.h>

TEST(Win32Exception, CodeTextHasPrefixCodeAndSystemText) {
    Win32Exception error(_T("Mutex::acquire() WaitForSingleObject failed"), 5, _T(".\\Mutex"), 42);
    EXPECT_EQ(tstring(_T("Win32(5")) + systemMessageText(5), error.getCodeText());
}
