// A system library bound at its first use instead of when the module that needs it loads: work
// that never needs it never pays for it. It comes from the system folder only, so a copy planted
// beside a host program is never taken for it. Once loaded it stays for the life of the process;
// a load that fails is tried again at the next use.
#pragma once

#include "LibraryLoad.h"
#include "SystemCall.h"

#include <atomic>

class LazyLibrary {
public:
    explicit LazyLibrary(const char* name) : name_(name) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // The entry point with its exact type; null when the library or the name is missing, with
    // the system's error left for GetLastError.
    template <typename Fn>
    Fn entry(const char* function) {
        return entryPoint<Fn>(module(), function);
    }

private:
    HMODULE module() {
        if (HMODULE loaded = module_.load()) return loaded;
        HMODULE loaded = loadSystemLibrary(name_);
        if (loaded == nullptr) return nullptr;
        HMODULE earlier = nullptr;
        if (module_.compare_exchange_strong(earlier, loaded)) return loaded;
        FreeLibrary(loaded);  // another thread's load won
        return earlier;
    }

    const char* name_;
    std::atomic<HMODULE> module_{nullptr};
};

// Binds `function` of a LazyLibrary as a variable of its own exact type:
//   auto find = LAZY_ENTRY(shell32, FindExecutableW);
#define LAZY_ENTRY(library, function) (library).entry<decltype(&::function)>(#function)
