// The committed private memory of this process, counted page range by page range: Wine's
// process counters don't answer it. Header-only, so the tests that watch their own memory
// count it the same way.
#pragma once

#include <windows.h>

namespace standin {

inline unsigned long long committedPrivateBytes() {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

}  // namespace standin
