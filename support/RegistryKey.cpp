#include "RegistryKey.h"

#include "Exception.h"
#include "OsVersion.h"

#include <algorithm>

namespace {
const TCHAR kSourceFile[] = _T(".\\RegistryKey");
const TCHAR kWrongType[] = _T(" : incorrect value type");
}  // namespace

bool isWow64Process() {
    HMODULE kernel = GetModuleHandle(_T("kernel32"));
    if (kernel == nullptr) return false;
    auto isWow64 = reinterpret_cast<decltype(&::IsWow64Process)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    if (isWow64 == nullptr) return false;
    BOOL flag = FALSE;
    return isWow64(GetCurrentProcess(), &flag) && flag == TRUE;
}

REGSAM registryView32() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    return isWow64Process() ? KEY_WOW64_32KEY : 0;
#endif
}

std::vector<tstring> cumulativeKeyPaths(const tstring& path) {
    std::vector<tstring> prefixes;
    tstring prefix;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(_T('\\'), start);
        if (end == tstring::npos) end = path.size();
        if (end > start) {
            if (!prefix.empty()) prefix += _T('\\');
            prefix += path.substr(start, end - start);
            prefixes.push_back(prefix);
        }
        start = end + 1;
    }
    return prefixes;
}

RegistryKey::RegistryKey(Unopened) {}

RegistryKey::RegistryKey(const tstring& path, bool create, HKEY root) {
    initAccess();
    open(path, create, root);
}

RegistryKey::RegistryKey(const tstring& path, bool create, HKEY root, REGSAM access) : access_(access) {
    open(path, create, root);
}

RegistryKey::~RegistryKey() { key_.reset(); }

void RegistryKey::initAccess() { access_ = KEY_ALL_ACCESS; }

void RegistryKey::open(const tstring& path, bool create, HKEY root) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(root, path.c_str(), 0, access_, &key);
    if (status == ERROR_SUCCESS) {
        key_.reset(key);
        return;
    }
    Win32Exception openFailure(_T("RegistryKey::regOpenKeyEx()"), status, kSourceFile, __LINE__);
    if (!create) throw Win32Exception(openFailure);

    SECURITY_ATTRIBUTES* attributes = security_.getAttributes();
    if (OsVersion::instance().isNt()) {
        DWORD disposition = 0;
        status = RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, access_, attributes, &key, &disposition);
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regCreateKeyEx()"), status);
        key_.reset(key);
        // Some registry implementations (Wine's) ignore the descriptor given at creation; setting
        // it again on a new key gives the same result everywhere. The caller's mask may lack the
        // right to change it, so a handle of its own is opened for that.
        if (disposition == REG_CREATED_NEW_KEY) {
            UniqueKey dacl;
            const REGSAM view = access_ & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
            if (RegOpenKeyEx(root, path.c_str(), 0, WRITE_DAC | view, dacl.put()) == ERROR_SUCCESS) {
                security_.applyToRegistryKey(dacl.get());
            }
        }
        return;
    }
    for (const tstring& prefix : cumulativeKeyPaths(path)) {
        status = RegCreateKeyEx(root, prefix.c_str(), 0, nullptr, 0, access_, attributes, &key, nullptr);
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regCreateKeyEx()"), status);
        RegCloseKey(key);
    }
    status = RegOpenKeyEx(root, path.c_str(), 0, access_, &key);
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regOpenKeyEx()"), status);
    key_.reset(key);
}

bool RegistryKey::getValue(const tstring& name, DWORD& out) {
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG status = RegQueryValueEx(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS || type != REG_DWORD) {
        tstring message = _T("RegistryKey::getValue(ulong)") + name;
        if (type != REG_DWORD) message += kWrongType;
        THROW_WIN32(message, status);
    }
    out = data;
    return true;
}

namespace {
// Another writer may grow the value between the size query and the read: the read then answers
// more-data with the new size, and is tried again with that size.
constexpr int kValueReadAttempts = 8;
}  // namespace

bool RegistryKey::getValue(const tstring& name, tstring& out) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueEx(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
    for (int attempt = 1;; ++attempt) {
        // The output is left as it was unless a read into it has begun.
        if (status == ERROR_FILE_NOT_FOUND) {
            if (attempt > 1) out.clear();
            return false;
        }
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            if (attempt > 1) out.clear();
            tstring message = _T("RegistryKey::getValue(string) ") + name;
            if (type != REG_SZ && type != REG_EXPAND_SZ) message += kWrongType;
            THROW_WIN32(message, status);
        }
        // Read in place, with one spare character so a value stored without its NUL still ends.
        const size_t capacity = size / sizeof(TCHAR) + 1;
        out.assign(capacity, 0);
        size = static_cast<DWORD>(capacity * sizeof(TCHAR));
        status = RegQueryValueEx(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&out[0]), &size);
        if (status == ERROR_MORE_DATA && attempt < kValueReadAttempts) {
            status = ERROR_SUCCESS;
            continue;
        }
        if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            const size_t stored = std::min<size_t>(size / sizeof(TCHAR), capacity - 1);
            size_t length = 0;
            while (length < stored && out[length] != 0) ++length;
            out.resize(length);
            return true;
        }
    }
}

bool RegistryKey::getValue(const tstring& name, std::vector<BYTE>& out) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueEx(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    for (int attempt = 1;; ++attempt) {
        if (status == ERROR_FILE_NOT_FOUND) return false;
        if (status != ERROR_SUCCESS || type != REG_BINARY) {
            tstring message = _T("RegistryKey::getValue(binary) ") + name;
            if (type != REG_BINARY) message += kWrongType;
            THROW_WIN32(message, status);
        }
        // Never a null buffer: that would make the read another size query.
        data.assign(std::max<DWORD>(size, 1), 0);
        size = static_cast<DWORD>(data.size());
        status = RegQueryValueEx(key_.get(), name.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA && attempt < kValueReadAttempts) {
            status = ERROR_SUCCESS;
            continue;
        }
        if (status == ERROR_SUCCESS && type == REG_BINARY) {
            data.resize(size);
            out = std::move(data);
            return true;
        }
    }
}

void RegistryKey::setValue(const tstring& name, DWORD value) {
    LONG status = RegSetValueEx(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::setValue(ulong): Unable to set ") + name, status);
}

void RegistryKey::setValue(const tstring& name, const tstring& value) {
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(TCHAR));
    LONG status = RegSetValueEx(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                size);
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::setValue(string): Unable to set ") + name, status);
}

void RegistryKey::setValue(const tstring& name, const std::vector<BYTE>& value) {
    LONG status = RegSetValueEx(key_.get(), name.c_str(), 0, REG_BINARY, value.data(),
                                static_cast<DWORD>(value.size()));
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::setValue(binary): Unable to set ") + name, status);
}

void RegistryKey::getChildrenNames(std::vector<tstring>& out, DWORD maxCount) {
    for (DWORD index = 0; index < maxCount; ++index) {
        TCHAR name[261];
        DWORD length = 261;
        LONG status = RegEnumKeyEx(key_.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::getChildrenNames()"), status);
        out.emplace_back(name, length);
    }
}

void RegistryKey::getValueNames(std::vector<tstring>& out) {
    for (DWORD index = 0;; ++index) {
        TCHAR name[16384];  // the system's limit for a value name
        DWORD length = 16384;
        LONG status = RegEnumValue(key_.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::getValueNames()"), status);
        out.emplace_back(name, length);
    }
}

RegistryKey32::RegistryKey32(const tstring& path, bool create, HKEY root) : RegistryKey(Unopened{}) {
    RegistryKey32::initAccess();
    open(path, create, root);
}

void RegistryKey32::initAccess() { access_ = KEY_ALL_ACCESS | registryView32(); }

bool RegistryKey32::keyExists(const tstring& path, HKEY root) {
    HKEY key = nullptr;
    const REGSAM access = KEY_READ | registryView32();
    if (RegOpenKeyEx(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
