#include "SecurityEveryone.h"

#include "Exception.h"

namespace {
const TCHAR kSourceFile[] = _T(".\\SecurityEveryone");
const TCHAR kInitFailed[] = _T("SecurityEveryone::SecurityEveryone() InitializeSecurityDescriptor failed");
const TCHAR kSidFailed[] = _T("SecurityEveryone::setSecurityIdEveryone() AllocateAndInitializeSid failed");

struct Rights {
    ACCESS_MASK everyone;
    ACCESS_MASK full;
};

// Everyone may not change the DACL, take ownership or delete a key or mutex; the log file stays
// open to all, since every user's monitor appends to it and tools truncate it.
Rights rightsFor(SharedObject kind) {
    switch (kind) {
        case SharedObject::Key:
            return {kEveryoneKeyAccess, KEY_ALL_ACCESS};
        case SharedObject::Mutex:
            return {kEveryoneMutexAccess, MUTEX_ALL_ACCESS};
        default:
            return {GENERIC_ALL, GENERIC_ALL};
    }
}

void allocateNtSid(UniqueSid& sid, BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, count, first, second, 0, 0, 0, 0, 0, 0, sid.put())) {
        THROW_WIN32(kSidFailed, GetLastError());
    }
}

DWORD aceSize(PSID sid) { return sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + GetLengthSid(sid); }
}  // namespace

SecurityEveryone::SecurityEveryone(bool inheritToChildren, SharedObject kind) {
    if (!isNt_) return;

    descriptor_ = std::make_unique<SECURITY_DESCRIPTOR>();
    if (!InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION)) {
        THROW_WIN32(kInitFailed, GetLastError());
    }
    setSecurityIdEveryone();
    if (!IsValidSid(everyone_.get())) {
        THROW_WIN32(_T("SecurityEveryone::SecurityEveryone() IsValidSid failed"), GetLastError());
    }
    allocateNtSid(system_, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
    allocateNtSid(administrators_, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);

    // The list header and one access-allowed entry (header, mask and SID) for each group.
    const DWORD size = sizeof(ACL) + aceSize(everyone_.get()) + aceSize(system_.get()) + aceSize(administrators_.get());
    accessList_ = std::make_unique<BYTE[]>(size);
    PACL acl = reinterpret_cast<PACL>(accessList_.get());
    if (!InitializeAcl(acl, size, ACL_REVISION)) THROW_WIN32(kInitFailed, GetLastError());
    const DWORD flags = inheritToChildren ? CONTAINER_INHERIT_ACE : 0;
    const Rights rights = rightsFor(kind);
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, flags, rights.everyone, everyone_.get()) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, flags, rights.full, system_.get()) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, flags, rights.full, administrators_.get())) {
        THROW_WIN32(kInitFailed, GetLastError());
    }
    if (!SetSecurityDescriptorDacl(descriptor_.get(), TRUE, acl, FALSE)) {
        THROW_WIN32(kInitFailed, GetLastError());
    }
    attributes_.lpSecurityDescriptor = descriptor_.get();
}

SecurityEveryone::~SecurityEveryone() { attributes_.lpSecurityDescriptor = nullptr; }

void SecurityEveryone::setSecurityIdEveryone() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone_.put())) {
        THROW_WIN32(kSidFailed, GetLastError());
    }
}
