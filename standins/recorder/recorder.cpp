// Stand-in for the programs the monitor starts (light-scan, photo/card, photo and auto-print).
// Each start appends one record to "<program>.journal" beside the program: its command line,
// and a copy of the job file named after "-x" or "-f" when there is one. Then it exits.
#include "ModuleFiles.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {
// The job file follows "-x " or "-f " and runs to the end of the line.
std::string jobFileOf(const std::string& commandLine) {
    for (const char* flag : {" -x ", " -f "}) {
        const size_t at = commandLine.find(flag);
        if (at != std::string::npos) return commandLine.substr(at + std::strlen(flag));
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
