#include "Security.h"

#include "OsVersion.h"

Security::Security() : isNt_(OsVersion::instance().isNt()) {
    attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes_.lpSecurityDescriptor = nullptr;
    attributes_.bInheritHandle = TRUE;
}

SECURITY_ATTRIBUTES* Security::getAttributes() { return &attributes_; }

bool Security::applyToKernelObject(HANDLE handle) {
    if (!isNt_ || attributes_.lpSecurityDescriptor == nullptr) return false;
    return SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, attributes_.lpSecurityDescriptor) != FALSE;
}

bool Security::applyToRegistryKey(HKEY key) {
    if (!isNt_ || attributes_.lpSecurityDescriptor == nullptr) return false;
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, attributes_.lpSecurityDescriptor) == ERROR_SUCCESS;
}
