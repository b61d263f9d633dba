#include "Duplexer.h"

#include "TestSupport.h"

#include <aclapi.h>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {
bool keyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool readDword(const std::string& path, DWORD& value) {
    DWORD size = sizeof(value);
    DWORD type = 0;
    return RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), "DuplexerButtonStatus", RRF_RT_ANY, &type, &value, &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool grantsEveryone(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS) return false;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                         nullptr, &descriptor);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    bool found = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !found; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE) {
            found = EqualSid(&ace->SidStart, everyone) != FALSE;
        }
    }
    FreeSid(everyone);
    LocalFree(descriptor);
    return found;
}
}  // namespace

TEST(Duplexer, WritesTheStateUnderThePrintersSettingsKeyForEveryone) {
    TestRegistryKey brand;
    int lookups = 0;
    FriendlyNameLookup printerP = [&](const std::string& printer, std::string& friendly) {
        ++lookups;
        EXPECT_EQ("KV Printer", printer);
        friendly = "P";
        return true;
    };
    const std::string key = brand.path() + "\\IjPrtSettings\\P";
    ASSERT_FALSE(keyExists(key));
    EXPECT_EQ(1, writeDuplexerButtonStatus(brand.path(), "KV Printer", 1, printerP));
    DWORD value = 7;
    ASSERT_TRUE(readDword(key, value));
    EXPECT_EQ(1u, value);
    EXPECT_TRUE(grantsEveryone(key)) << "the key is created usable by every user";
    EXPECT_EQ(1, writeDuplexerButtonStatus(brand.path(), "KV Printer", 0, printerP));
    ASSERT_TRUE(readDword(key, value));
    EXPECT_EQ(0u, value) << "the existing key is written again";

    // Nothing is written without a brand key, a friendly name, a printer name or an open printer.
    EXPECT_EQ(0, writeDuplexerButtonStatus("", "KV Printer", 1, printerP));
    FriendlyNameLookup unnamed = [](const std::string&, std::string& friendly) {
        friendly.clear();
        return true;
    };
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "KV Printer", 1, unnamed));
    FriendlyNameLookup closed = [](const std::string&, std::string&) { return false; };
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "KV Printer", 1, closed));
    lookups = 0;
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "", 1, printerP));
    EXPECT_EQ(0, lookups) << "an empty printer name would open the print server";
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "\\\\attacker\\queue", 1, printerP));
    EXPECT_EQ(0, lookups) << "a device's name for a printer on another machine is never opened";
    FriendlyNameLookup nested = [](const std::string&, std::string& friendly) {
        friendly = "P\\Sub";
        return true;
    };
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "KV Printer", 1, nested));
    EXPECT_FALSE(keyExists(key + "\\Sub")) << "a friendly name names one key, never one below it";
    ASSERT_TRUE(readDword(key, value));
    EXPECT_EQ(0u, value) << "failed calls leave the value as it was";

    // A name too long for a registry key fails cleanly.
    FriendlyNameLookup huge = [](const std::string&, std::string& friendly) {
        friendly.assign(1000, 'N');
        return true;
    };
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "KV Printer", 1, huge));
}

TEST(Duplexer, APrinterThatCannotBeOpenedLeavesTheRegistryUntouched) {
    TestRegistryKey brand;
    std::string friendly = "stale";
    EXPECT_FALSE(spoolerFriendlyName("No Such Printer 7a1c", friendly));
    EXPECT_EQ(0, writeDuplexerButtonStatus(brand.path(), "No Such Printer 7a1c", 1, spoolerFriendlyName));
    EXPECT_FALSE(keyExists(brand.path() + "\\IjPrtSettings"));
    EXPECT_FALSE(spoolerFriendlyName(std::string(1000, 'x'), friendly)) << "a long name is refused, not overrun";
}
