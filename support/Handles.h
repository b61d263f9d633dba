// One move-only owner per handle kind. Closing keeps the caller's last error, so a destructor
// never changes the error a caller is about to read.
#pragma once

#include <windows.h>

#include <utility>

template <typename T, typename Closer, T Invalid = T()>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return Closer::valid(value_); }
    T release() { return std::exchange(value_, Invalid); }
    void reset(T value = Invalid) {
        T old = std::exchange(value_, value);
        if (Closer::valid(old)) {
            DWORD error = GetLastError();
            Closer::close(old);
            SetLastError(error);
        }
    }
    // For out-parameters of system calls: frees the current value first.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid;
};

struct KernelHandleCloser {
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct RegistryKeyCloser {
    static bool valid(HKEY k) { return k != nullptr; }
    static void close(HKEY k) { RegCloseKey(k); }
};
struct ModuleCloser {
    static bool valid(HMODULE m) { return m != nullptr; }
    static void close(HMODULE m) { FreeLibrary(m); }
};
struct SidCloser {
    static bool valid(PSID s) { return s != nullptr; }
    static void close(PSID s) { FreeSid(s); }
};
struct LocalMemoryCloser {
    static bool valid(HLOCAL m) { return m != nullptr; }
    static void close(HLOCAL m) { LocalFree(m); }
};
struct GlobalMemoryCloser {
    static bool valid(HGLOBAL m) { return m != nullptr; }
    static void close(HGLOBAL m) { GlobalFree(m); }
};

struct HookCloser {
    static bool valid(HHOOK hook) { return hook != nullptr; }
    static void close(HHOOK hook) { UnhookWindowsHookEx(hook); }
};

using UniqueHandle = UniqueResource<HANDLE, KernelHandleCloser>;
using UniqueKey = UniqueResource<HKEY, RegistryKeyCloser>;
using UniqueModule = UniqueResource<HMODULE, ModuleCloser>;
using UniqueSid = UniqueResource<PSID, SidCloser>;
using UniqueLocal = UniqueResource<HLOCAL, LocalMemoryCloser>;
using UniqueGlobal = UniqueResource<HGLOBAL, GlobalMemoryCloser>;
using UniqueHook = UniqueResource<HHOOK, HookCloser>;
