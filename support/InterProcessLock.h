#pragma once

#include "Mutex.h"

// Holds a named mutex for a scope.
class InterProcessLock {
public:
    explicit InterProcessLock(Mutex& mutex);  // throws Win32Exception when the mutex has no name
    ~InterProcessLock();
    InterProcessLock(const InterProcessLock&) = delete;
    InterProcessLock& operator=(const InterProcessLock&) = delete;

private:
    Mutex& mutex_;
};
