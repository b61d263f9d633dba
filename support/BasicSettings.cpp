#include "BasicSettings.h"

#include "Exception.h"
#include "RegistryKey.h"

namespace {
bool failWith(const Win32Exception& error) {
    SetLastError(static_cast<DWORD>(error.getCode()));
    return false;
}
}  // namespace

BasicSettings::BasicSettings(const tstring& basePath, const tstring& instanceSubkey)
    : basePath_(basePath), instanceSubkey_(instanceSubkey) {
    if (basePath_.empty() || basePath_.back() != _T('\\')) basePath_ += _T('\\');
    if (!instanceSubkey_.empty() && instanceSubkey_.back() != _T('\\')) instanceSubkey_ += _T('\\');
}

tstring BasicSettings::rootPath(bool shared) {
    if (instanceSubkey_.empty()) return basePath_;
    if (shared) return basePath_ + _T("Shared\\");
    return basePath_ + _T("Local\\") + instanceSubkey_;
}

bool BasicSettings::exists() {
    try {
        RegistryKey key(basePath_, false, HKEY_LOCAL_MACHINE, KEY_READ);
        return true;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

template <typename Value>
bool BasicSettings::getOrCreate(const tstring& subKey, const tstring& name, Value& out, const Value& defaultValue,
                                bool shared) {
    if (!exists()) return false;
    try {
        RegistryKey key(rootPath(shared) + subKey, true, HKEY_LOCAL_MACHINE);
        if (!key.getValue(name, out)) {
            key.setValue(name, defaultValue);
            out = defaultValue;
        }
        return true;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

template <typename Value>
bool BasicSettings::get(const tstring& subKey, const tstring& name, Value& out, bool shared) {
    try {
        RegistryKey key(rootPath(shared) + subKey, false, HKEY_LOCAL_MACHINE, KEY_READ);
        if (key.getValue(name, out)) return true;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

template <typename Value>
bool BasicSettings::set(const tstring& subKey, const tstring& name, const Value& value, bool shared) {
    if (!exists()) return false;
    try {
        RegistryKey key(rootPath(shared) + subKey, true, HKEY_LOCAL_MACHINE);
        key.setValue(name, value);
        return true;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

bool BasicSettings::getBinaryOrCreate(const tstring& subKey, const tstring& name, std::vector<BYTE>& out,
                                      const std::vector<BYTE>& defaultData, bool shared) {
    return getOrCreate(subKey, name, out, defaultData, shared);
}

bool BasicSettings::getBinary(const tstring& subKey, const tstring& name, std::vector<BYTE>& out, bool shared) {
    return get(subKey, name, out, shared);
}

bool BasicSettings::getDwordOrCreate(const tstring& subKey, const tstring& name, DWORD& out, DWORD defaultValue,
                                     bool shared) {
    return getOrCreate(subKey, name, out, defaultValue, shared);
}

bool BasicSettings::getDword(const tstring& subKey, const tstring& name, DWORD& out, bool shared) {
    return get(subKey, name, out, shared);
}

bool BasicSettings::getStringOrCreate(const tstring& subKey, const tstring& name, tstring& out,
                                      const tstring& defaultValue, bool shared) {
    return getOrCreate(subKey, name, out, defaultValue, shared);
}

bool BasicSettings::getString(const tstring& subKey, const tstring& name, tstring& out, bool shared) {
    return get(subKey, name, out, shared);
}

bool BasicSettings::setString(const tstring& subKey, const tstring& name, const tstring& value, bool shared) {
    return set(subKey, name, value, shared);
}

bool BasicSettings::setDword(const tstring& subKey, const tstring& name, DWORD value, bool shared) {
    return set(subKey, name, value, shared);
}

bool BasicSettings::getValueNames(const tstring& subKey, std::vector<tstring>& out, bool shared) {
    try {
        RegistryKey key(rootPath(shared) + subKey, false, HKEY_LOCAL_MACHINE, KEY_READ);
        key.getValueNames(out);
        return true;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

bool BasicSettings::deleteKey(const tstring& subKey, bool shared) {
    const tstring path = rootPath(shared) + subKey;
    LONG status = RegDeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_SUCCESS) status = RegDeleteKey(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
    SetLastError(static_cast<DWORD>(status));
    return false;
}

bool BasicSettings::deleteValue(const tstring& subKey, const tstring& name, bool shared) {
    try {
        RegistryKey key(rootPath(shared) + subKey, false, HKEY_LOCAL_MACHINE);
        LONG status = RegDeleteValue(key.handle(), name.c_str());
        if (status == ERROR_SUCCESS) return true;
        SetLastError(static_cast<DWORD>(status));
        return false;
    } catch (const Win32Exception& error) {
        return failWith(error);
    }
}

bool BasicSettings::deleteAll() {
    tstring path = basePath_;
    path.pop_back();  // no trailing separator for the key's own deletion
    LONG status = RegDeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_SUCCESS) status = RegDeleteKey(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
    SetLastError(static_cast<DWORD>(status));
    return false;
}
