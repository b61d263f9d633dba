// panelmon: the operator-panel monitor of the user's console session.
#include "CMonitor.h"
#include "ModulePath.h"
#include "SCXLogger.h"

#include <windows.h>

#include <cstring>

namespace {
// Held for the life of the process: the instance mutex spelled as the file name spells the prefix.
HANDLE g_firstStageMutex = nullptr;

void firstInstanceStage(const std::string& prefix, const char* commandLine) {
    const std::string name = instanceNameFor(prefix, activeConsoleSession());
    g_firstStageMutex = CreateMutexA(nullptr, TRUE, name.c_str());
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (existed && lstrcmpiA(commandLine, "-u") == 0) closeRunningMonitor(name, prefix + "panelmon.exe");
}

void loadResources(const std::string& libraryName) {
    HMODULE resources = LoadLibraryA(libraryName.c_str());
    monitor_process::resources = resources;
    if (resources == nullptr) return;
    for (int i = 0; i < 3; ++i) {
        LoadStringW(resources, 16 + i, monitor_process::destinationNames[i], kNameBuffer);
    }
    LoadStringA(resources, 19, monitor_process::faxProgramText, kNameBuffer);
    monitor_process::largeIcon = LoadIconA(resources, MAKEINTRESOURCEA(101));
    monitor_process::smallIcon = LoadIconA(resources, MAKEINTRESOURCEA(102));
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
    const char* line = commandLine != nullptr ? commandLine : "";
    const std::string prefix = CSCUtil::getProductPrefix();
    const std::string resourceLibrary = prefix + "panelmonr.dll";
    installLogger(new SCXLogger());
    monitor_process::prefix = prefix;
    firstInstanceStage(prefix, line);
    monitor_process::moduleDirectory = moduleFolder();

    // Never destroyed: the process ends when WinMain returns.
    CMonitor* monitor = new CMonitor();
    monitor->checkPhotoPrograms();

    loadResources(resourceLibrary);
    if (monitor_process::resources == nullptr) return 0;
    monitor->appList().setFixedDestinations({monitor_process::destinationNames[0], monitor_process::destinationNames[1],
                                             monitor_process::destinationNames[2]});
    return monitor->Run(instance, previousInstance, line, showCommand);
}
