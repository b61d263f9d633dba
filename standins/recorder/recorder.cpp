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
    found = false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    found = true;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
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
    HANDLE lock = CreateMutexA(nullptr, FALSE, "panelmon-recorder-journal");
    if (lock != nullptr) WaitForSingleObject(lock, 10000);
    HANDLE journal = CreateFileA(standin::besideModule(nullptr, ".journal").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (journal != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(journal, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        CloseHandle(journal);
    }
    if (lock != nullptr) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    return 0;
}
