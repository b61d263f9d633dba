#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <new>

namespace testing_support {
namespace {
std::atomic<unsigned> g_counter{0};

std::map<std::string, ChildMain>& children() {
    static std::map<std::string, ChildMain> registry;
    return registry;
}

tstring uniqueName() {
    TCHAR name[96];
    _stprintf(name, _T("kvabtest-%lu-%lu-%u"), GetCurrentProcessId(), GetTickCount(), ++g_counter);
    return name;
}

void removeFolder(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeFolder(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}
}  // namespace

namespace {
// Deep enough for any test tree; a registry link back to an ancestor ends here.
constexpr int kKeyTreeDepth = 64;

bool deleteKeyTreeAt(HKEY root, const tstring& path, REGSAM view, int depth);
}  // namespace

bool deleteKeyTree(HKEY root, const tstring& path, REGSAM view) { return deleteKeyTreeAt(root, path, view, 0); }

namespace {
bool deleteKeyTreeAt(HKEY root, const tstring& path, REGSAM view, int depth) {
    if (depth > kKeyTreeDepth) return false;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return true;
    std::vector<tstring> children;
    for (DWORD index = 0;; ++index) {
        TCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyEx(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const tstring& child : children) deleteKeyTreeAt(root, path + _T("\\") + child, view, depth + 1);
    LONG status = RegDeleteKeyEx(root, path.c_str(), view, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
}  // namespace

TestRegistryKey::TestRegistryKey(HKEY root, REGSAM view)
    : root_(root), view_(view), path_(_T("Software\\") + uniqueName()) {
    deleteKeyTree(root_, path_, view_);
}

TestRegistryKey::~TestRegistryKey() { deleteKeyTree(root_, path_, view_); }

PrivateRegistryRoots::PrivateRegistryRoots() : key_(HKEY_CURRENT_USER) {
    for (const std::wstring& path : {classes(L""), machine(L"")}) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegCloseKey(key);
        }
    }
}

std::wstring PrivateRegistryRoots::join(const std::wstring& top, std::wstring path) const {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const tstring& own = key_.path();
    return std::wstring(own.begin(), own.end()) + L"\\" + top + (path.empty() ? L"" : L"\\" + path);
}

LONG PrivateRegistryRoots::use(REGSAM access) {
    HKEY classesKey = nullptr, machineKey = nullptr;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, classes(L"").c_str(), 0, access, &classesKey);
    if (status == ERROR_SUCCESS) status = RegOpenKeyExW(HKEY_CURRENT_USER, machine(L"").c_str(), 0, access, &machineKey);
    if (status == ERROR_SUCCESS) status = RegOverridePredefKey(HKEY_CLASSES_ROOT, classesKey);
    if (status == ERROR_SUCCESS) status = RegOverridePredefKey(HKEY_LOCAL_MACHINE, machineKey);
    // The roots keep keys of their own: these handles are not needed any more.
    if (classesKey != nullptr) RegCloseKey(classesKey);
    if (machineKey != nullptr) RegCloseKey(machineKey);
    return status;
}

void PrivateRegistryRoots::release() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
}

TempFolder::TempFolder(const char* stem) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    char name[96];
    snprintf(name, sizeof(name), "%.40s%lux%lux%u", stem, GetCurrentProcessId(), GetTickCount(), ++g_counter);
    path_ = std::string(temp) + name;
    removeFolder(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { removeFolder(path_); }

std::string ownPath() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string ownFolder() {
    std::string path = ownPath();
    return path.substr(0, path.rfind('\\') + 1);
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

bool registerChild(const std::string& name, ChildMain main) {
    children()[name] = std::move(main);
    return true;
}

int runRegisteredChild(int argc, char** argv, bool& handled) {
    handled = false;
    if (argc < 3 || std::string(argv[1]) != "--child") return 0;
    handled = true;
    auto found = children().find(argv[2]);
    if (found == children().end()) return 201;
    std::vector<std::string> args(argv + 3, argv + argc);
    return found->second(args);
}

HANDLE startProcess(const std::string& commandLine, const char* directory) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

int runCommand(const std::string& commandLine, DWORD timeoutMs) { return exitCodeOf(startProcess(commandLine), timeoutMs); }

int exitCodeOf(HANDLE process, DWORD timeoutMs) {
    if (process == nullptr) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &code);
    } else {
        TerminateProcess(process, 1);
    }
    CloseHandle(process);
    return static_cast<int>(code);
}

std::string pipeCommand(const std::string& prefix, const std::string& line, int attempts) {
    const std::string pipe = "\\\\.\\pipe\\" + prefix + "devlink";
    // The simulator may be between two clients, or its host may still be loading it.
    for (int attempt = 0; attempt < attempts; ++attempt) {
        HANDLE handle = CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(pipe.c_str(), 1000);
            else Sleep(50);
            continue;
        }
        const std::string request = line + "\n";
        DWORD written = 0;
        WriteFile(handle, request.data(), static_cast<DWORD>(request.size()), &written, nullptr);
        std::string reply;
        char buffer[512];
        DWORD read = 0;
        while (reply.find('\n') == std::string::npos && ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) &&
               read > 0) {
            reply.append(buffer, read);
        }
        CloseHandle(handle);
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        return reply;
    }
    return std::string();
}

int countLines(const std::string& text, const std::string& part) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.substr(start, end - start).find(part) != std::string::npos) ++count;
        start = end + 1;
    }
    return count;
}

MissingSystemLibraries::MissingSystemLibraries(const std::string& program, const std::string& libraries)
    : key_("Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides") {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) {
        return;
    }
    size_t start = 0;
    while (start <= libraries.size()) {
        const size_t end = std::min(libraries.find(',', start), libraries.size());
        const std::string name = libraries.substr(start, end - start);
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);  // empty: disabled
        start = end + 1;
    }
    RegCloseKey(key);
}

MissingSystemLibraries::~MissingSystemLibraries() {
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.substr(0, key_.rfind('\\')).c_str());
}

std::string environment(const char* name) {
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) return std::string();
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA(name, &value[0], needed);
    value.resize(length < needed ? length : 0);
    return value;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

DWORD consoleSession() {
    const auto console =
        exportOf<decltype(&WTSGetActiveConsoleSessionId)>(GetModuleHandleA("kernel32"), "WTSGetActiveConsoleSessionId");
    if (console != nullptr) return console();
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

std::string monitorWindowName(const std::string& prefix) {
    return lowerAscii("monitor_" + prefix + "_" + std::to_string(consoleSession()) + "_running");
}

int runChild(const std::string& program, const std::string& name, const std::vector<std::string>& args,
             DWORD timeoutMs) {
    std::string line = "\"" + program + "\" --child " + name;
    for (const std::string& arg : args) line += " \"" + arg + "\"";
    return runCommand(line, timeoutMs);
}

GuardedBuffer::GuardedBuffer(size_t bytes) : size_(bytes) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t pages = (bytes + page - 1) / page + 1;
    base_ = VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr) throw std::bad_alloc();
    unsigned char* guard = static_cast<unsigned char*>(base_) + (pages - 1) * page;
    DWORD old = 0;
    VirtualProtect(guard, page, PAGE_NOACCESS, &old);
    data_ = guard - bytes;
}

GuardedBuffer::~GuardedBuffer() {
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace testing_support
