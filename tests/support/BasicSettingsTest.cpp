#include "BasicSettings.h"

#include "SupportTestHelpers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>

using testing_support::TestRegistryKey;

namespace {
const HKEY kRoot = HKEY_LOCAL_MACHINE;
}  // namespace

TEST(BasicSettings, RootPathsEndInSeparatorAndSplitSharedFromLocal) {
    BasicSettings plain(_T("Software\\Vendor\\Model\\Scan"), tstring());
    EXPECT_EQ(tstring(_T("Software\\Vendor\\Model\\Scan\\")), plain.basePath());
    EXPECT_EQ(plain.basePath(), plain.rootPath(false));
    EXPECT_EQ(plain.basePath(), plain.rootPath(true));
    EXPECT_EQ(tstring(_T("Software\\X\\")), BasicSettings(_T("Software\\X\\"), tstring()).basePath());

    for (const TCHAR* instance : {_T("abc"), _T("abc\\")}) {
        BasicSettings settings(_T("Software\\X"), instance);
        EXPECT_EQ(tstring(_T("abc\\")), settings.instanceSubkey());
        EXPECT_EQ(tstring(_T("Software\\X\\Shared\\")), settings.rootPath(true));
        EXPECT_EQ(tstring(_T("Software\\X\\Local\\abc\\")), settings.rootPath(false));
    }
}

TEST(BasicSettings, DwordOrCreateStoresTheFirstDefaultInTheSubkey) {
    TestRegistryKey test;
    rawCreateKey(kRoot, test.path());
    BasicSettings settings(test.path(), tstring());

    DWORD value = 0xdeadbeef;
    ASSERT_TRUE(settings.getDwordOrCreate(_T("logger"), _T("startLog"), value, 7, false)) << GetLastError();
    EXPECT_EQ(7u, value);
    EXPECT_EQ(7u, rawDword(kRoot, test.sub(_T("logger")), _T("startLog")));

    value = 0xdeadbeef;
    ASSERT_TRUE(settings.getDwordOrCreate(_T("logger"), _T("startLog"), value, 9, false)) << GetLastError();
    EXPECT_EQ(7u, value) << "the second default must not replace the stored one";
    EXPECT_EQ(7u, rawDword(kRoot, test.sub(_T("logger")), _T("startLog")));
}

TEST(BasicSettings, MissingBaseKeyCreatesNothingAndLeavesOutputsUntouched) {
    TestRegistryKey test;
    BasicSettings settings(test.path(), _T("abc"));

    DWORD value = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(settings.getDwordOrCreate(_T("logger"), _T("startLog"), value, 7, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0xdeadbeefu, value);

    tstring text = _T("untouched");
    std::vector<BYTE> bytes = {0xde, 0xad};
    EXPECT_FALSE(settings.getStringOrCreate(_T("logger"), _T("Name"), text, _T("default"), true));
    EXPECT_FALSE(settings.getBinaryOrCreate(_T("logger"), _T("Data"), bytes, {1, 2, 3}, false));
    EXPECT_FALSE(settings.setDword(_T("logger"), _T("startLog"), 1, false));
    EXPECT_FALSE(settings.setString(_T("logger"), _T("Name"), _T("x"), true));
    EXPECT_EQ(tstring(_T("untouched")), text);
    EXPECT_EQ((std::vector<BYTE>{0xde, 0xad}), bytes);
    EXPECT_FALSE(rawKeyExists(kRoot, test.path()));
}

TEST(BasicSettings, ValuesRoundTripAndDeleteCleanly) {
    TestRegistryKey test;
    rawCreateKey(kRoot, test.path());
    BasicSettings settings(test.path(), tstring());

    ASSERT_TRUE(settings.setString(_T("sub"), _T("Name"), _T("first"), false)) << GetLastError();
    ASSERT_TRUE(settings.setDword(_T("sub"), _T("Count"), 3, false)) << GetLastError();
    tstring text;
    DWORD value = 0;
    EXPECT_TRUE(settings.getString(_T("sub"), _T("Name"), text, false));
    EXPECT_EQ(tstring(_T("first")), text);
    EXPECT_TRUE(settings.getDword(_T("sub"), _T("Count"), value, false));
    EXPECT_EQ(3u, value);
    EXPECT_TRUE(settings.getStringOrCreate(_T("sub"), _T("Name"), text, _T("default"), false));
    EXPECT_EQ(tstring(_T("first")), text);
    EXPECT_TRUE(settings.getStringOrCreate(_T("sub"), _T("Other"), text, _T("default"), false));
    EXPECT_EQ(tstring(_T("default")), text);

    const std::vector<BYTE> data = {0, 1, 2, 0xff};
    std::vector<BYTE> bytes;
    EXPECT_TRUE(settings.getBinaryOrCreate(_T("sub"), _T("Data"), bytes, data, false));
    EXPECT_EQ(data, bytes);
    bytes.clear();
    EXPECT_TRUE(settings.getBinary(_T("sub"), _T("Data"), bytes, false));
    EXPECT_EQ(data, bytes);

    // Plain readers of missing values or keys: false, the system's reason, output untouched.
    value = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(settings.getDword(_T("sub"), _T("Missing"), value, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0xdeadbeefu, value);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(settings.getString(_T("nokey"), _T("Name"), text, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(rawKeyExists(kRoot, test.sub(_T("nokey"))));
    // A value of the wrong type is a failure too, not a value.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(settings.getDword(_T("sub"), _T("Name"), value, false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
    EXPECT_EQ(0xdeadbeefu, value);

    std::vector<tstring> names;
    EXPECT_TRUE(settings.getValueNames(_T("sub"), names, false));
    EXPECT_EQ((std::set<tstring>{_T("Name"), _T("Count"), _T("Other"), _T("Data")}),
              std::set<tstring>(names.begin(), names.end()));

    EXPECT_TRUE(settings.deleteValue(_T("sub"), _T("Other"), false));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(settings.deleteValue(_T("sub"), _T("Other"), false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    names.clear();
    EXPECT_TRUE(settings.getValueNames(_T("sub"), names, false));
    EXPECT_EQ(3u, names.size());

    rawCreateKey(kRoot, test.sub(_T("sub\\deeper")));
    EXPECT_TRUE(settings.deleteKey(_T("sub"), false));
    EXPECT_FALSE(rawKeyExists(kRoot, test.sub(_T("sub"))));
    EXPECT_TRUE(rawKeyExists(kRoot, test.path()));
    EXPECT_TRUE(settings.deleteKey(_T("sub"), false)) << "a missing key counts as deleted";

    ASSERT_TRUE(settings.setDword(_T("sub"), _T("Count"), 4, false));
    EXPECT_TRUE(settings.deleteAll());
    EXPECT_FALSE(rawKeyExists(kRoot, test.path()));
    EXPECT_FALSE(settings.setDword(_T("sub"), _T("Count"), 5, false)) << "the settings root is gone";
}

TEST(BasicSettings, InstanceKeepsSharedAndLocalValuesApart) {
    TestRegistryKey test;
    rawCreateKey(kRoot, test.path());
    BasicSettings settings(test.path(), _T("abc"));
    ASSERT_TRUE(settings.setDword(_T("sub"), _T("Value"), 1, true)) << GetLastError();
    ASSERT_TRUE(settings.setDword(_T("sub"), _T("Value"), 2, false)) << GetLastError();
    EXPECT_EQ(1u, rawDword(kRoot, test.sub(_T("Shared\\sub")), _T("Value")));
    EXPECT_EQ(2u, rawDword(kRoot, test.sub(_T("Local\\abc\\sub")), _T("Value")));

    DWORD value = 0;
    EXPECT_TRUE(settings.getDword(_T("sub"), _T("Value"), value, true));
    EXPECT_EQ(1u, value);
    EXPECT_TRUE(settings.getDword(_T("sub"), _T("Value"), value, false));
    EXPECT_EQ(2u, value);
}
