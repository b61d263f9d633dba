// Attributes for an object shared between users: Everyone gets what the system's own users of an
// object of that kind need, SYSTEM and Administrators full control; optionally inherited by
// subkeys of a key created with them.
#pragma once

#include "Handles.h"
#include "Security.h"

#include <memory>

enum class SharedObject { Key, Mutex, File };

// Everyone's rights on a shared key and a shared mutex. Our own opens of them ask for no more,
// so a standard user opens what another user created.
constexpr REGSAM kEveryoneKeyAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr DWORD kEveryoneMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

class SecurityEveryone : public Security {
public:
    SecurityEveryone(bool inheritToChildren, SharedObject kind);  // throws Win32Exception
    ~SecurityEveryone() override;

private:
    void setSecurityIdEveryone();

    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
    std::unique_ptr<BYTE[]> accessList_;
    UniqueSid everyone_;
    UniqueSid system_;
    UniqueSid administrators_;
};
