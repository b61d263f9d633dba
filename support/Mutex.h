// A named system mutex with per-object hold bookkeeping. The system mutex serialises threads
// and processes; the counts only track what this object's owner thread acquired.
#pragma once

#include "Handles.h"
#include "Text.h"

#include <atomic>

class Mutex {
public:
    // everyoneAccess: the mutex can be opened by every user and logon session.
    Mutex(bool initialOwner, const tstring& name, bool everyoneAccess);  // throws Win32Exception
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    // Closes the handle without releasing holds (the system then sees it abandoned).
    ~Mutex() = default;

    void createMutex(SECURITY_ATTRIBUTES* attributes, bool initialOwner, const tstring& name);
    // 0 returns false at once; INFINITE waits without limit. An abandoned mutex counts as acquired.
    bool acquire(DWORD timeoutMs);
    // From the owner thread only: releases every hold taken through this object.
    void release();
    tstring name() const { return name_; }

private:
    UniqueHandle handle_;
    tstring name_;
    std::atomic<LONG> holdCount_{0};
    std::atomic<DWORD> ownerThread_{0};
};
