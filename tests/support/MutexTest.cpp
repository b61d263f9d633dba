#include "InterProcessLock.h"
#include "Mutex.h"

#include "Exception.h"
#include "SupportTestHelpers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {
tstring uniqueMutexName() {
    static LONG counter = 0;
    return _T("kvabtest-mutex-") + toText(GetCurrentProcessId()) + _T("-") + toText(GetTickCount()) + _T("-") +
           toText(InterlockedIncrement(&counter));
}

// Whether another thread, through its own object, takes the mutex within the timeout; it gives
// it back at once.
bool takenByAnotherThread(const tstring& name, DWORD timeoutMs) {
    bool taken = false;
    std::thread other([&] {
        try {
            Mutex mutex(false, name, false);
            taken = mutex.acquire(timeoutMs);
            if (taken) mutex.release();
        } catch (const Win32Exception& error) {
            ADD_FAILURE() << narrow(error.getMessage()) << " " << error.getCode();
        }
    });
    other.join();
    return taken;
}

// Takes the mutex and ends without releasing it, so the system marks it abandoned.
DWORD WINAPI acquireAndExit(void* name) {
    Mutex mutex(false, *static_cast<const tstring*>(name), false);
    return mutex.acquire(INFINITE) ? 0 : 1;
}
}  // namespace

// Tries the named mutex with the timeout in milliseconds: 1 when taken, 0 when not, 3 on an error.
TEST_CHILD(TryNamedMutex) {
    try {
        Mutex mutex(false, widen(args.at(0)), true);
        bool taken = mutex.acquire(static_cast<DWORD>(std::atoi(args.at(1).c_str())));
        if (taken) mutex.release();
        return taken ? 1 : 0;
    } catch (const Win32Exception&) {
        return 3;
    }
}

TEST(Mutex, AcquireWithZeroTimeoutNeverTakesIt) {
    const tstring name = uniqueMutexName();
    Mutex mutex(false, name, false);
    EXPECT_EQ(name, mutex.name());
    EXPECT_FALSE(mutex.acquire(0));
    EXPECT_TRUE(takenByAnotherThread(name, 1000)) << "acquire(0) must not take the free mutex";
    // Not even for the owner, who could otherwise enter again.
    ASSERT_TRUE(mutex.acquire(1000));
    EXPECT_FALSE(mutex.acquire(0));
    mutex.release();
    EXPECT_TRUE(takenByAnotherThread(name, 1000));
}

TEST(Mutex, OneReleaseUndoesEveryHoldOfTheOwner) {
    const tstring name = uniqueMutexName();
    Mutex mutex(false, name, false);
    ASSERT_TRUE(mutex.acquire(1000));
    ASSERT_TRUE(mutex.acquire(1000));
    EXPECT_FALSE(takenByAnotherThread(name, 100));
    mutex.release();
    EXPECT_TRUE(takenByAnotherThread(name, 1000)) << "one release() must release both holds";
    // Nothing is left to release.
    EXPECT_NO_THROW(mutex.release());
}

TEST(Mutex, ReleaseFromAnotherThreadLeavesItHeld) {
    const tstring name = uniqueMutexName();
    Mutex mutex(false, name, false);
    ASSERT_TRUE(mutex.acquire(1000));
    bool threw = false;
    std::thread([&] {
        try {
            mutex.release();
        } catch (const Win32Exception&) {
            threw = true;
        }
    }).join();
    EXPECT_FALSE(threw);
    EXPECT_FALSE(takenByAnotherThread(name, 100));
    mutex.release();
    EXPECT_TRUE(takenByAnotherThread(name, 1000));
}

TEST(Mutex, InitialOwnerHoldsOnlyAMutexItCreates) {
    const tstring name = uniqueMutexName();
    // A stale last error must not pass for "it already existed".
    SetLastError(ERROR_ALREADY_EXISTS);
    Mutex mutex(true, name, false);
    EXPECT_FALSE(takenByAnotherThread(name, 100));

    // The system ignores the initial-owner request for an existing mutex: the second object counts
    // no hold, so its release neither fails nor frees the first owner's mutex.
    bool threw = true;
    std::thread([&] {
        try {
            Mutex second(true, name, false);
            second.release();
            threw = false;
        } catch (const Win32Exception&) {
        }
    }).join();
    EXPECT_FALSE(threw);
    EXPECT_FALSE(takenByAnotherThread(name, 100));

    mutex.release();
    EXPECT_TRUE(takenByAnotherThread(name, 1000));
}

TEST(Mutex, AbandonedMutexCountsAsAcquired) {
    tstring name = uniqueMutexName();
    Mutex mutex(false, name, false);
    HANDLE thread = CreateThread(nullptr, 0, acquireAndExit, &name, 0, nullptr);
    ASSERT_NE(nullptr, thread) << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    DWORD exitCode = 0xdeadbeef;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    ASSERT_EQ(0u, exitCode) << "the thread did not take the mutex";

    EXPECT_TRUE(mutex.acquire(1000));
    EXPECT_FALSE(takenByAnotherThread(name, 100)) << "an abandoned mutex must pass to the new owner";
    mutex.release();
    EXPECT_TRUE(takenByAnotherThread(name, 1000));
}

// Both builds make their shared mutexes this way: the monitor's log mutex (8-bit) and the
// manager's single-instance mutex (wide).
TEST(Mutex, EveryoneMaySynchroniseButNotAdministerASharedMutex) {
    const tstring name = uniqueMutexName();
    Mutex mutex(false, name, true);
    UniqueHandle opened(OpenMutex(READ_CONTROL | SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(opened) << GetLastError();
    tstring owner;
    expectSharedRights(securityInfoAces(opened.get(), SE_KERNEL_OBJECT, &owner), SYNCHRONIZE | MUTEX_MODIFY_STATE,
                       MUTEX_ALL_ACCESS, 0);

    AsStandardUser user(owner);
    ASSERT_TRUE(user.active()) << GetLastError();
    EXPECT_EQ(nullptr, OpenMutex(WRITE_DAC, FALSE, name.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(nullptr, CreateMutex(nullptr, FALSE, name.c_str())) << "a plain open asks for every right";
    // The class asks only for what everyone has, so another user's logger or manager gets in.
    Mutex second(false, name, true);
    EXPECT_TRUE(second.acquire(1000));
    second.release();
}

TEST(Mutex, MutexesOfEarlierVersionsStillOpenForAStandardUser) {
    // An earlier version's log mutex had no access list at all; its manager mutex granted all.
    SECURITY_DESCRIPTOR nullDacl;
    InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE);
    PSECURITY_DESCRIPTOR everyoneAll = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptor(_T("D:(A;;GA;;;WD)"), SDDL_REVISION_1,
                                                                    &everyoneAll, nullptr));
    UniqueLocal everyoneAllMemory(everyoneAll);
    for (PSECURITY_DESCRIPTOR old : {static_cast<PSECURITY_DESCRIPTOR>(&nullDacl), everyoneAll}) {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), old, FALSE};
        const tstring name = uniqueMutexName();
        UniqueHandle earlier(CreateMutex(&attributes, FALSE, name.c_str()));
        ASSERT_TRUE(earlier) << GetLastError();
        AsStandardUser user(kAdministratorsSid);
        ASSERT_TRUE(user.active());
        Mutex mutex(false, name, true);
        EXPECT_TRUE(mutex.acquire(1000));
        mutex.release();
    }
}

TEST(InterProcessLock, UnnamedMutexThrowsBeforeWaiting) {
    Mutex unnamed(false, tstring(), false);
    EXPECT_TRUE(unnamed.name().empty());
    // Another thread holds the mutex for up to 3 s: a lock that waited first would take that long.
    UniqueHandle ready(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle done(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        unnamed.acquire(INFINITE);
        SetEvent(ready.get());
        WaitForSingleObject(done.get(), 3000);
        unnamed.release();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 10000));

    const DWORD start = GetTickCount();
    Win32Exception error = thrownBy([&] { InterProcessLock lock(unnamed); });
    const DWORD elapsed = GetTickCount() - start;
    SetEvent(done.get());
    holder.join();

    EXPECT_LT(elapsed, 1000u);
    EXPECT_EQ(tstring(_T("InterProcessLock has no name")), error.getMessage());
    EXPECT_EQ(0, error.getCode());
    EXPECT_EQ(tstring(), error.getCodeText());
    EXPECT_EQ(tstring(_T(".\\InterProcessLock")), error.file());
    EXPECT_EQ(16, error.line());
}

TEST(InterProcessLock, HoldsNamedMutexAgainstOtherProcessesForItsScope) {
    const tstring name = uniqueMutexName();
    Mutex mutex(false, name, true);
    {
        InterProcessLock lock(mutex);
        EXPECT_EQ(0, testing_support::runChild(testing_support::ownPath(), "TryNamedMutex", {narrow(name), "200"}));
    }
    EXPECT_EQ(1, testing_support::runChild(testing_support::ownPath(), "TryNamedMutex", {narrow(name), "5000"}));
}
