// Attributes whose descriptor grants the Everyone group full access; optionally inherited by
// subkeys of a key created with them.
#pragma once

#include "Handles.h"
#include "Security.h"

#include <memory>

class SecurityEveryone : public Security {
public:
    explicit SecurityEveryone(bool inheritToChildren);  // throws Win32Exception
    ~SecurityEveryone() override;

private:
    void setSecurityIdEveryone();

    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
    std::unique_ptr<BYTE[]> accessList_;
    UniqueSid everyone_;
};
