// Helpers for the support library's tests: exceptions caught for inspection, registry keys made
// and read with the plain system calls, access lists read back, 8-bit arguments as build text.
#pragma once

#include "Exception.h"
#include "Handles.h"

#include <gtest/gtest.h>
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
