#include "ScanSession.h"
#include "LibraryLoad.h"
#include "SystemCall.h"

namespace {
template <typename Fn>
Fn slot(void* object, int index) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[index]);
}
}  // namespace

ScanSessionLibrary::ScanSessionLibrary(const std::string& path) : module_(loadLibraryAt(path)) {}

void* ScanSessionLibrary::create(int32_t kind) const {
    if (!module_) return nullptr;
    auto create = entryPoint<CreateSCObjectFn>(module_.get(), "CreateSCObject");
    return create != nullptr ? create(kind) : nullptr;
}

bool ScanSessionLibrary::destroy(int32_t kind, void* object) const {
    if (!module_ || object == nullptr) return false;
    auto destroy = entryPoint<DestroySCObjectFn>(module_.get(), "DestroySCObject");
    if (destroy == nullptr) return false;
    destroy(kind, object);
    return true;
}

namespace scx {
bool setPortText(void* session, const char* text) {
    if (session == nullptr) return false;
    slot<void(__thiscall*)(void*, const char*)>(session, 15)(session, text);
    return true;
}

// A null session object is never handed on: the library would call through it.
bool queryOptions(void* options, uint8_t (&result)[8], void* session) {
    if (options == nullptr || session == nullptr) return false;
    slot<void(__thiscall*)(void*, uint8_t*, void*)>(options, 5)(options, result, session);
    return true;
}

bool addName(void* list, const wchar_t* name, int32_t lengthInChars, int32_t value) {
    if (list == nullptr) return false;
    slot<void(__thiscall*)(void*, const wchar_t*, int32_t, int32_t)>(list, 5)(list, name, lengthInChars, value);
    return true;
}

bool setDefaultName(void* list, const wchar_t* name) {
    if (list == nullptr) return false;
    slot<void(__thiscall*)(void*, const wchar_t*)>(list, 7)(list, name);
    return true;
}

bool sendList(void* options, void* session, void* list) {
    if (options == nullptr || session == nullptr || list == nullptr) return false;
    slot<void(__thiscall*)(void*, void*, void*)>(options, 11)(options, session, list);
    return true;
}
}  // namespace scx
