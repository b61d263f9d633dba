/* The stack protector's guard and its failure, in every binary. The toolchain's own runtime seeds
   the guard through the cryptographic service, which loads libraries at start: inside a library's
   DllMain, where loading another library is not allowed. This one is seeded as Windows' own
   compilers seed theirs, from the clock, the counters, the ids and where the stack lies, with no
   library loaded. Built without the protector: the guard changes while this code runs. */
#include <windows.h>

#include <stdint.h>

uintptr_t __stack_chk_guard = (uintptr_t)0x2B992DDFA232ull;

__attribute__((constructor)) static void seedStackGuard(void) {
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    uintptr_t seed = (uintptr_t)(((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime);
    seed ^= (uintptr_t)counter.QuadPart ^ ((uintptr_t)counter.QuadPart << 16);
    seed ^= (uintptr_t)GetCurrentProcessId() << 8;
    seed ^= (uintptr_t)GetCurrentThreadId();
    seed ^= (uintptr_t)GetTickCount();
    seed ^= (uintptr_t)&seed;
    /* A zero byte first stops a string overrun before it reaches the rest. */
    __stack_chk_guard = seed & ~(uintptr_t)0xFF;
}

/* An overrun was found: the process ends at once, as Windows ends one whose cookie was broken. */
__attribute__((noreturn)) void __stack_chk_fail(void) {
    TerminateProcess(GetCurrentProcess(), (UINT)0xC0000409); /* STATUS_STACK_BUFFER_OVERRUN */
    for (;;) {
    }
}
