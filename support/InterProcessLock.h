#pragma once

#include "Mutex.h"

// Holds a named mutex for a scope.
class InterProcessLock {
public:
    explicit InterProcessLock(Mutex& mutex);  // throws Win32Exception when the mutex has no name
    // Waits at most `timeoutMs`; held() tells whether the mutex was taken.
    InterProcessLock(Mutex& mutex, DWORD timeoutMs);
    ~InterProcessLock();
    InterProcessLock(const InterProcessLock&) = delete;
    InterProcessLock& operator=(const InterProcessLock&) = delete;

    bool held() const { return held_; }

private:
    Mutex& mutex_;
    bool held_ = false;
};
