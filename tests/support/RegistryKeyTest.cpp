#include "RegistryKey.h"
#include "RegistryRead.h"

#include "Exception.h"
#include "SupportTestHelpers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <set>
#include <thread>

using testing_support::TestRegistryKey;

namespace {
const HKEY kRoot = HKEY_LOCAL_MACHINE;
const tstring kSourceFile = _T(".\\RegistryKey");

void expectThrown(const Win32Exception& error, const tstring& message, LONG code) {
    EXPECT_EQ(message, error.getMessage());
    EXPECT_EQ(code, error.getCode()) << narrow(error.getMessage());
    EXPECT_EQ(kSourceFile, error.file());
    EXPECT_GT(error.line(), 0);
}
}  // namespace

TEST(RegistryKey, WritesAndReadsDwordAndStringValues) {
    TestRegistryKey test;
    {
        RegistryKey key(test.path(), true, kRoot);
        EXPECT_EQ(static_cast<REGSAM>(KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY), key.access())
            << "no more than what Everyone has on a shared key";
        key.setValue(_T("Number"), DWORD{0x12345678});
        key.setValue(_T("Text"), tstring(_T("hello world")));
        key.setValue(_T("Empty"), tstring());
    }
    // Stored with the plain types: REG_DWORD, and REG_SZ with one terminating NUL.
    EXPECT_EQ(0x12345678u, rawDword(kRoot, test.path(), _T("Number")));
    UniqueKey raw = rawCreateKey(kRoot, test.path());
    DWORD type = REG_NONE;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueEx(raw.get(), _T("Text"), nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(12 * sizeof(TCHAR), size);

    RegistryKey key(test.path(), false, kRoot);
    DWORD number = 0xdeadbeef;
    tstring text = _T("untouched");
    ASSERT_TRUE(key.getValue(_T("Number"), number));
    EXPECT_EQ(0x12345678u, number);
    ASSERT_TRUE(key.getValue(_T("Text"), text));
    EXPECT_EQ(tstring(_T("hello world")), text);
    ASSERT_TRUE(key.getValue(_T("Empty"), text));
    EXPECT_EQ(tstring(), text);

    key.setValue(_T("Number"), DWORD{0});
    ASSERT_TRUE(key.getValue(_T("Number"), number));
    EXPECT_EQ(0u, number);
}

TEST(RegistryKey, MissingValueLeavesOutputUntouched) {
    TestRegistryKey test;
    RegistryKey key(test.path(), true, kRoot);
    DWORD number = 0xdeadbeef;
    tstring text = _T("untouched");
    EXPECT_FALSE(key.getValue(_T("Missing"), number));
    EXPECT_EQ(0xdeadbeefu, number);
    EXPECT_FALSE(key.getValue(_T("Missing"), text));
    EXPECT_EQ(tstring(_T("untouched")), text);
}

TEST(RegistryKey, WrongValueTypeThrowsWithNameAndTypeSuffix) {
    TestRegistryKey test;
    RegistryKey key(test.path(), true, kRoot);
    const tstring text = _T("not a number");
    const DWORD number = 7;
    const BYTE fourBytes[4] = {1, 2, 3, 4};
    const TCHAR multi[] = _T("a\0b\0");
    rawSetValue(key.handle(), _T("Text"), REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(TCHAR)));
    rawSetValue(key.handle(), _T("Bytes"), REG_BINARY, fourBytes, sizeof(fourBytes));
    rawSetValue(key.handle(), _T("Number"), REG_DWORD, &number, sizeof(number));
    rawSetValue(key.handle(), _T("Multi"), REG_MULTI_SZ, multi, sizeof(multi));

    DWORD outNumber = 0xdeadbeef;
    tstring outText = _T("untouched");
    // Text longer than 4 bytes does not fit the DWORD buffer: the query's own status is the code.
    expectThrown(thrownBy([&] { key.getValue(_T("Text"), outNumber); }),
                 _T("RegistryKey::getValue(ulong)Text : incorrect value type"), ERROR_MORE_DATA);
    // Four bytes of another type read fine: only the type is wrong, and the code is 0.
    expectThrown(thrownBy([&] { key.getValue(_T("Bytes"), outNumber); }),
                 _T("RegistryKey::getValue(ulong)Bytes : incorrect value type"), 0);
    expectThrown(thrownBy([&] { key.getValue(_T("Number"), outText); }),
                 _T("RegistryKey::getValue(string) Number : incorrect value type"), 0);
    expectThrown(thrownBy([&] { key.getValue(_T("Multi"), outText); }),
                 _T("RegistryKey::getValue(string) Multi : incorrect value type"), 0);
    EXPECT_EQ(0xdeadbeefu, outNumber);
    EXPECT_EQ(tstring(_T("untouched")), outText);
}

TEST(RegistryKey, TextComesBackUnexpandedUpToFirstNulOrStoredLength) {
    TestRegistryKey test;
    RegistryKey key(test.path(), true, kRoot);
    const tstring expandable = _T("%SystemRoot%\\system32");
    const TCHAR withoutNul[] = {_T('a'), _T('b'), _T('c')};
    const TCHAR nulInside[] = {_T('a'), _T('b'), 0, _T('c'), _T('d'), 0};
    rawSetValue(key.handle(), _T("Path"), REG_EXPAND_SZ, expandable.c_str(),
                static_cast<DWORD>((expandable.size() + 1) * sizeof(TCHAR)));
    rawSetValue(key.handle(), _T("NoNul"), REG_SZ, withoutNul, sizeof(withoutNul));
    rawSetValue(key.handle(), _T("NulInside"), REG_SZ, nulInside, sizeof(nulInside));
    rawSetValue(key.handle(), _T("NoData"), REG_SZ, nullptr, 0);

    tstring text;
    ASSERT_TRUE(key.getValue(_T("Path"), text));
    EXPECT_EQ(expandable, text);
    ASSERT_TRUE(key.getValue(_T("NoNul"), text));
    EXPECT_EQ(tstring(_T("abc")), text);
    ASSERT_TRUE(key.getValue(_T("NulInside"), text));
    EXPECT_EQ(tstring(_T("ab")), text);
    ASSERT_TRUE(key.getValue(_T("NoData"), text));
    EXPECT_EQ(tstring(), text);
}

TEST(RegistryKey, ChildrenNamesAppendAtMostMaxCount) {
    TestRegistryKey test;
    RegistryKey key(test.path(), true, kRoot);
    std::set<tstring> created;
    for (int i = 0; i < 150; ++i) {
        TCHAR name[16];
        _stprintf(name, _T("Child%03d"), i);
        rawCreateKey(kRoot, test.sub(name));
        created.insert(name);
    }

    std::vector<tstring> names = {_T("Existing")};
    key.getChildrenNames(names, 100);
    ASSERT_EQ(101u, names.size());
    EXPECT_EQ(tstring(_T("Existing")), names[0]);
    std::set<tstring> distinct(names.begin() + 1, names.end());
    EXPECT_EQ(100u, distinct.size());
    for (const tstring& name : distinct) EXPECT_EQ(1u, created.count(name)) << narrow(name);

    // A larger count stops at the end of the enumeration; zero enumerates nothing.
    std::vector<tstring> all;
    key.getChildrenNames(all, 1000);
    EXPECT_EQ(created, std::set<tstring>(all.begin(), all.end()));
    EXPECT_EQ(150u, all.size());
    std::vector<tstring> none;
    key.getChildrenNames(none, 0);
    EXPECT_TRUE(none.empty()) << none.size();
}

TEST(RegistryKey, MissingKeyWithoutCreateThrowsNotFoundAndCreatesNothing) {
    TestRegistryKey test;
    expectThrown(thrownBy([&] { RegistryKey key(test.path(), false, kRoot); }), _T("RegistryKey::regOpenKeyEx()"),
                 ERROR_FILE_NOT_FOUND);
    expectThrown(thrownBy([&] { RegistryKey32 key(test.path(), false, kRoot); }), _T("RegistryKey::regOpenKeyEx()"),
                 ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(rawKeyExists(kRoot, test.path()));
}

TEST(RegistryKey, CreatesWholePathAndReopensExistingKey) {
    TestRegistryKey test;
    {
        RegistryKey key(test.sub(_T("A\\B\\C")), true, kRoot);
        key.setValue(_T("Kept"), DWORD{5});
    }
    EXPECT_TRUE(rawKeyExists(kRoot, test.sub(_T("A"))));
    EXPECT_TRUE(rawKeyExists(kRoot, test.sub(_T("A\\B"))));
    EXPECT_TRUE(rawKeyExists(kRoot, test.sub(_T("A\\B\\C"))));
    // Creation allowed on an existing key opens it as it is.
    RegistryKey again(test.sub(_T("A\\B\\C")), true, kRoot);
    DWORD kept = 0xdeadbeef;
    EXPECT_TRUE(again.getValue(_T("Kept"), kept));
    EXPECT_EQ(5u, kept);
}

TEST(RegistryKey, CreatedKeyLetsEveryoneUseButNotAdministerIt) {
    TestRegistryKey test;
    // The mask the application-list store creates its key with, and the default one.
    for (REGSAM access : {static_cast<REGSAM>(0x1F), static_cast<REGSAM>(0)}) {
        SCOPED_TRACE(access);
        const tstring path = test.sub(access != 0 ? _T("Store") : _T("Settings"));
        {
            std::unique_ptr<RegistryKey> key = access != 0 ? std::make_unique<RegistryKey>(path, true, kRoot, access)
                                                           : std::make_unique<RegistryKey>(path, true, kRoot);
            RegistryKey child(path + _T("\\Child"), true, kRoot);
        }
        UniqueKey reader;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(kRoot, path.c_str(), 0, READ_CONTROL, reader.put()));
        expectSharedRights(securityInfoAces(reader.get(), SE_REGISTRY_KEY), KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                           KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE);
        expectStandardUserRights(kRoot, path);
        // A standard user's own opens through the class still work on the narrowed key.
        AsStandardUser user(_T("S-1-5-32-544"));
        ASSERT_TRUE(user.active());
        RegistryKey asUser(path, true, kRoot);
        asUser.setValue(_T("Set"), DWORD{1});
        RegistryKey childAsUser(path + _T("\\Child"), true, kRoot);
        RegistryKey grandchild(path + _T("\\Child\\Grandchild"), true, kRoot);
    }
}

TEST(RegistryKey, KeysOfEarlierVersionsGrantingEveryoneAllStillOpenForAStandardUser) {
    TestRegistryKey test;
    PSECURITY_DESCRIPTOR old = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptor(_T("D:(A;CI;GA;;;WD)"), SDDL_REVISION_1, &old,
                                                                    nullptr));
    UniqueLocal oldMemory(old);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), old, FALSE};
    UniqueKey created;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(kRoot, test.path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, &attributes,
                                            created.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(created.get(), DACL_SECURITY_INFORMATION, old));
    created.reset();
    AsStandardUser user(_T("S-1-5-32-544"));
    ASSERT_TRUE(user.active());
    RegistryKey key(test.path(), true, kRoot);
    key.setValue(_T("Kept"), DWORD{3});
    RegistryKey child(test.sub(_T("Child")), true, kRoot);
    DWORD kept = 0;
    RegistryKey reader(test.path(), false, kRoot, KEY_READ);
    EXPECT_TRUE(reader.getValue(_T("Kept"), kept));
    EXPECT_EQ(3u, kept);
}

TEST(RegistryKey, AccessMaskLimitsWhatTheKeyAllows) {
    TestRegistryKey test;
    {
        RegistryKey key(test.path(), true, kRoot);
        key.setValue(_T("Number"), DWORD{7});
        key.setValue(_T("Text"), tstring(_T("kept")));
        rawCreateKey(kRoot, test.sub(_T("Child")));
    }

    RegistryKey reader(test.path(), false, kRoot, KEY_READ);
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ), reader.access());
    DWORD number = 0;
    EXPECT_TRUE(reader.getValue(_T("Number"), number));
    EXPECT_EQ(7u, number);
    expectThrown(thrownBy([&] { reader.setValue(_T("Number"), DWORD{8}); }),
                 _T("RegistryKey::setValue(ulong): Unable to set Number"), ERROR_ACCESS_DENIED);
    expectThrown(thrownBy([&] { reader.setValue(_T("Text"), tstring(_T("changed"))); }),
                 _T("RegistryKey::setValue(string): Unable to set Text"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(7u, rawDword(kRoot, test.path(), _T("Number")));

    // A key that may not be queried: the failed query reports no type, so the suffix is there too.
    RegistryKey writer(test.path(), false, kRoot, KEY_SET_VALUE);
    DWORD outNumber = 0xdeadbeef;
    tstring outText = _T("untouched");
    expectThrown(thrownBy([&] { writer.getValue(_T("Number"), outNumber); }),
                 _T("RegistryKey::getValue(ulong)Number : incorrect value type"), ERROR_ACCESS_DENIED);
    expectThrown(thrownBy([&] { writer.getValue(_T("Text"), outText); }),
                 _T("RegistryKey::getValue(string) Text : incorrect value type"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(0xdeadbeefu, outNumber);
    EXPECT_EQ(tstring(_T("untouched")), outText);
    std::vector<tstring> names;
    expectThrown(thrownBy([&] { writer.getChildrenNames(names, 10); }), _T("RegistryKey::getChildrenNames()"),
                 ERROR_ACCESS_DENIED);
}

TEST(RegistryKey, CumulativeKeyPathsListEachPrefixInOrder) {
    const std::vector<tstring> expected = {_T("A"), _T("A\\B"), _T("A\\B\\C")};
    EXPECT_EQ(expected, cumulativeKeyPaths(_T("A\\B\\C")));
    EXPECT_EQ(std::vector<tstring>{_T("Single")}, cumulativeKeyPaths(_T("Single")));
}

TEST(RegistryKey32, ReachesThe32BitViewNotTheNativeOne) {
    // Wine runs a 32-bit program under its 64-bit emulation layer, as a 64-bit Windows does; a
    // 64-bit program names the 32-bit view itself. Only a 32-bit system has one view alone.
    if (sizeof(void*) == 4 && !isWow64Process()) GTEST_SKIP() << "a 32-bit system: one view only";
    EXPECT_EQ(sizeof(void*) == 4, isWow64Process());
    EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), registryView32());

    // The default view is the process's own: the 64-bit one for a 64-bit build.
    const REGSAM ownView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    TestRegistryKey plain(kRoot, ownView);
    { RegistryKey key(plain.path(), true, kRoot); }
    EXPECT_TRUE(rawKeyExists(kRoot, plain.path(), ownView));
    EXPECT_FALSE(rawKeyExists(kRoot, plain.path(), otherView));

    TestRegistryKey native(kRoot, KEY_WOW64_64KEY);
    rawCreateKey(kRoot, native.path(), KEY_WOW64_64KEY);
    EXPECT_FALSE(RegistryKey32::keyExists(native.path(), kRoot));
    expectThrown(thrownBy([&] { RegistryKey32 key(native.path(), false, kRoot); }), _T("RegistryKey::regOpenKeyEx()"),
                 ERROR_FILE_NOT_FOUND);

    TestRegistryKey wow(kRoot, KEY_WOW64_32KEY);
    rawCreateKey(kRoot, wow.path(), KEY_WOW64_32KEY);
    EXPECT_TRUE(RegistryKey32::keyExists(wow.path(), kRoot));

    TestRegistryKey created(kRoot, KEY_WOW64_32KEY);
    {
        RegistryKey32 key(created.path(), true, kRoot);
        EXPECT_EQ(static_cast<REGSAM>(KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY), key.access());
    }
    EXPECT_TRUE(rawKeyExists(kRoot, created.path(), KEY_WOW64_32KEY));
    EXPECT_FALSE(rawKeyExists(kRoot, created.path(), KEY_WOW64_64KEY));

    EXPECT_FALSE(RegistryKey32::keyExists(created.sub(_T("Missing")), kRoot));
}

TEST(RegistryKey, AValueGrowingWhileItIsReadComesBackWhole) {
    // Another process may store a longer list between the size query and the read: the read
    // must give one of the stored texts whole, never fail or give an empty text.
    TestRegistryKey test;
    RegistryKey writer(test.path(), true, kRoot);
    const tstring shortText(10, _T('s')), longText(40000, _T('L'));
    writer.setValue(_T("List"), shortText);
    std::atomic<bool> stop{false};
    std::thread grow([&] {
        for (bool big = true; !stop; big = !big) writer.setValue(_T("List"), big ? longText : shortText);
    });
    RegistryKey reader(test.path(), false, kRoot);
    int shortReads = 0, longReads = 0, failures = 0;
    for (int i = 0; i < 3000; ++i) {
        tstring text;
        try {
            if (!reader.getValue(_T("List"), text)) ++failures;
        } catch (const Win32Exception&) {
            ++failures;
        }
        if (text == shortText) ++shortReads;
        else if (text == longText) ++longReads;
        else ++failures;
    }
    stop = true;
    grow.join();
    std::cout << "[ figures  ] reads: " << shortReads << " short, " << longReads << " long\n";
    EXPECT_EQ(0, failures);
    EXPECT_EQ(3000, shortReads + longReads);
}

TEST(RegistryKey, AValueDeletedWhileItIsReadLeavesTheOutputUntouched) {
    // Another process may delete the value between the size query and the read: the read then
    // throws for the read ("getValue() " and the name), or finds the value missing at once;
    // either way the output keeps what it held.
    TestRegistryKey test;
    RegistryKey writer(test.path(), true, kRoot);
    const tstring stored(2000, _T('v'));
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            writer.setValue(_T("List"), stored);
            RegDeleteValue(writer.handle(), _T("List"));
        }
    });
    RegistryKey reader(test.path(), false, kRoot);
    int whole = 0, missing = 0, failedReads = 0, wrong = 0;
    for (int i = 0; i < 3000; ++i) {
        tstring text = _T("untouched");
        try {
            if (reader.getValue(_T("List"), text)) {
                text == stored ? ++whole : ++wrong;
                continue;
            }
            ++missing;
        } catch (const Win32Exception& error) {
            ++failedReads;
            if (error.getMessage() != _T("RegistryKey::getValue() List") || error.getCode() != ERROR_FILE_NOT_FOUND) {
                ++wrong;
            }
        }
        if (text != _T("untouched")) ++wrong;
    }
    stop = true;
    churn.join();
    std::cout << "[ figures  ] reads: " << whole << " whole, " << missing << " missing, " << failedReads
              << " deleted during the read\n";
    EXPECT_EQ(0, wrong);
}

TEST(RegistryRead, AppendingWithAnExpectedSizeReadsWholeOrLeavesTheTextAsItWas) {
    TestRegistryKey test;
    RegistryKey key(test.path(), true, kRoot);
    const tstring stored(3000, _T('s'));
    key.setValue(_T("List"), stored);
    for (DWORD expected : {DWORD{0}, DWORD{2}, DWORD{6002}, DWORD{100000}}) {
        SCOPED_TRACE(expected);
        tstring text = _T("<");
        EXPECT_TRUE(tryAppendText(key.handle(), _T("List"), text, expected).ok());
        EXPECT_EQ(_T("<") + stored, text) << "a room too small is grown, one too large is cut to the text";
    }
    // Missing, and not text: nothing appended; a missing value is no failed read.
    tstring text = _T("<");
    const RegistryRead missing = tryAppendText(key.handle(), _T("Missing"), text, 64);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing.status);
    EXPECT_FALSE(missing.atRead);
    key.setValue(_T("Number"), DWORD{7});
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), tryAppendText(key.handle(), _T("Number"), text, 64).type);
    EXPECT_EQ(_T("<"), text);
}
