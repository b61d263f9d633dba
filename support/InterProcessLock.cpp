#include "InterProcessLock.h"

#include "Exception.h"

InterProcessLock::InterProcessLock(Mutex& mutex) : InterProcessLock(mutex, INFINITE) {}

InterProcessLock::InterProcessLock(Mutex& mutex, DWORD timeoutMs) : mutex_(mutex) {
    // Line 16 is where this failure has always been reported from.
    if (mutex_.name().empty()) {
        throw Win32Exception(_T("InterProcessLock has no name"), 0, _T(".\\InterProcessLock"), 16);
    }
    held_ = mutex_.acquire(timeoutMs);
}

InterProcessLock::~InterProcessLock() {
    if (!held_) return;
    try {
        mutex_.release();
    } catch (const Win32Exception&) {
        // A destructor must not throw; the handle close will abandon the mutex if it is still held.
    }
}
