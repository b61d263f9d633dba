#include "SecurityEveryone.h"

#include "Exception.h"

namespace {
const TCHAR kSourceFile[] = _T(".\\SecurityEveryone");
const TCHAR kInitFailed[] = _T("SecurityEveryone::SecurityEveryone() InitializeSecurityDescriptor failed");
}  // namespace

SecurityEveryone::SecurityEveryone(bool inheritToChildren) {
    if (!isNt_) return;

    descriptor_ = std::make_unique<SECURITY_DESCRIPTOR>();
    if (!InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION)) {
        THROW_WIN32(kInitFailed, GetLastError());
    }
    setSecurityIdEveryone();
    if (!IsValidSid(everyone_.get())) {
        THROW_WIN32(_T("SecurityEveryone::SecurityEveryone() IsValidSid failed"), GetLastError());
    }
    // The list header, one access-allowed entry (header and mask) and the SID.
    const DWORD size = sizeof(ACL) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + GetLengthSid(everyone_.get());
    accessList_ = std::make_unique<BYTE[]>(size);
    PACL acl = reinterpret_cast<PACL>(accessList_.get());
    if (!InitializeAcl(acl, size, ACL_REVISION)) THROW_WIN32(kInitFailed, GetLastError());
    const DWORD flags = inheritToChildren ? CONTAINER_INHERIT_ACE : 0;
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, flags, GENERIC_ALL, everyone_.get())) {
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
        THROW_WIN32(_T("SecurityEveryone::setSecurityIdEveryone() AllocateAndInitializeSid failed"),
                    GetLastError());
    }
}
