// The "starve" prefix of a report or notify command: while the callback runs, the program that
// loaded this library gets no block of memory bigger than a few bytes from malloc and realloc, as
// when memory has run out but for scraps, and the reply tells whether an exception came back out
// of the callback. Only the program's own imports are turned away: the system and this library
// keep working, which running the whole process out of address space would not allow (under Wine
// the process then ends in the system's own code). The scraps are left because the C++ runtime's
// last-resort exception arena takes a lock whose first use asks for a small block: with none at
// all the runtime ends the process itself, before any handler of the program could run.
#include "Simulator.h"

#include <cstdlib>
#include <cstring>

namespace devlink {
namespace {
constexpr size_t kScrap = 32;

void* __cdecl scrapsOnly(size_t size) { return size <= kScrap ? std::malloc(size) : nullptr; }
void* __cdecl scrapsOnlyMoved(void* block, size_t size) { return size <= kScrap ? std::realloc(block, size) : nullptr; }

struct Refusal {
    const char* name;
    void* replacement;
};
const Refusal kRefusals[] = {
    {"malloc", reinterpret_cast<void*>(&scrapsOnly)},
    {"realloc", reinterpret_cast<void*>(&scrapsOnlyMoved)},
};

const Refusal* refusalFor(const char* name) {
    for (const Refusal& refusal : kRefusals) {
        if (std::strcmp(refusal.name, name) == 0) return &refusal;
    }
    return nullptr;
}
}  // namespace

MemoryStarvation::MemoryStarvation() {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "msvcrt.dll") != 0) continue;
        const DWORD namesAt = library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* named = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const Refusal* refusal = refusalFor(reinterpret_cast<const char*>(named->Name));
            if (refusal == nullptr) continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection)) continue;
            turnedAway_.push_back({slot, *slot, protection});
            *slot = refusal->replacement;
        }
    }
}

MemoryStarvation::~MemoryStarvation() {
    for (const TurnedAway& entry : turnedAway_) {
        *entry.slot = entry.original;
        DWORD unused = 0;
        VirtualProtect(entry.slot, sizeof(void*), entry.protection, &unused);
    }
}

}  // namespace devlink
