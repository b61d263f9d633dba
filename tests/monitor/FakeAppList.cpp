// Test double of the application-list library for the monitor's tests: GetWideAppList hands
// out the UTF-8 document of "<dll name>.txt" beside the DLL, with the library's two-call size
// protocol. The real library has tests of its own.
#include "ModuleFiles.h"

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace {
HMODULE g_self = nullptr;

std::wstring document() {
    std::ifstream in(standin::besideModule(g_self, ".txt"), std::ios::binary);
    if (!in) return L"<APPLIST>\r\n</APPLIST>";
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return standin::attachModule(instance, reason, g_self);
}

extern "C" LONG WINAPI Initialize() { return 0; }
extern "C" LONG WINAPI CreateAppList() { return 0; }

extern "C" LONG WINAPI GetWideAppList(wchar_t* buffer, uint32_t size, uint32_t* needed) {
    if (needed == nullptr) return ERROR_INVALID_PARAMETER;
    const std::wstring text = document();
    *needed = static_cast<uint32_t>(text.size() + 1);
    if (buffer == nullptr || size < *needed) return buffer == nullptr && size >= *needed ? ERROR_INVALID_PARAMETER
                                                                                         : ERROR_INSUFFICIENT_BUFFER;
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return 0;
}
