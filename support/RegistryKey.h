// One open registry key: opened or created on construction, typed reads and writes, subkey
// enumeration. Failures throw Win32Exception; reads leave their output untouched unless they
// return true.
#pragma once

#include "Handles.h"
#include "SecurityEveryone.h"
#include "Text.h"

#include <vector>

class RegistryKey {
public:
    // Opens asking for what Everyone has on a shared key (read, set values, create subkeys), so
    // that a standard user opens it too; creates the key for everyone when `create` is set.
    RegistryKey(const tstring& path, bool create, HKEY root);
    // Same, with the caller's access mask for both the open and the create.
    RegistryKey(const tstring& path, bool create, HKEY root, REGSAM access);
    virtual ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    virtual void initAccess();
    virtual void open(const tstring& path, bool create, HKEY root);

    // False when the value does not exist.
    bool getValue(const tstring& name, DWORD& out);
    // REG_SZ or REG_EXPAND_SZ (not expanded), up to the first NUL.
    bool getValue(const tstring& name, tstring& out);
    // REG_BINARY, for the settings base.
    bool getValue(const tstring& name, std::vector<BYTE>& out);
    void setValue(const tstring& name, DWORD value);
    void setValue(const tstring& name, const tstring& value);
    void setValue(const tstring& name, const std::vector<BYTE>& value);
    // Appends the first maxCount subkey names; the list is not cleared.
    void getChildrenNames(std::vector<tstring>& out, DWORD maxCount);
    // Appends every value name.
    void getValueNames(std::vector<tstring>& out);

    HKEY handle() const { return key_.get(); }
    REGSAM access() const { return access_; }

protected:
    struct Unopened {};
    explicit RegistryKey(Unopened);

    UniqueKey key_;
    REGSAM access_ = kEveryoneKeyAccess;
};

// The 32-bit registry view, requested explicitly by a 64-bit process and by a 32-bit one under
// the 32-bit emulation layer (a 32-bit system has only that view).
class RegistryKey32 : public RegistryKey {
public:
    RegistryKey32(const tstring& path, bool create, HKEY root);
    void initAccess() override;
    // True when the key opens for reading in the 32-bit view.
    static bool keyExists(const tstring& path, HKEY root);
};

// True when this process runs under the 32-bit emulation layer of a 64-bit system.
bool isWow64Process();
// The access flag that names the 32-bit view from this process: KEY_WOW64_32KEY, or 0 for a
// 32-bit process on a 32-bit system.
REGSAM registryView32();

// Creates, or opens, the key at `path` below `root` asking for `access`; a key it creates gets the
// shared-key descriptor (Everyone read, set values and create subkeys, inherited by subkeys;
// SYSTEM and Administrators full control). The system's status; `key` is set only on success.
LONG createSharedKey(HKEY root, const tstring& path, REGSAM access, HKEY& key);

// "A\B\C" -> "A", "A\B", "A\B\C": the keys created one at a time where the system cannot
// create a whole path in one call.
std::vector<tstring> cumulativeKeyPaths(const tstring& path);
