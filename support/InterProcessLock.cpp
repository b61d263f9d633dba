#include "InterProcessLock.h"

#include "Exception.h"

InterProcessLock::InterProcessLock(Mutex& mutex) : mutex_(mutex) {
    // Line 16 is where this failure has always been reported from.
    if (mutex_.name().empty()) {
        throw Win32Exception(_T("InterProcessLock has no name"), 0, _T(".\\InterProcessLock"), 16);
    }
    mutex_.acquire(INFINITE);
}

InterProcessLock::~InterProcessLock() {
    try {
        mutex_.release();
    } catch (const Win32Exception&) {
        // A destructor must not throw; the handle close will abandon the mutex if it is still held.
    }
}
