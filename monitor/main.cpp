// panelmon: the operator-panel monitor. Start-up and the message loop come with the monitor.
#include "SCXLogger.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    installLogger(new SCXLogger());
    BasicLogger* logger = BasicLogger::getInstance();
    if (logger->isEnabled(&g_logPanelmon, LOG_INFO)) {
        logger->writeText(&g_logPanelmon, LOG_INFO, LogText("panelmon started, pid ") << GetCurrentProcessId());
    }
    uninstallLogger();
    return 0;
}
