// panelmon: the operator-panel monitor of the user's console session.
#include "AsciiText.h"
#include "CMonitor.h"
#include "LibraryLoad.h"
#include "ModulePath.h"
#include "MonitorLog.h"
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
    HMODULE resources = loadSiblingLibrary(libraryName);
    monitor_process::resources = resources;
    if (resources == nullptr) {
        const DWORD error = GetLastError();
        monitor_log::logError(LogText("The resource library ") << libraryName << " can't be loaded from "
                                                                << monitor_process::moduleDirectory << ": error " << error);
        return;
    }
    for (int i = 0; i < 3; ++i) {
        LoadStringW(resources, 16 + i, monitor_process::destinationNames[i], kNameBuffer);
    }
    LoadStringA(resources, 19, monitor_process::faxProgramText, kNameBuffer);
    monitor_process::largeIcon = LoadIconA(resources, MAKEINTRESOURCEA(101));
    monitor_process::smallIcon = LoadIconA(resources, MAKEINTRESOURCEA(102));
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
    // Before anything loads: siblings from the program's folder, the rest from the system's.
    restrictLibrarySearch();
    const char* line = commandLine != nullptr ? commandLine : "";
    const std::string prefix = CSCUtil::getProductPrefix();
    const std::string resourceLibrary = prefix + "panelmonr.dll";
    installLogger(new SCXLogger());
    monitor_process::prefix = prefix;
    firstInstanceStage(prefix, line);
    monitor_process::moduleDirectory = moduleFolder();
    if (monitor_process::moduleDirectory.empty()) {
        // Every sibling is named in the folder: with none, a name would point somewhere else.
        monitor_log::logError("The program's folder is unknown or its path is longer than 259 characters: the "
                              "monitor does not run");
        return 0;
    }

    // Never destroyed: the process ends when WinMain returns.
    CMonitor* monitor = new CMonitor(equalIgnoringAsciiCase(line, "-s"));
    monitor->checkPhotoPrograms();

    loadResources(resourceLibrary);
    if (monitor_process::resources == nullptr) return 0;
    monitor->appList().setFixedDestinations({monitor_process::destinationNames[0], monitor_process::destinationNames[1],
                                             monitor_process::destinationNames[2]});
    return monitor->Run(instance, previousInstance, line, showCommand);
}
