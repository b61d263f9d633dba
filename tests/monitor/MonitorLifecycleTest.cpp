#include "MonitorHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
const char kOneDevice[] = "device port=USB001 transport=USB1 model=KV-Scan hids=1\n";

TEST_CHILD(sleep_forever) {
    (void)args;
    Sleep(INFINITE);
    return 0;
}

bool sessionControllerExists(const std::string& prefix) {
    const std::string name = "Session Controller " + prefix;
    return FindWindowA(name.c_str(), name.c_str()) != nullptr;
}

// The server window is made while the main window handles its creation, so the main window
// can be found a moment before it.
bool waitForSessionController(const std::string& prefix) {
    for (int i = 0; i < 200; ++i) {
        if (sessionControllerExists(prefix)) return true;
        Sleep(25);
    }
    return false;
}
}  // namespace

TEST(MonitorLifecycle, OneInstancePerSessionAndUnloadClosesIt) {
    MonitorHarness monitor("lc01", kOneDevice);
    EXPECT_EQ(0, monitor.runToEnd("-u")) << "-u with no monitor running";

    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow()) << "the hidden main window";
    EXPECT_TRUE(waitForSessionController("lc01"));

    EXPECT_EQ(0, monitor.runToEnd("")) << "a second plain start exits at once";
    EXPECT_TRUE(monitor.running()) << "and leaves the first alone";
    EXPECT_NE(nullptr, FindWindowA(nullptr, monitor.instanceName().c_str()));

    EXPECT_EQ(0, monitor.runToEnd("-U")) << "switches ignore case";
    EXPECT_EQ(0, monitor.waitForExit());
    EXPECT_EQ(nullptr, FindWindowA(nullptr, monitor.instanceName().c_str()));
    EXPECT_FALSE(sessionControllerExists("lc01")) << "the session controller server stopped";
    EXPECT_TRUE(monitor.waitForLog("Ending Session Controller Server: ")) << monitor.log();
}

TEST(MonitorLifecycle, UnloadEndsALeftoverProcessOfTheSameName) {
    MonitorHarness monitor("lc02", kOneDevice);
    // A process with the monitor's file name that has no window, started before the monitor.
    const std::string leftoverFolder = monitor.folder() + "\\left";
    CreateDirectoryA(leftoverFolder.c_str(), nullptr);
    const std::string leftoverExe = leftoverFolder + "\\lc02panelmon.exe";
    ASSERT_TRUE(CopyFileA(ownPath().c_str(), leftoverExe.c_str(), FALSE));
    std::string line = "\"" + leftoverExe + "\" --child sleep_forever";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION leftover = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &leftover));
    CloseHandle(leftover.hThread);

    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    EXPECT_EQ(0, monitor.runToEnd("-u"));
    EXPECT_EQ(0, monitor.waitForExit());
    const DWORD ended = WaitForSingleObject(leftover.hProcess, 10000);
    if (ended != WAIT_OBJECT_0) TerminateProcess(leftover.hProcess, 1);
    CloseHandle(leftover.hProcess);
    EXPECT_EQ(WAIT_OBJECT_0, ended) << "the leftover was terminated";
    DeleteFileA(leftoverExe.c_str());
}

TEST(MonitorLifecycle, WithoutItsResourceLibraryTheMonitorDoesNotRun) {
    MonitorHarness monitor("lc03", kOneDevice);
    monitor.removeFile("lc03panelmonr.dll");
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(0, monitor.waitForExit());
    EXPECT_EQ(nullptr, FindWindowA(nullptr, monitor.instanceName().c_str()));
}

TEST(MonitorLifecycle, CreateListSwitchCopiesTheLookUpTableAndLeavesTheRunningMonitorAlone) {
    MonitorHarness monitor("lc04", kOneDevice);
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    writeFile(monitor.folder() + "\\moire0.lut", "table 0");
    writeFile(monitor.folder() + "\\moire.lut", "old table");
    // No application-list library beside this copy: the list step finds nothing and goes on.
    EXPECT_EQ(0, monitor.runToEnd("-a"));
    EXPECT_EQ("table 0", readFile(monitor.folder() + "\\moire.lut"));
    EXPECT_TRUE(monitor.running());
    EXPECT_EQ(0, monitor.runToEnd("-s")) << "-s without the library returns too";
    EXPECT_TRUE(monitor.running());
}
