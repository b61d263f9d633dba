// Helpers shared by the tests and the benchmarks: a private registry key, a private folder,
// child processes made from the test program itself, and the device simulator's pipe.
#pragma once

#include <windows.h>
#include <tchar.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

using tstring = std::basic_string<TCHAR>;

// A unique key below HKLM\Software (or another root), deleted with everything below it before
// and after use.
class TestRegistryKey {
public:
    explicit TestRegistryKey(HKEY root = HKEY_LOCAL_MACHINE, REGSAM view = 0);
    ~TestRegistryKey();
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    HKEY root() const { return root_; }
    // Path below the root, without a trailing separator, e.g. "Software\kvabtest-1234-1".
    const tstring& path() const { return path_; }
    tstring sub(const tstring& child) const { return path_ + _T("\\") + child; }

private:
    HKEY root_;
    REGSAM view_;
    tstring path_;
};

// The process's HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE turned to two private keys, "classes"
// and "machine" below a private key of the current user, so that work on those roots disturbs
// no other process.
class PrivateRegistryRoots {
public:
    PrivateRegistryRoots();
    // Paths below HKEY_CURRENT_USER of a key in each private root ("" for the root itself).
    std::wstring classes(const std::wstring& path) const { return join(L"classes", path); }
    std::wstring machine(const std::wstring& path) const { return join(L"machine", path); }
    // Turns the two roots to the private keys, opened with `access`: 0, or the first failure.
    LONG use(REGSAM access = KEY_READ);
    // Puts the system's roots back.
    void release();

private:
    std::wstring join(const std::wstring& top, std::wstring path) const;
    TestRegistryKey key_;
};

// A unique, empty folder in the temporary directory, removed with its contents afterwards.
class TempFolder {
public:
    // `stem` starts the folder's name; the rest makes it unique and holds no "-", which cuts a
    // registered program's path.
    explicit TempFolder(const char* stem = "kvabtest");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }  // ends without a separator
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// `bytes` of writable memory that end where an inaccessible page begins: a write one byte past
// the end faults at once instead of going unnoticed.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t bytes);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    template <typename T>
    T* as() const { return reinterpret_cast<T*>(data_); }
    size_t size() const { return size_; }

private:
    void* base_ = nullptr;
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

// Deletes a key and everything below it; true when it is gone.
bool deleteKeyTree(HKEY root, const tstring& path, REGSAM view = 0);

// Full path of the running test program, and its folder (ending in "\").
std::string ownPath();
std::string ownFolder();

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

// Child modes: a test registers a function under a name; the test program started with
// "--child <name> [args...]" runs it and exits with its result.
using ChildMain = std::function<int(const std::vector<std::string>& args)>;
bool registerChild(const std::string& name, ChildMain main);
#define TEST_CHILD(name)                                                                   \
    static int name##_child(const std::vector<std::string>& args);                        \
    static const bool name##_registered = ::testing_support::registerChild(#name, name##_child); \
    static int name##_child(const std::vector<std::string>& args)

// Runs a copy or the test program itself in a child mode and waits for it; returns the exit
// code, or -1 when it could not be started or did not end within the timeout.
int runChild(const std::string& program, const std::string& name, const std::vector<std::string>& args = {},
             DWORD timeoutMs = 60000);
// Starts a command line; the process handle, or null.
HANDLE startProcess(const std::string& commandLine, const char* directory = nullptr);
// Runs a whole command line and waits; the exit code or -1.
int runCommand(const std::string& commandLine, DWORD timeoutMs = 60000);
// Waits for a started process (null: none) and closes its handle; its exit code, or -1 when it
// did not end in time (it is then ended).
int exitCodeOf(HANDLE process, DWORD timeoutMs);

// One command line to the device simulator named `prefix`devlink.dll; its reply without the line
// end, or "" when its pipe can't be reached in `attempts` tries (some 50 ms each).
std::string pipeCommand(const std::string& prefix, const std::string& line, int attempts = 100);

// How many lines of `text` contain `part`.
int countLines(const std::string& text, const std::string& part);
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
// System libraries come from the system folder only, so a test can't plant a broken copy to make
// one fail to load: it tells Wine's loader instead that `libraries` (comma-separated names) are
// missing for programs of the file name `program`, until destroyed. Wine reads it at a start.
class MissingSystemLibraries {
public:
    MissingSystemLibraries(const std::string& program, const std::string& libraries);
    ~MissingSystemLibraries();
    MissingSystemLibraries(const MissingSystemLibraries&) = delete;
    MissingSystemLibraries& operator=(const MissingSystemLibraries&) = delete;

private:
    std::string key_;
};

// A variable of this process's environment; empty when it is not set.
std::string environment(const char* name);
// ASCII letters in lower case, other bytes as they are.
std::string lowerAscii(std::string text);

// The console's session, or this process's where the system can't tell.
DWORD consoleSession();
// The title of the hidden window of the monitor under `prefix` in the console session.
std::string monitorWindowName(const std::string& prefix);

// An export of `module` (or of a system library) with its exact type; null when it is missing.
template <typename Fn>
Fn exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Used by the test main.
int runRegisteredChild(int argc, char** argv, bool& handled);

}  // namespace testing_support
