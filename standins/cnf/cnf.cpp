// Stand-in for the configuration library: answers "GetConfigData" with item texts from the text
// file beside the DLL (same name, ".txt"), or with the built-in defaults when there is none.
//
// The file is read at every call, so tests can change it between calls. Lines:
//   <item>=<text>       the item's text (an empty text is allowed)
//   missing=<item>      the item does not exist (the call returns 1168)
//   sizecode=<n>        the size query returns n instead of 3
//   datacode=<n>        the data call returns n instead of 0
//   # ...               a comment
#include "ModuleFiles.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

namespace {
HMODULE g_self = nullptr;

constexpr LONG kSizeReported = 3;
constexpr LONG kCopied = 0;

struct Answers {
    std::map<unsigned long, std::string> items = {
        {10002, "Software\\Kelvara"}, {10000, "KV Model"}, {10001, "Kelvara"}};
    LONG sizeCode = kSizeReported;
    LONG dataCode = kCopied;
};

Answers loadAnswers() {
    Answers answers;
    std::ifstream in(standin::besideModule(g_self, ".txt"));
    if (!in) return answers;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "missing") {
            answers.items.erase(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "sizecode") {
            answers.sizeCode = std::strtol(value.c_str(), nullptr, 10);
        } else if (key == "datacode") {
            answers.dataCode = std::strtol(value.c_str(), nullptr, 10);
        } else {
            answers.items[std::strtoul(key.c_str(), nullptr, 10)] = value;
        }
    }
    return answers;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return standin::attachModule(instance, reason, g_self);
}

// First call without a buffer: returns 3 and the size (text and its NUL). Second call with a
// buffer of at least that size: copies the text and returns 0.
extern "C" LONG WINAPI GetConfigData(DWORD reserved, DWORD item, DWORD subItem, void* buffer, DWORD* size) {
    (void)reserved;
    (void)subItem;
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    static std::atomic<bool> timed{false};
    if (!timed.exchange(true)) {
        standin::timeLineTo(standin::besideModule(g_self, ".journal"), "GetConfigData, the first");
    }
    const Answers answers = loadAnswers();
    auto found = answers.items.find(item);
    if (found == answers.items.end()) return ERROR_NOT_FOUND;
    const DWORD needed = static_cast<DWORD>(found->second.size() + 1);
    if (buffer == nullptr) {
        *size = needed;
        return answers.sizeCode;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, found->second.c_str(), needed);
    *size = needed;
    return answers.dataCode;
}
