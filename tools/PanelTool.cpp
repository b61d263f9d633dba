// The panel tool: presses the simulated device's buttons. Builds the panel report for a named
// command, hands it to the device simulator through its pipe and says what came of it.
#include "PanelReport.h"

#include "Handles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr int kUnreachable = 2;
constexpr int kUsage = 3;
constexpr DWORD kConnectMs = 5000;

// One command line to the pipe, one reply line back; "" with `error` set when unreachable.
std::string exchange(const std::string& pipe, const std::string& line, DWORD& error) {
    UniqueHandle handle;
    const DWORD start = GetTickCount();
    for (;;) {
        handle.reset(CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        error = GetLastError();
        if (handle) break;
        if (GetTickCount() - start >= kConnectMs) return std::string();
        // Busy: the simulator serves one client at a time. Missing: it may be starting.
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeA(pipe.c_str(), 1000);
        } else {
            Sleep(100);
        }
    }
    const std::string request = line + "\n";
    DWORD written = 0;
    if (!WriteFile(handle.get(), request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) {
        error = GetLastError();
        return std::string();
    }
    std::string reply;
    char buffer[512];
    DWORD read = 0;
    while (reply.find('\n') == std::string::npos &&
           ReadFile(handle.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        reply.append(buffer, read);
    }
    error = GetLastError();
    reply = reply.substr(0, reply.find('\n'));
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    return reply;
}

// This program's file name, and the simulator pipe of its product prefix (its first 4 characters).
std::string ownName() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length < MAX_PATH ? length : 0);
    const std::string name = full.substr(full.rfind('\\') + 1);
    return name.empty() ? "kvabpanel.exe" : name;
}
}  // namespace

int main(int argc, char** argv) {
    const std::string program = ownName();
    std::string pipe = "\\\\.\\pipe\\" + program.substr(0, 4) + "devlink";
    std::string port = "USB001";
    int hid = 0;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!words.empty()) {
            words.push_back(word);  // everything after the command belongs to it
        } else if (word == "--help" || word == "-h" || word == "/?") {
            std::fputs(panel::usage(program).c_str(), stdout);
            return 0;
        } else if (word == "--pipe" && hasValue) {
            pipe = argv[++i];
        } else if (word == "--prefix" && hasValue) {
            pipe = std::string("\\\\.\\pipe\\") + argv[++i] + "devlink";
        } else if (word == "--port" && hasValue) {
            port = argv[++i];
        } else if (word == "--hid" && hasValue) {
            hid = std::atoi(argv[++i]);
        } else if (word.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "Unknown or incomplete option %s\n\n%s", word.c_str(), panel::usage(program).c_str());
            return kUsage;
        } else {
            words.push_back(word);
        }
    }
    if (words.empty()) {
        std::fputs(panel::usage(program).c_str(), stderr);
        return kUsage;
    }
    const panel::Command command = panel::buildCommand(words, port, hid);
    if (command.kind == panel::Command::Invalid) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), command.error.c_str());
        return kUsage;
    }
    std::string line = command.control;
    if (command.kind == panel::Command::Report) {
        line = panel::reportLine(port, hid, command.report);
        std::printf("Report for %s hid %d: %s\n", port.c_str(), hid,
                    command.report.empty() ? "(no bytes)" : panel::toHex(command.report).c_str());
    }
    DWORD error = 0;
    const std::string reply = exchange(pipe, line, error);
    if (reply.empty()) {
        std::printf("The simulator at %s did not answer (error %lu). Is the monitor running?\n", pipe.c_str(),
                    static_cast<unsigned long>(error));
        return kUnreachable;
    }
    const panel::Outcome outcome = panel::describeReply(reply);
    std::printf("%s\n", outcome.words.c_str());
    return outcome.exitCode;
}
