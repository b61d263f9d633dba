// Security attributes for objects shared between users. The base holds the attributes record;
// on non-NT systems no descriptor is built and every operation does nothing.
#pragma once

#include "Text.h"

class Security {
public:
    Security();
    virtual ~Security() = default;
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;

    virtual SECURITY_ATTRIBUTES* getAttributes();
    virtual bool applyToKernelObject(HANDLE handle);
    virtual bool applyToRegistryKey(HKEY key);

    bool isNt() const { return isNt_; }

protected:
    SECURITY_ATTRIBUTES attributes_;
    bool isNt_;
};
