#include "RegistryRead.h"

#include "Handles.h"

#include <algorithm>

namespace {
// A value that keeps growing between the size query and the read is given up after this many.
constexpr int kValueReadAttempts = 8;

// The read after a size query that succeeded. Never a null buffer, which would make it another
// size query; a character spare, so that text stored without its NUL still ends. A value grown
// meanwhile answers more-data with its new size and is read again.
void readSized(HKEY key, const TCHAR* name, DWORD size, RegistryRead& read, std::vector<BYTE>& data) {
    read.atRead = true;
    for (int attempt = 1;; ++attempt) {
        data.assign(static_cast<size_t>(size) + sizeof(TCHAR), 0);
        size = static_cast<DWORD>(data.size());
        read.status = RegQueryValueEx(key, name, nullptr, &read.type, data.data(), &size);
        if (read.ok()) {
            data.resize(std::min<size_t>(size, data.size()));
            return;
        }
        if (read.status != ERROR_MORE_DATA || attempt >= kValueReadAttempts) return;
    }
}
}  // namespace

RegistryRead tryReadBytes(HKEY key, const TCHAR* name, std::vector<BYTE>& out) {
    RegistryRead read;
    DWORD size = 0;
    read.status = RegQueryValueEx(key, name, nullptr, &read.type, nullptr, &size);
    if (!read.ok()) return read;
    std::vector<BYTE> data;
    readSized(key, name, size, read, data);
    if (read.ok()) out = std::move(data);
    return read;
}

RegistryRead tryAppendText(HKEY key, const TCHAR* name, tstring& out, DWORD expectedBytes) {
    // Without an expected size the type is known from a size query: anything but text is not
    // read at all.
    RegistryRead read;
    DWORD size = expectedBytes;
    if (expectedBytes == 0) {
        read.status = RegQueryValueEx(key, name, nullptr, &read.type, nullptr, &size);
        if (!read.ok() || !isTextType(read.type)) return read;
        read.atRead = true;
    }
    const size_t kept = out.size();
    for (int attempt = 1;; ++attempt) {
        // A character spare, so that text stored without its NUL still ends.
        const size_t room = size / sizeof(TCHAR) + 1;
        out.resize(kept + room);
        size = static_cast<DWORD>(room * sizeof(TCHAR));
        read.status = RegQueryValueEx(key, name, nullptr, &read.type, reinterpret_cast<BYTE*>(&out[kept]), &size);
        if (attempt > 1 || expectedBytes == 0) read.atRead = true;
        if (read.ok() && isTextType(read.type)) {
            const size_t stored = std::min<size_t>(size / sizeof(TCHAR), room);
            out.resize(kept + (std::find(out.begin() + kept, out.begin() + kept + stored, TCHAR(0)) - out.begin() - kept));
            return read;
        }
        if (read.status != ERROR_MORE_DATA || attempt >= kValueReadAttempts) break;
    }
    out.resize(kept);
    return read;
}

RegistryRead tryReadText(HKEY key, const TCHAR* name, tstring& out) {
    tstring text;
    const RegistryRead read = tryAppendText(key, name, text);
    if (read.ok() && isTextType(read.type)) out.swap(text);
    return read;
}

RegistryRead tryReadDword(HKEY key, const TCHAR* name, DWORD& out) {
    RegistryRead read;
    DWORD data = 0;
    DWORD size = sizeof(data);
    read.status = RegQueryValueEx(key, name, nullptr, &read.type, reinterpret_cast<BYTE*>(&data), &size);
    if (read.ok() && read.type == REG_DWORD) out = data;
    return read;
}

bool readDwordAt(HKEY root, const tstring& path, const TCHAR* name, DWORD& out, REGSAM view) {
    UniqueKey key;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    const RegistryRead read = tryReadDword(key.get(), name, out);
    return read.ok() && read.type == REG_DWORD;
}

LONG tryListSubkeys(HKEY key, DWORD maxCount, std::vector<tstring>& names, DWORD nameBuffer) {
    std::vector<TCHAR> name(nameBuffer + 1);
    for (DWORD index = 0; index < maxCount; ++index) {
        DWORD length = nameBuffer;
        const LONG status = RegEnumKeyEx(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        names.emplace_back(name.data(), std::min(length, nameBuffer));
    }
    return ERROR_SUCCESS;
}

bool keyOpensForReading(HKEY root, const tstring& path, REGSAM view) {
    UniqueKey key;
    return RegOpenKeyEx(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}
