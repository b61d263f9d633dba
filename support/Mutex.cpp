#include "Mutex.h"

#include "Exception.h"
#include "SecurityEveryone.h"

namespace {
const TCHAR kSourceFile[] = _T(".\\Mutex");
}  // namespace

Mutex::Mutex(bool initialOwner, const tstring& name, bool everyoneAccess) : name_(name) {
    if (!everyoneAccess) {
        createMutex(nullptr, initialOwner, name);
        return;
    }
    SecurityEveryone everyone(false, SharedObject::Mutex);
    SECURITY_ATTRIBUTES attributes = *everyone.getAttributes();
    attributes.bInheritHandle = FALSE;  // no started program gets a handle to it
    createMutex(&attributes, initialOwner, name);
}

void Mutex::createMutex(SECURITY_ATTRIBUTES* attributes, bool initialOwner, const tstring& name) {
    // Only the rights every user has on a shared mutex: opening one that another user made must
    // not ask for more (plain creation asks for all of them).
    HANDLE handle = CreateMutexEx(attributes, name.empty() ? nullptr : name.c_str(),
                                  initialOwner ? CREATE_MUTEX_INITIAL_OWNER : 0, kEveryoneMutexAccess);
    DWORD error = GetLastError();
    if (handle == nullptr) THROW_WIN32(_T("Mutex::createMutex() CreateMutex failed"), error);
    handle_.reset(handle);
    name_ = name;
    // Opening an existing named mutex ignores the initial-owner request: count no hold then.
    if (initialOwner && error != ERROR_ALREADY_EXISTS) {
        ownerThread_ = GetCurrentThreadId();
        holdCount_ = 1;
    }
}

bool Mutex::acquire(DWORD timeoutMs) {
    if (timeoutMs == 0) return false;
    DWORD result = WaitForSingleObject(handle_.get(), timeoutMs);
    if (result == WAIT_FAILED) THROW_WIN32(_T("Mutex::acquire() WaitForSingleObject failed"), GetLastError());
    if (result == WAIT_TIMEOUT) return false;
    ownerThread_ = GetCurrentThreadId();
    ++holdCount_;
    return true;
}

void Mutex::release() {
    if (ownerThread_ != GetCurrentThreadId()) return;
    // Clear the bookkeeping before the last release: the next owner writes it as soon as it runs.
    LONG holds = holdCount_.exchange(0);
    ownerThread_ = 0;
    for (; holds > 0; --holds) {
        if (!ReleaseMutex(handle_.get())) {
            DWORD error = GetLastError();
            holdCount_ = holds - 1;
            if (holdCount_ > 0) ownerThread_ = GetCurrentThreadId();
            THROW_WIN32(_T("Mutex::release() ReleaseMutex failed"), error);
        }
    }
}
