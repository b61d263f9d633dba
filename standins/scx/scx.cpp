// Stand-in for the scan-session object library. Objects of kinds 0, 2 and 4 answer the
// operations the monitor calls by slot and journal each call, one line at a time, to the file
// beside the DLL with the same name and ".journal". The kind-0 option answer comes from the
// line "options=<byte>" (decimal or 0x hex) of "<dll name>.txt" beside the DLL, default 0.
#include "ModuleFiles.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {
HMODULE g_self = nullptr;

std::string besideDll(const char* extension) { return standin::besideModule(g_self, extension); }

void journal(const std::string& line) { standin::journalLine(g_self, line); }

std::string narrow(const wchar_t* text, int32_t length) {
    if (text == nullptr) return "(null)";
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    length = static_cast<int32_t>(wcsnlen(text, static_cast<size_t>(length)));
    if (length == 0) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    return out;
}

std::string pointerText(const void* pointer) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%p", pointer);
    return buffer;
}

uint8_t configuredOptions() {
    std::ifstream in(besideDll(".txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 8, "options=") == 0) return static_cast<uint8_t>(std::strtoul(line.c_str() + 8, nullptr, 0));
    }
    return 0;
}

// Each kind declares its slots in order from 0 with no virtual destructor, so the table has
// exactly this layout. The operations use the member-function convention, whose callee removes
// its own arguments: each slot's parameters must match what the caller pushes.
#define PLACEHOLDER(n) \
    virtual void slot##n() {}

class OptionsObject final {  // kind 0
public:
    PLACEHOLDER(0) PLACEHOLDER(1) PLACEHOLDER(2) PLACEHOLDER(3) PLACEHOLDER(4)
    virtual void queryOptions(uint8_t* result, void* session) {
        if (result != nullptr) {
            for (int i = 0; i < 8; ++i) result[i] = 0;
            result[0] = configuredOptions();
        }
        journal("options session=" + pointerText(session) + " answer=" + std::to_string(result ? result[0] : 0));
    }
    PLACEHOLDER(6) PLACEHOLDER(7) PLACEHOLDER(8) PLACEHOLDER(9) PLACEHOLDER(10)
    virtual void sendList(void* session, void* list);
};

class SessionObject final {  // kind 2
public:
    PLACEHOLDER(0) PLACEHOLDER(1) PLACEHOLDER(2) PLACEHOLDER(3) PLACEHOLDER(4) PLACEHOLDER(5) PLACEHOLDER(6)
    PLACEHOLDER(7) PLACEHOLDER(8) PLACEHOLDER(9) PLACEHOLDER(10) PLACEHOLDER(11) PLACEHOLDER(12) PLACEHOLDER(13)
    PLACEHOLDER(14)
    virtual void setPortText(const char* text) {
        port_ = text != nullptr ? text : "";
        journal("portText " + (text != nullptr ? port_ : std::string("(null)")));
    }
    // The port of the last text, with or without its PortName tags.
    std::string port() const {
        const std::string open = "<PortName>", close = "</PortName>";
        if (port_.compare(0, open.size(), open) != 0) return port_;
        const size_t end = port_.find(close, open.size());
        return port_.substr(open.size(), end == std::string::npos ? std::string::npos : end - open.size());
    }

private:
    std::string port_;
};

// How often the device library holds the scanner of `port` as the list goes out: "" when the
// simulated device library is not loaded beside this one.
std::string heldText(const std::string& port) {
    using OpensFn = LONG(WINAPI*)(const char*);
    const std::string name = standin::moduleName(g_self);
    HMODULE devices = GetModuleHandleA((name.substr(0, 4) + "devlink.dll").c_str());
    auto opens = devices != nullptr ? reinterpret_cast<OpensFn>(
                                          reinterpret_cast<void*>(GetProcAddress(devices, "SimScannerOpens")))
                                    : nullptr;
    return opens != nullptr ? " port=" + port + " held=" + std::to_string(opens(port.c_str())) : std::string();
}

void OptionsObject::sendList(void* session, void* list) {
    const std::string held = session != nullptr ? heldText(static_cast<SessionObject*>(session)->port()) : "";
    journal("sendList session=" + pointerText(session) + " list=" + pointerText(list) + held);
}

class ListObject final {  // kind 4
public:
    PLACEHOLDER(0) PLACEHOLDER(1) PLACEHOLDER(2) PLACEHOLDER(3) PLACEHOLDER(4)
    virtual void addName(const wchar_t* name, int32_t length, int32_t value) {
        journal("addName name=" + narrow(name, length) + " length=" + std::to_string(length) +
                " value=" + std::to_string(value));
    }
    PLACEHOLDER(6)
    virtual void setDefault(const wchar_t* name) { journal("setDefault name=" + narrow(name, -1)); }
};
#undef PLACEHOLDER
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return standin::attachModule(instance, reason, g_self);
}

extern "C" void* WINAPI CreateSCObject(int32_t kind) {
    if (kind != 0 && kind != 2 && kind != 4) {
        journal("create kind=" + std::to_string(kind) + " refused");
        return nullptr;
    }
    void* object = kind == 0 ? static_cast<void*>(new OptionsObject)
                 : kind == 2 ? static_cast<void*>(new SessionObject)
                             : static_cast<void*>(new ListObject);
    journal("create kind=" + std::to_string(kind) + " object=" + pointerText(object));
    return object;
}

extern "C" void WINAPI DestroySCObject(int32_t kind, void* object) {
    journal("destroy kind=" + std::to_string(kind) + " object=" + pointerText(object));
    switch (kind) {
        case 0: delete static_cast<OptionsObject*>(object); break;
        case 2: delete static_cast<SessionObject*>(object); break;
        case 4: delete static_cast<ListObject*>(object); break;
        default: break;  // not ours: leave it alone
    }
}
