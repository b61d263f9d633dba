#include "CSCUtil.h"

#include "TestSupport.h"
#include "../support/SupportTestHelpers.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <winspool.h>

#include <cstring>
#include <sstream>

using namespace testing_support;

namespace {
// Reports what CSCUtil sees from inside a program with another name and folder.
std::string probeReport() {
    std::ostringstream out;
    CSCUtil util;
    out << "prefix=" << CSCUtil::getProductPrefix() << "\n";
    for (DWORD item : {kConfigManufacturerPath, kConfigProductKey, kConfigProductId}) {
        void* buffer = nullptr;
        DWORD size = 0;
        if (util.readConfigItem(item, 0, buffer, size)) {
            out << item << "=" << static_cast<const char*>(buffer) << "|" << size << "\n";
            GlobalFree(buffer);
        } else {
            out << item << "=failed\n";
        }
    }
    char path[MAX_PATH];
    DWORD indicator = util.getScannerSettingsPath(path, sizeof(path));
    out << "path=" << path << "|" << indicator << "\n";
    char a[MAX_PATH], b[MAX_PATH], c[MAX_PATH];
    HRESULT result = util.GetManufacturerName(a, b, c, MAX_PATH);
    out << "names=" << (result == S_OK ? "ok" : "fail") << "|" << a << "|" << b << "|" << c << "\n";
    return out.str();
}

TEST_CHILD(cscutil_probe) {
    writeFile(args.at(0), probeReport());
    return 0;
}

TEST_CHILD(write_marker) {
    writeFile(args.at(0), "started");
    return 0;
}

// A copy of this test program named `exeName` in its own folder, with the configuration stand-in
// under `cnfName` and its answers in `answers` (none when empty).
class ProbeFolder {
public:
    ProbeFolder(const std::string& exeName, const std::string& cnfName, const std::string& answers) {
        exe_ = folder_.file(exeName);
        CopyFileA(ownPath().c_str(), exe_.c_str(), FALSE);
        if (!cnfName.empty()) {
            CopyFileA((ownFolder() + "kvabcnf.dll").c_str(), folder_.file(cnfName).c_str(), FALSE);
            if (!answers.empty()) {
                writeFile(folder_.file(cnfName.substr(0, cnfName.size() - 4) + ".txt"), answers);
            }
        }
    }
    std::string report() {
        const std::string out = folder_.file("report.txt");
        EXPECT_EQ(0, runChild(exe_, "cscutil_probe", {out}));
        return readFile(out);
    }

private:
    TempFolder folder_;
    std::string exe_;
};

std::string line(const std::string& report, const std::string& key) {
    std::istringstream in(report);
    std::string text;
    while (std::getline(in, text)) {
        if (text.compare(0, key.size() + 1, key + "=") == 0) return text.substr(key.size() + 1);
    }
    return "<missing " + key + ">";
}

}  // namespace

TEST(CSCUtil, ProductPrefixIsTheFirstFourCharactersOfTheProgramName) {
    EXPECT_EQ("kvab", CSCUtil::getProductPrefix());
    ProbeFolder monitor("abcdpanelmon.exe", "", "");
    EXPECT_EQ("abcd", line(monitor.report(), "prefix"));
    ProbeFolder shortName("ab.exe", "", "");
    EXPECT_EQ("ab.e", line(shortName.report(), "prefix"));
}

TEST(CSCUtil, ReadsConfigurationItemsFromTheLibraryBesideTheProgram) {
    ProbeFolder defaults("abcdhost.exe", "abcdcnf.dll", "");
    const std::string report = defaults.report();
    EXPECT_EQ("Software\\Kelvara|17", line(report, "10002"));
    EXPECT_EQ("KV Model|9", line(report, "10000"));
    EXPECT_EQ("Kelvara|8", line(report, "10001"));
    // Both reported sizes (with their NULs) plus 6.
    EXPECT_EQ("Software\\Kelvara\\KV Model\\Scan|32", line(report, "path"));
    EXPECT_EQ("ok|Software\\Kelvara|Kelvara|KV Model", line(report, "names"));

    // The 64-bit build name is the second choice.
    ProbeFolder second("abcdhost.exe", "abcdcnf64.dll", "10002=Software\\Vendor\n10000=Model\n");
    EXPECT_EQ("Software\\Vendor\\Model\\Scan|28", line(second.report(), "path"));
}

TEST(CSCUtil, SettingsPathWithoutProductKeyIsTheManufacturerPath) {
    ProbeFolder folder("abcdhost.exe", "abcdcnf.dll", "10002=Software\\Vendor\nmissing=10000\n");
    const std::string report = folder.report();
    EXPECT_EQ("failed", line(report, "10000"));
    EXPECT_EQ("Software\\Vendor|16", line(report, "path"));
    EXPECT_EQ("ok|Software\\Vendor|Kelvara|", line(report, "names"));
}

TEST(CSCUtil, OverlongItemsAreCutToTheFixedBuffers) {
    const std::string longKey(400, 'k');
    ProbeFolder folder("abcdhost.exe", "abcdcnf.dll", "10002=Software\\Vendor\n10000=" + longKey + "\n");
    const std::string report = folder.report();
    // The product key does not fit: the path stays the manufacturer path.
    EXPECT_EQ("Software\\Vendor|16", line(report, "path"));
    EXPECT_EQ("ok|Software\\Vendor|Kelvara|" + std::string(259, 'k'), line(report, "names"));
}

TEST(CSCUtil, MissingLibraryOrUnexpectedCodesFailTheRead) {
    ProbeFolder none("abcdhost.exe", "", "");
    std::string report = none.report();
    EXPECT_EQ("failed", line(report, "10002"));
    EXPECT_EQ("|0", line(report, "path"));
    EXPECT_EQ("fail|||", line(report, "names"));

    ProbeFolder sizeCode("abcdhost.exe", "abcdcnf.dll", "sizecode=0\n");
    EXPECT_EQ("failed", line(sizeCode.report(), "10002"));
    ProbeFolder dataCode("abcdhost.exe", "abcdcnf.dll", "datacode=5\n");
    report = dataCode.report();
    EXPECT_EQ("failed", line(report, "10000"));
    EXPECT_EQ("fail|||", line(report, "names"));
}

TEST(CSCUtil, FindsTheLibraryInThePrinterDriverFolder) {
    char drivers[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(drivers), MAX_PATH, &needed)) {
        GTEST_SKIP() << "no printer-driver folder: " << GetLastError();
    }
    const std::string folder = std::string(drivers) + "\\3";
    CreateDirectoryA(drivers, nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string dll = folder + "\\qdrvcnf.dll";
    ASSERT_TRUE(CopyFileA((ownFolder() + "kvabcnf.dll").c_str(), dll.c_str(), FALSE)) << GetLastError();
    ProbeFolder probe("qdrvhost.exe", "", "");
    const std::string report = probe.report();
    DeleteFileA(dll.c_str());
    EXPECT_EQ("Software\\Kelvara|17", line(report, "10002"));
}

TEST(CSCUtil, RunProgramStartsARealProcess) {
    TempFolder folder;
    const std::string marker = folder.file("marker.txt");
    const std::string command = "\"" + ownPath() + "\" --child write_marker \"" + marker + "\"";
    ASSERT_TRUE(CSCUtil::runProgram(command.c_str(), true, folder.path().c_str()));
    for (int i = 0; i < 200 && readFile(marker) != "started"; ++i) Sleep(50);
    EXPECT_EQ("started", readFile(marker));
    EXPECT_FALSE(CSCUtil::runProgram("\"C:\\no such folder\\nothing.exe\"", false, nullptr));
}

TEST(CSCUtil, DateTimeTextAndAllUsersFolder) {
    char text[MAX_PATH];
    std::memset(text, 'x', sizeof(text));
    CSCUtil::getDateTimeText(text, sizeof(text));
    const std::string value = text;
    EXPECT_GE(value.size(), 19u) << value;
    EXPECT_EQ(std::string::npos, value.find(':')) << value;
    EXPECT_EQ(' ', value[10]) << value;

    const std::string allUsers = CSCUtil::getAllUsersDir();
    ASSERT_FALSE(allUsers.empty());
    EXPECT_EQ('\\', allUsers.back());
    EXPECT_EQ(std::string::npos, allUsers.find('%')) << allUsers;
    EXPECT_TRUE(CSCUtil::isNtPlatform());
}

TEST(CSCUtil, WriteRegistryDwordCreatesAKeyEveryoneUsesButDoesNotAdminister) {
    TestRegistryKey test;
    const std::string path = test.path() + "\\Printer\\Settings";
    DWORD value = 0xdeadbeef;
    EXPECT_FALSE(CSCUtil::readRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", value));
    EXPECT_EQ(0xdeadbeefu, value);

    ASSERT_TRUE(CSCUtil::writeRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", 1));
    ASSERT_TRUE(CSCUtil::readRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", value));
    EXPECT_EQ(1u, value);
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()));
    tstring owner;
    expectSharedRights(securityInfoAces(key.get(), SE_REGISTRY_KEY, &owner), KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                       KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE);
    expectStandardUserRights(HKEY_LOCAL_MACHINE, path);

    // An existing key is written in place, by another user too.
    AsStandardUser user(owner);
    ASSERT_TRUE(user.active());
    ASSERT_TRUE(CSCUtil::writeRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", 0));
    ASSERT_TRUE(CSCUtil::readRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", value));
    EXPECT_EQ(0u, value);

    // A value of another type is not a DWORD.
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, path.c_str(), "Text", REG_SZ, "1", 2);
    value = 0xdeadbeef;
    EXPECT_FALSE(CSCUtil::readRegistryDword(HKEY_LOCAL_MACHINE, path.c_str(), "Text", value));
    EXPECT_EQ(0xdeadbeefu, value);
}

TEST(CSCUtil, BoundedCopiesAndTheDateTextStopAtTheirCapacity) {
    // Each target ends at an inaccessible page: one byte too many and the test faults.
    const std::string longText(1000, 'n');
    for (size_t capacity : {size_t(1), size_t(2), size_t(260), size_t(261)}) {
        GuardedBuffer target(capacity);
        copyBounded(target.as<char>(), capacity, longText.c_str(), longText.size());
        EXPECT_EQ(capacity - 1, std::strlen(target.as<char>())) << capacity;
    }
    for (size_t capacity = 1; capacity <= 40; ++capacity) {
        GuardedBuffer text(capacity);
        CSCUtil::getDateTimeText(text.as<char>(), capacity);
        EXPECT_LT(std::strlen(text.as<char>()), capacity) << capacity;
    }
}
