// What the list tests share: values written to the registry, and folders of programs that
// discovery can find.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// A string value (null name: the key's default), its key created as needed.
inline void writeString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root, path.c_str(), name, type, text.c_str(),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))))
        << std::string(path.begin(), path.end());
}

// The stored list under a brand's key below HKLM.
inline void storeList(const std::wstring& keyPath, const std::wstring& text, DWORD type = REG_SZ) {
    writeString(HKEY_LOCAL_MACHINE, keyPath, L"AppList", text, type);
}

// Sets a key's access list from SDDL; the owner may always do so, even past a list that denies
// everything.
inline bool setKeyDacl(HKEY root, const std::wstring& path, const wchar_t* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = false;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        done = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return done;
}

inline std::wstring widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

// A folder of programs whose path has no "-" (a registered command line is cut there), removed
// with its files and the App Paths registrations made for them.
class ProgramFolder {
public:
    ProgramFolder() : path_(widen(folder_.path())) {}
    ~ProgramFolder() {
        for (const std::wstring& name : registered_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kAppPathsKey + name).c_str());
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    // A copy of a built fixture ("discoveryviewer", "discoveryblank", "discoveryplain"), or
    // without one an empty file.
    std::wstring add(const std::wstring& fixture, const std::wstring& name) {
        const std::wstring target = file(name);
        if (fixture.empty()) {
            HANDLE made = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            EXPECT_NE(INVALID_HANDLE_VALUE, made) << GetLastError();
            CloseHandle(made);
        } else {
            const std::wstring source = widen(testing_support::ownFolder()) + fixture + L".exe";
            EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << GetLastError();
        }
        return target;
    }
    // An empty program registered under App Paths, where discovery finds it.
    std::wstring registered(const std::wstring& keyName, const std::wstring& fileName) {
        const std::wstring target = add(L"", fileName);
        writeString(HKEY_LOCAL_MACHINE, kAppPathsKey + keyName, nullptr, target);
        registered_.push_back(keyName);
        return target;
    }

private:
    testing_support::TempFolder folder_;
    std::wstring path_;
    std::vector<std::wstring> registered_;
};
}  // namespace
