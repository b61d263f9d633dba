// Stand-in for the programs the monitor starts (light-scan, photo/card, photo and auto-print).
// Each start appends one record to "<program>.journal" beside the program: its command line,
// and a copy of the job file named after "-x" or "-f" when there is one ("nofile" when that
// argument names none). Then it exits.
#include "ModuleFiles.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {
// The job file is the argument after "-x " or "-f ", read as a program's argument list has it:
// a quoted one runs to its closing quote, any other to the next space.
std::string jobFileOf(const std::string& commandLine) {
    for (const char* flag : {" -x ", " -f "}) {
        size_t at = commandLine.find(flag);
        if (at == std::string::npos) continue;
        at += std::strlen(flag);
        if (commandLine.compare(at, 1, "\"") == 0) {
            const size_t close = commandLine.find('"', at + 1);
            return commandLine.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
        }
        return commandLine.substr(at, commandLine.find_first_of(" \t", at) - at);
    }
    return std::string();
}

std::string readWhole(const std::string& path, bool& found) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    found = static_cast<bool>(file);
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string commandLine = GetCommandLineA();
    std::string record = "command " + commandLine + "\r\n";
    const std::string job = jobFileOf(commandLine);
    if (!job.empty()) {
        bool found = false;
        const std::string bytes = readWhole(job, found);
        if (found) {
            record += "file " + std::to_string(bytes.size()) + "\r\n" + bytes + "\r\n";
        } else {
            record += "nofile\r\n";
        }
    }
    record += "end\r\n";

    // Several programs may start at once: one writer at a time keeps the records whole.
    UniqueHandle lock(CreateMutexA(nullptr, FALSE, "panelmon-recorder-journal"));
    const DWORD wait = lock ? WaitForSingleObject(lock.get(), 10000) : WAIT_FAILED;
    const bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    standin::appendToFile(standin::besideModule(nullptr, ".journal"), record);
    if (owned) ReleaseMutex(lock.get());
    return 0;
}
