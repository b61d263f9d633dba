// Helpers for the support library's tests: exceptions caught for inspection, registry keys made
// and read with the plain system calls, access lists read back, 8-bit arguments as build text.
#pragma once

#include "Exception.h"
#include "Handles.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

// The Win32Exception that `action` throws; a test failure when it throws none.
template <typename Action>
Win32Exception thrownBy(Action&& action) {
    try {
        action();
    } catch (const Win32Exception& error) {
        return error;
    }
    ADD_FAILURE() << "expected a Win32Exception";
    return Win32Exception(_T("<nothing thrown>"), -1, tstring(), -1);
}

inline tstring widen(const std::string& text) { return tstring(text.begin(), text.end()); }

inline std::string narrow(const tstring& text) {
    std::string result;
    for (TCHAR c : text) result += static_cast<char>(c);
    return result;
}

inline UniqueKey rawCreateKey(HKEY root, const tstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status) << "RegCreateKeyEx " << narrow(path);
    return UniqueKey(key);
}

inline bool rawKeyExists(HKEY root, const tstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline void rawSetValue(HKEY key, const tstring& name, DWORD type, const void* data, DWORD size) {
    LONG status = RegSetValueEx(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    EXPECT_EQ(ERROR_SUCCESS, status) << "RegSetValueEx " << narrow(name);
}

// The stored DWORD, or 0xdeadbeef with a test failure when it is missing or of another type.
inline DWORD rawDword(HKEY root, const tstring& path, const tstring& name) {
    DWORD type = REG_NONE;
    DWORD value = 0xdeadbeef;
    DWORD size = sizeof(value);
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueEx(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
    }
    EXPECT_EQ(ERROR_SUCCESS, status) << narrow(path) << " " << narrow(name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << narrow(path) << " " << narrow(name);
    return value;
}

inline tstring sidText(PSID sid) {
    LPTSTR text = nullptr;
    if (!ConvertSidToStringSid(sid, &text)) return _T("<no SID text: ") + toText(GetLastError()) + _T(">");
    tstring result(text);
    LocalFree(text);
    return result;
}

const TCHAR kEveryoneSid[] = _T("S-1-1-0");

struct AceEntry {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    tstring sid;
};

inline std::vector<AceEntry> acesOf(PACL acl) {
    std::vector<AceEntry> entries;
    for (DWORD index = 0; acl != nullptr && index < acl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(acl, index, &ace)) {
            ADD_FAILURE() << "GetAce " << index << " failed: " << GetLastError();
            break;
        }
        auto* header = static_cast<ACE_HEADER*>(ace);
        AceEntry entry = {header->AceType, header->AceFlags, 0, tstring()};
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.mask = allowed->Mask;
            entry.sid = sidText(&allowed->SidStart);
        }
        entries.push_back(entry);
    }
    return entries;
}

// The entries of a descriptor's DACL; a failure when it has none.
inline std::vector<AceEntry> daclEntries(std::vector<BYTE>& descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor.empty() || !GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        ADD_FAILURE() << "GetSecurityDescriptorDacl failed: " << GetLastError();
        return {};
    }
    EXPECT_TRUE(present && dacl != nullptr) << "present " << present;
    return acesOf(dacl);
}

inline const AceEntry* findEveryone(const std::vector<AceEntry>& aces) {
    for (const AceEntry& ace : aces) {
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.sid == kEveryoneSid) return &ace;
    }
    return nullptr;
}

inline std::string describe(const std::vector<AceEntry>& entries) {
    std::string text;
    char line[160];
    for (const AceEntry& entry : entries) {
        sprintf(line, "[type %u flags 0x%x mask 0x%lx %s] ", entry.type, entry.flags, entry.mask,
                narrow(entry.sid).c_str());
        text += line;
    }
    return text.empty() ? "<no entries>" : text;
}

// ---- rights on objects shared between users ----

const TCHAR kSystemSid[] = _T("S-1-5-18");
const TCHAR kAdministratorsSid[] = _T("S-1-5-32-544");

// The DACL entries of a kernel object or a registry key, as GetSecurityInfo reads them; the
// owner's SID in `owner` when asked.
inline std::vector<AceEntry> securityInfoAces(HANDLE object, SE_OBJECT_TYPE type, tstring* owner = nullptr) {
    PACL dacl = nullptr;
    PSID ownerSid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                         &ownerSid, nullptr, &dacl, nullptr, &descriptor);
    EXPECT_EQ(ERROR_SUCCESS, status) << "GetSecurityInfo";
    if (status != ERROR_SUCCESS) return {};
    EXPECT_NE(nullptr, dacl) << "a DACL, not a null one";
    const std::vector<AceEntry> aces = acesOf(dacl);
    if (owner != nullptr) *owner = sidText(ownerSid);
    LocalFree(descriptor);
    return aces;
}

// Exactly three entries: Everyone `everyone`, SYSTEM and Administrators `full`, each with `flags`.
inline void expectSharedRights(const std::vector<AceEntry>& aces, ACCESS_MASK everyone, ACCESS_MASK full, BYTE flags) {
    ASSERT_EQ(3u, aces.size()) << describe(aces);
    for (const AceEntry& ace : aces) {
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace.type) << describe(aces);
        EXPECT_EQ(flags, ace.flags) << describe(aces);
        if (ace.sid == kEveryoneSid) {
            EXPECT_EQ(everyone, ace.mask) << describe(aces);
        } else {
            EXPECT_TRUE(ace.sid == kSystemSid || ace.sid == kAdministratorsSid) << describe(aces);
            EXPECT_EQ(full, ace.mask) << describe(aces);
        }
    }
    EXPECT_NE(nullptr, findEveryone(aces)) << describe(aces);
}

// The calling thread as a standard user who neither administers the machine nor owns the object
// at hand (the token's Administrators group and `ownerSid` are for deny only) until destruction.
class AsStandardUser {
public:
    explicit AsStandardUser(const tstring& ownerSid) {
        UniqueHandle process;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put())) return;
        PSID owner = nullptr;
        PSID admins = nullptr;
        ConvertStringSidToSid(ownerSid.c_str(), &owner);
        ConvertStringSidToSid(kAdministratorsSid, &admins);
        UniqueLocal ownerMemory(owner), adminsMemory(admins);
        SID_AND_ATTRIBUTES disabled[] = {{admins, 0}, {owner, 0}};
        UniqueHandle restricted, impersonation;
        if (CreateRestrictedToken(process.get(), 0, owner != nullptr ? 2 : 1, disabled, 0, nullptr, 0, nullptr,
                                  restricted.put()) &&
            DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put())) {
            active_ = SetThreadToken(nullptr, impersonation.get()) != FALSE;
        }
    }
    ~AsStandardUser() {
        if (active_) RevertToSelf();
    }
    AsStandardUser(const AsStandardUser&) = delete;
    AsStandardUser& operator=(const AsStandardUser&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
};

// What a standard user may do with a shared key: open it for read, set values and create subkeys
// (but not for WRITE_DAC, WRITE_OWNER or DELETE).
inline void expectStandardUserRights(HKEY root, const tstring& path) {
    UniqueKey probe;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(root, path.c_str(), 0, READ_CONTROL, probe.put()));
    tstring owner;
    securityInfoAces(probe.get(), SE_REGISTRY_KEY, &owner);
    probe.reset();
    AsStandardUser user(owner);
    ASSERT_TRUE(user.active()) << "a restricted token: " << GetLastError();
    for (REGSAM denied : {static_cast<REGSAM>(WRITE_DAC), static_cast<REGSAM>(WRITE_OWNER),
                          static_cast<REGSAM>(DELETE), static_cast<REGSAM>(KEY_ALL_ACCESS)}) {
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyEx(root, path.c_str(), 0, denied, probe.put())) << std::hex << denied;
    }
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(root, path.c_str(), 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, key.put()));
    const DWORD value = 1;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueEx(key.get(), _T("ByAStandardUser"), 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    UniqueKey child;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyEx(key.get(), _T("ChildOfAStandardUser"), 0, nullptr, 0, KEY_READ, nullptr, child.put(), nullptr));
}
