#include "RegistryKey.h"

#include "Exception.h"
#include "OsVersion.h"
#include "RegistryRead.h"
#include "SystemCall.h"

#include <algorithm>

namespace {
const TCHAR kSourceFile[] = _T(".\\RegistryKey");
const TCHAR kWrongType[] = _T(" : incorrect value type");
}  // namespace

bool isWow64Process() {
    HMODULE kernel = GetModuleHandle(_T("kernel32"));
    if (kernel == nullptr) return false;
    auto isWow64 = entryPoint<decltype(&::IsWow64Process)>(kernel, "IsWow64Process");
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

namespace {
// Every created key gets the same descriptor: built at the first creation and kept, so opening
// an existing key (the common case, a read) builds none.
SecurityEveryone& everyoneForKeys() {
    static SecurityEveryone everyone(true, SharedObject::Key);
    return everyone;
}
}  // namespace

LONG createSharedKey(HKEY root, const tstring& path, REGSAM access, HKEY& key) {
    SECURITY_ATTRIBUTES attributes = *everyoneForKeys().getAttributes();
    attributes.bInheritHandle = FALSE;
    DWORD disposition = 0;
    HKEY created = nullptr;
    const LONG status =
        RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, access, &attributes, &created, &disposition);
    if (status != ERROR_SUCCESS) return status;
    key = created;
    // Some registry implementations (Wine's) ignore the descriptor given at creation; setting it
    // again on a new key gives the same result everywhere. The caller's mask lacks the right to
    // change it, which its creator has as the owner, so a handle of its own is opened for that.
    if (disposition == REG_CREATED_NEW_KEY) {
        UniqueKey dacl;
        const REGSAM view = access & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
        if (RegOpenKeyEx(root, path.c_str(), 0, WRITE_DAC | view, dacl.put()) == ERROR_SUCCESS) {
            everyoneForKeys().applyToRegistryKey(dacl.get());
        }
    }
    return ERROR_SUCCESS;
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

void RegistryKey::initAccess() { access_ = kEveryoneKeyAccess; }

void RegistryKey::open(const tstring& path, bool create, HKEY root) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyEx(root, path.c_str(), 0, access_, &key);
    if (status == ERROR_SUCCESS) {
        key_.reset(key);
        return;
    }
    Win32Exception openFailure(_T("RegistryKey::regOpenKeyEx()"), status, kSourceFile, __LINE__);
    if (!create) throw Win32Exception(openFailure);

    if (OsVersion::instance().isNt()) {
        status = createSharedKey(root, path, access_, key);
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regCreateKeyEx()"), status);
        key_.reset(key);
        return;
    }
    SECURITY_ATTRIBUTES* attributes = everyoneForKeys().getAttributes();
    for (const tstring& prefix : cumulativeKeyPaths(path)) {
        UniqueKey created;
        status = RegCreateKeyEx(root, prefix.c_str(), 0, nullptr, 0, access_, attributes, created.put(), nullptr);
        if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regCreateKeyEx()"), status);
    }
    status = RegOpenKeyEx(root, path.c_str(), 0, access_, &key);
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::regOpenKeyEx()"), status);
    key_.reset(key);
}

bool RegistryKey::getValue(const tstring& name, DWORD& out) {
    const RegistryRead read = tryReadDword(key_.get(), name.c_str(), out);
    if (read.status == ERROR_FILE_NOT_FOUND) return false;
    if (!read.ok() || read.type != REG_DWORD) {
        tstring message = _T("RegistryKey::getValue(ulong)") + name;
        if (read.type != REG_DWORD) message += kWrongType;
        THROW_WIN32(message, read.status);
    }
    return true;
}

bool RegistryKey::getValue(const tstring& name, tstring& out) {
    const RegistryRead read = tryReadText(key_.get(), name.c_str(), out);
    if (read.ok() && isTextType(read.type)) return true;
    // A value deleted after its size query is a failed read, not a missing value.
    if (read.status == ERROR_FILE_NOT_FOUND && !read.atRead) return false;
    if (!read.ok() && read.atRead) THROW_WIN32(_T("RegistryKey::getValue() ") + name, read.status);
    tstring message = _T("RegistryKey::getValue(string) ") + name;
    if (!isTextType(read.type)) message += kWrongType;
    THROW_WIN32(message, read.status);
}

bool RegistryKey::getValue(const tstring& name, std::vector<BYTE>& out) {
    std::vector<BYTE> data;
    const RegistryRead read = tryReadBytes(key_.get(), name.c_str(), data);
    if (read.status == ERROR_FILE_NOT_FOUND && !read.atRead) return false;
    if (!read.ok() || read.type != REG_BINARY) {
        tstring message = _T("RegistryKey::getValue(binary) ") + name;
        if (read.type != REG_BINARY) message += kWrongType;
        THROW_WIN32(message, read.status);
    }
    out = std::move(data);
    return true;
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
    const LONG status = tryListSubkeys(key_.get(), maxCount, out);
    if (status != ERROR_SUCCESS) THROW_WIN32(_T("RegistryKey::getChildrenNames()"), status);
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

void RegistryKey32::initAccess() { access_ = kEveryoneKeyAccess | registryView32(); }

bool RegistryKey32::keyExists(const tstring& path, HKEY root) { return keyOpensForReading(root, path, registryView32()); }
