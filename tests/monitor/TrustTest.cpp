// What a reviewer tries against the real monitor: libraries and programs planted where a search
// would find them, device strings crafted to break out of their place, paths too long for their
// buffers, and memory running out inside a callback of the device library.
#include "MonitorHarness.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace testing_support;

namespace {
const char kTimings[] = "poll=300,reenum=100,enumretry=20";
const char kOneDevice[] = "device port=USB001 hids=1\n";

// Copies of a library that must never be loaded, under each name given, in `folder`.
void plant(const std::string& folder, const std::string& prefix, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const std::string copy = folder + "\\" + prefix + name;
        ASSERT_TRUE(CopyFileA((ownFolder() + "planted.dll").c_str(), copy.c_str(), FALSE)) << copy;
    }
}

// The planted copies in `folder` that something loaded.
std::string loadedIn(const std::string& folder) {
    std::string loaded;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA((folder + "\\*.loaded").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return loaded;
    do {
        loaded += std::string(found.cFileName) + " ";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return loaded;
}

// A folder path of exactly `length` characters below `base`, made one level at a time.
std::string folderOfLength(const std::string& base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const size_t room = length - path.size() - 1;
        path += "\\" + std::string(room < 100 ? room : 100, 'f');
        CreateDirectoryA(path.c_str(), nullptr);
    }
    return path;
}
}  // namespace

TEST(Trust, SiblingLibrariesComeFromTheMonitorsFolderNeverFromTheCurrentOneOrThePath) {
    TempFolder current("trcu");
    TempFolder onPath("trpa");
    HarnessOptions options;
    options.appList = false;
    options.workingFolder = current.path();
    options.pathFront = onPath.path();
    MonitorHarness monitor("tr01", kOneDevice, kTimings, options);
    monitor.removeFile("tr01devlink.dll");
    monitor.removeFile("tr01scx.dll");
    for (const std::string& folder : {current.path(), onPath.path()}) {
        plant(folder, "tr01", {"devlink.dll", "appmgr.dll", "scx.dll", "panelmonr.dll"});
    }

    // Without its device library the monitor runs and keeps looking for it, beside itself only.
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    EXPECT_TRUE(monitor.waitForLog("lRetCode = 126")) << monitor.log();
    // The list's runs look for the list library beside the monitor only, too.
    EXPECT_EQ(0, monitor.runToEnd("-a"));
    EXPECT_EQ(0, monitor.runToEnd("-s"));
    EXPECT_EQ(0, monitor.runToEnd("-u"));
    EXPECT_EQ(0, monitor.waitForExit());

    // Without its resource library it does not run, and says which one it missed.
    monitor.removeFile("tr01panelmonr.dll");
    EXPECT_EQ(0, monitor.runToEnd(""));
    EXPECT_TRUE(contains(monitor.log(), "The resource library tr01panelmonr.dll can't be loaded from " + monitor.folder()))
        << monitor.log();

    EXPECT_EQ("", loadedIn(current.path()));
    EXPECT_EQ("", loadedIn(onPath.path()));
}

TEST(Trust, TheAutoPrintProgramStartsByItsFullPathAndNeverFromThePath) {
    TempFolder onPath("trqp");
    ASSERT_TRUE(CopyFileA((ownFolder() + "QuickPrn.exe").c_str(), onPath.file("QuickPrn.exe").c_str(), FALSE));
    HarnessOptions options;
    options.pathFront = onPath.path();
    MonitorHarness monitor("tr02", kOneDevice, kTimings, options);
    monitor.removeFile("QuickPrn.exe");
    startAndWait(monitor);
    const std::string command = "\"" + monitor.file("QuickPrn.exe") + "\" /files=3 /port=USB001 /storageId=2 /printer=KV Scan 100";

    // Missing beside the monitor: nothing is started, and the log says what could not be.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 02 09 03"));
    EXPECT_TRUE(monitor.waitForLog("LaunchProgram failed with error 2: " + command)) << monitor.log();
    EXPECT_EQ("", readFile(onPath.file("QuickPrn.journal"))) << "the copy on the path never runs";

    ASSERT_TRUE(CopyFileA((ownFolder() + "QuickPrn.exe").c_str(), monitor.file("QuickPrn.exe").c_str(), FALSE));
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 02 09 03"));
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 1)) << monitor.log();
    EXPECT_EQ(command, records(monitor.programJournal("QuickPrn")).back().command);
    EXPECT_TRUE(monitor.waitForLog("LaunchProgram =>" + command));
    EXPECT_EQ("", readFile(onPath.file("QuickPrn.journal")));
}

TEST(Trust, ACraftedModelStringStaysANameInJobsAndCommandLines) {
    HarnessOptions options;
    options.photoDock = false;
    MonitorHarness monitor("tr03",
                           "device port=USB001 hids=1 model=\"KV <NUMBER_OF_COPIES>99</NUMBER_OF_COPIES>\\\" /x\"\n",
                           kTimings, options);
    startAndWait(monitor);
    const std::string name = "KV NUMBER_OF_COPIES99/NUMBER_OF_COPIES\" /x";
    const std::string argument = "KV NUMBER_OF_COPIES99/NUMBER_OF_COPIES /x";

    // A copy of 3: the print job holds one count, the panel's, and the name as text.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 05 03"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    const std::string job = records(monitor.programJournal("lsqx")).back().file;
    EXPECT_EQ(1, countLines(job, "<NUMBER_OF_COPIES>")) << job;
    EXPECT_TRUE(contains(job, "<PRINTER_NAME>" + name + "</PRINTER_NAME>")) << job;
    EXPECT_TRUE(contains(job, "<NUMBER_OF_COPIES>3</NUMBER_OF_COPIES>")) << job;

    // The auto-print and photo programs get the name without the quote that would end their
    // argument early.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 02 09 03"));
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 1)) << monitor.log();
    EXPECT_EQ("\"" + monitor.file("QuickPrn.exe") + "\" /files=3 /port=USB001 /storageId=2 /printer=" + argument,
              records(monitor.programJournal("QuickPrn")).back().command);
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 07 00"));
    ASSERT_TRUE(monitor.waitForPrograms("photodesk", 1)) << monitor.log();
    EXPECT_EQ("\"" + monitor.file("photodesk.exe") + "\" -h202 /" + argument,
              records(monitor.programJournal("photodesk")).back().command);
}

TEST(Trust, PathsTooLongForTheirBuffersFailWithTheirLineAndNeverNameAnotherFile) {
    // A temporary folder with no room for a job's name: no job, no program, and a line that says why.
    TempFolder base("trlt");
    HarnessOptions options;
    options.temporary = folderOfLength(base.path(), 240) + "\\";
    MonitorHarness monitor("tr04", kOneDevice, kTimings, options);
    // A program path too long for the job's room.
    monitor.setAppList(appListText(appEntryText("Long", "C:\\" + std::string(300, 'p') + ".exe", "JPG")));
    startAndWait(monitor);
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 33 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForLog("ScanToApplication: the path of the destination at application index 2 is too "
                                   "long for a job file or holds characters no path has"))
        << monitor.log();
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 33 00 00 00 01 01"));
    EXPECT_TRUE(monitor.waitForLog("The temporary folder is unknown or its path is too long for a job file"));
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 07 00"));
    EXPECT_TRUE(monitor.waitForLog("Couldn't create hid report file."));
    EXPECT_EQ("ok delivered result=13", monitor.command("report USB001 0 01 00 00 00 00 00 05 03")) << "a copy";
    Sleep(500);
    EXPECT_EQ("", monitor.programJournal("lsqx")) << "no program was given a cut path";
    EXPECT_EQ("", monitor.programJournal("PhotoDock"));
}

TEST(Trust, AStoredPathMadeToOpenAnElementIsRefusedNeverWrittenIntoAJob) {
    // Every user may write the list: a path that closes its element and opens another would
    // set the job's other fields for whoever scans next.
    MonitorHarness monitor("tr05", kOneDevice, kTimings);
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe</APP_PATH><FILE_PATH>\\\\host\\share", "JPG")));
    startAndWait(monitor);
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 33 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForLog("ScanToApplication: the path of the destination at application index 2 is too "
                                   "long for a job file or holds characters no path has"))
        << monitor.log();
    Sleep(300);
    EXPECT_EQ("", monitor.programJournal("lsqx")) << "no job was written for it";
}

TEST(Trust, ACallbackThatRunsOutOfMemoryAnswersEFailAndTheMonitorGoesOn) {
    MonitorHarness monitor("tr06", kOneDevice);
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    startAndWait(monitor);
    // Each report while no memory can be had: what the monitor meets stays in the monitor.
    for (const char* report : {"01 00 33 00 00 00 01 03", "01 00 00 00 00 00 05 02", "01 00 00 00 00 02 09 03"}) {
        EXPECT_EQ("ok delivered result=-2147467259", monitor.command(std::string("starve report USB001 0 ") + report))
            << report;
        ASSERT_TRUE(monitor.running()) << report << " ended with " << monitor.waitForExit(0) << "\n" << monitor.log();
    }
    // With memory back, the next scan goes its way.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 33 00 00 00 01 03"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<APP_PATH>C:\\v.exe</APP_PATH>"));
    // A list request that runs short after its device's scanner was taken gives the scanner back.
    EXPECT_EQ("ok delivered result=-2147467259", monitor.command("starve report USB001 0 01 00 00 00 00 00 08 00"));
    const std::string devices = monitor.command("devices");
    EXPECT_TRUE(contains(devices, " opens=0 ")) << devices;
}
