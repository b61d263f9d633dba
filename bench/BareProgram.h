// The bare program the benchmarks compare the monitor with: the device-library calls the
// monitor makes to hear one device, and only the work a benchmark gives its report callback.
// A benchmark starts itself as "<program> --bare FOLDER PREFIX ..." for it, in a folder of its
// own beside a copy of the simulator.
#pragma once

#include "BenchSupport.h"

#include "DcsContract.h"

#include <functional>
#include <string>

namespace bench {

// In the bare process: the first interface of FOLDER\PREFIXdevlink.dll opened and registered for
// reports (and notifications, when given), `beforeOpen` run between the enumeration and the open;
// all given back at destruction.
class BareListener {
public:
    BareListener() = default;
    BareListener(const BareListener&) = delete;
    BareListener& operator=(const BareListener&) = delete;
    ~BareListener();
    bool open(const std::string& folder, const std::string& prefix, ReportCallback report,
              NotificationCallback notification = nullptr, const std::function<void()>& beforeOpen = {});
    HMODULE library() const { return library_; }
    uint32_t client() const { return client_; }

private:
    HMODULE library_ = nullptr;
    uint32_t client_ = 0;
    DcsHandle handle_ = 0;
    bool reports_ = false, notifications_ = false;
};

// The bare program's window class (registered once) and its hidden top-level window (made once).
void registerBareClass();
HWND bareWindow();

// Marks the bare program ready and serves until the benchmark takes the mark away; with
// `window`, from a hidden top-level window's message loop, as the monitor does.
void serveUntilStopped(const std::string& folder, bool window);

// The work a bare callback does as the monitor would: the job file under a name of its own,
// and a program started without waiting for it.
void writeJobFile(const std::string& path, const std::string& bytes, DWORD disposition = CREATE_NEW);
void startDetached(const std::string& commandLine);

// In the benchmark: the bare program's folder, with a temp folder, a copy of the simulator under
// `prefix` and a one-device scenario, and its process.
class BareProgram {
public:
    static constexpr const char* kScenario = "device port=USB001 transport=USB1 model=KV-1 hids=1\n";

    explicit BareProgram(const std::string& prefix);
    BareProgram(const BareProgram&) = delete;
    BareProgram& operator=(const BareProgram&) = delete;
    // Stops the program: its ready mark taken away, 10 s to end.
    ~BareProgram();
    // A built binary copied into the folder as `as`.
    void copyBuilt(const std::string& builtName, const std::string& as);
    // Starts "<this program> --bare FOLDER PREFIX `arguments`".
    bool start(const std::string& arguments = std::string());
    bool waitUntilReady();
    bool ready() const;
    HANDLE process() const { return process_; }
    const std::string& prefix() const { return prefix_; }
    std::string file(const std::string& name) const { return folder_.file(name); }
    std::string tempFolder() const { return folder_.file("temp"); }
    std::string journal() const { return readFile(folder_.file(prefix_ + "devlink.journal")); }
    std::string command(const std::string& text) { return pipeCommand(prefix_, text); }

private:
    std::string prefix_;
    Folder folder_;
    HANDLE process_ = nullptr;
};

}  // namespace bench
