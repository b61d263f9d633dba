// The road from a panel press to a started program, through the real monitor: reports go in
// through the simulator, job files and command lines come out in the recorder programs'
// journals.
#include "MonitorHarness.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace testing_support;

namespace {
// The job file named after " -x " in a light-scan command line.
std::string jobPathOf(const std::string& command) {
    const size_t at = command.find(" -x ");
    return at == std::string::npos ? std::string() : command.substr(at + 4);
}

const char* const kDevice = "device port=USB001 transport=USB1 model=KV-1 hids=1\n";

// Sends one report and returns the callback's result as the simulator reports it.
std::string press(MonitorHarness& monitor, const std::string& bytes) {
    return monitor.command("report USB001 0 " + bytes);
}
}  // namespace

TEST(PanelRoad, EachDestinationGetsItsJobAndTheLightScanProgram) {
    HarnessOptions options;
    options.subfolder = "Program Files";  // a space in the monitor's folder
    MonitorHarness monitor("pr01", kDevice, "poll=300,reenum=100,enumretry=20", options);
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG") + appEntryText("Slides", "C:\\s.exe", "PPT") +
                                   appEntryText("Notes", "C:\\n.exe", "Ppt")));
    startAndWait(monitor);

    struct Case {
        const char* report;
        const char* job;
    } cases[] = {
        {"01 00 33 00 00 00 01 01",  // e-mail, the device answers without bit 7: a JPG job
         "<SCANJOB><DEST_TYPE>email</DEST_TYPE><PORT_NAME>USB001</PORT_NAME><SCAN_SOURCE>2</SCAN_SOURCE>"
         "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><CROPPING>autocrop</CROPPING><OCR>0</OCR>\r\n"
         "<DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n<DPI_X>150</DPI_X>\r\n<DPI_Y>150</DPI_Y>\r\n"
         "<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>"},
        {"01 00 33 00 00 00 02 02",  // file, grayscale
         "<SCANJOB><DEST_TYPE>file</DEST_TYPE><PORT_NAME>USB001</PORT_NAME><SCAN_SOURCE>5</SCAN_SOURCE>"
         "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><CROPPING>autocrop</CROPPING><OCR>0</OCR>\r\n"
         "<COLOR_MODE>grayscale</COLOR_MODE>\r\n</SCANJOB>"},
        {"01 00 33 00 00 00 03 03",  // the first application of the list
         "<SCANJOB><DEST_TYPE>application</DEST_TYPE><PORT_NAME>USB001</PORT_NAME>"
         "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><OCR>0</OCR>\r\n<APP_PATH>C:\\v.exe</APP_PATH>\r\n"
         "<DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>"},
        {"01 00 33 00 00 00 01 04",  // PPT asks for the feeder source
         "<SCANJOB><DEST_TYPE>application</DEST_TYPE><PORT_NAME>USB001</PORT_NAME><SCAN_SOURCE>5</SCAN_SOURCE>"
         "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><OCR>0</OCR>\r\n<APP_PATH>C:\\s.exe</APP_PATH>\r\n"
         "<DEFAULT_FILE_TYPE>PPT</DEFAULT_FILE_TYPE>\r\n<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>"},
        {"01 00 33 00 00 00 01 05",  // Ppt, written in mixed case, does not
         "<SCANJOB><DEST_TYPE>application</DEST_TYPE><PORT_NAME>USB001</PORT_NAME>"
         "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><OCR>0</OCR>\r\n<APP_PATH>C:\\n.exe</APP_PATH>\r\n"
         "<DEFAULT_FILE_TYPE>Ppt</DEFAULT_FILE_TYPE>\r\n<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>"},
    };
    int expected = 0;
    for (const Case& c : cases) {
        EXPECT_EQ("ok delivered result=0", press(monitor, c.report));
        ASSERT_TRUE(monitor.waitForPrograms("lsqx", ++expected)) << c.report << "\n" << monitor.log();
        const ProgramRecord record = records(monitor.programJournal("lsqx")).back();
        EXPECT_TRUE(record.hasFile) << record.command;
        EXPECT_EQ(c.job, record.file) << c.report;
        const std::string program = "\"" + monitor.file("pr01lsqx.exe") + "\" -x ";
        EXPECT_EQ(0u, record.command.find(program)) << record.command;
        // The temporary folder is in the monitor's, which has a space: the job's own name stays.
        const std::string job = jobPathOf(record.command);
        EXPECT_EQ(std::string::npos, job.find(' ')) << record.command;
        EXPECT_EQ(0u, job.substr(job.rfind('\\') + 1).find("LightScanXML")) << record.command;
    }

    // E-mail again, now with bit 7 in the device's answer: a PDF job.
    writeFile(monitor.file("pr01scx.txt"), "options=0x80\n");
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", ++expected));
    EXPECT_EQ("<SCANJOB><DEST_TYPE>email</DEST_TYPE><PORT_NAME>USB001</PORT_NAME><SCAN_SOURCE>3</SCAN_SOURCE>"
              "<OCR>0</OCR>\r\n<DEFAULT_FILE_TYPE>PDF</DEFAULT_FILE_TYPE>\r\n<DPI_X>300</DPI_X>\r\n<DPI_Y>300</DPI_Y>\r\n"
              "<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>",
              records(monitor.programJournal("lsqx")).back().file);
    const std::string scx = readFile(monitor.file("pr01scx.journal"));
    EXPECT_TRUE(contains(scx, "portText USB001")) << "the bare port goes to the session object first\n" << scx;

    // No destination: the fax request (always index 0xFF), none chosen, and an index past the list.
    for (const char* report : {"01 00 33 00 00 00 04 07", "01 00 33 00 00 00 01 FF", "01 00 33 00 00 00 01 09"}) {
        EXPECT_EQ("ok delivered result=0", press(monitor, report));
    }
    EXPECT_TRUE(monitor.waitForLog("no destination for application index 8")) << monitor.log();
    EXPECT_EQ(2, countLines(monitor.log(), "no destination for application index 255"));
    EXPECT_TRUE(contains(monitor.log(), "Fax"));
    Sleep(500);
    EXPECT_EQ(expected, static_cast<int>(records(monitor.programJournal("lsqx")).size())) << "nothing started for them";
    EXPECT_TRUE(contains(monitor.log(), "Scan. Color mode: 3"));
    EXPECT_TRUE(contains(monitor.log(), "HID Report = 01 00 33 00 00 00 01 05"));
}

TEST(PanelRoad, WithoutAPanelListOneScanWritesTwoJobsAndSameSecondNamesDiffer) {
    MonitorHarness monitor("pr02", kDevice);
    monitor.setCapabilities("NumScanners=1\nSendAppListToOpPanel=0\n");
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    startAndWait(monitor);

    // Letter (paper code 1), colour, the first application; twice within the same second.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 13 00 00 00 01 03"));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 13 00 00 00 01 03"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 4)) << monitor.log();
    const std::vector<ProgramRecord> started = records(monitor.programJournal("lsqx"));
    ASSERT_EQ(4u, started.size());
    std::set<std::string> names;
    int appJobs = 0;
    for (const ProgramRecord& record : started) {
        names.insert(jobPathOf(record.command));
        ASSERT_TRUE(record.hasFile) << record.command;
        if (record.file.compare(0, 5, "<APP>") == 0) {
            ++appJobs;
            EXPECT_EQ(
                "<APP><APPNAME>computer</APPNAME>\r\n<APPNAMEPATH></APPNAMEPATH>\r\n"
                "<DEFAULTFILETYPE>JPG</DEFAULTFILETYPE>\r\n<DIMENSIONX>85000</DIMENSIONX>\r\n"
                "<DIMENSIONY>110000</DIMENSIONY>\r\n<DPIX>300</DPIX>\r\n<DPIY>300</DPIY>\r\n"
                "<COLOR_MODE>color</COLOR_MODE>\r\n<DEVICENAME>USB001</DEVICENAME>\r\n<OCR>0</OCR>\r\n"
                "<PDPRESENT>Yes</PDPRESENT>\r\n<PAINTPATH></PAINTPATH>\r\n</APP>",
                record.file);
            EXPECT_EQ(342u, record.file.size());
        } else {
            EXPECT_TRUE(contains(record.file, "<APP_PATH>C:\\v.exe</APP_PATH>")) << record.file;
        }
    }
    EXPECT_EQ(2, appJobs);
    EXPECT_EQ(4u, names.size()) << "no job file replaced another";
}

TEST(PanelRoad, CopiesCardsAutoPrintAndTheDuplexButton) {
    MonitorHarness monitor("pr03", kDevice);
    startAndWait(monitor);
    const std::string added = monitor.command("arrive port=USB002 model=P1 hids=1");
    ASSERT_TRUE(contains(added, "ok added")) << added;
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return contains(j, "DcsRegisterForReportsHid client"); }));
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return countLines(j, "DcsRegisterForReportsHid") >= 2;
    })) << monitor.journal();

    // Colour copy of 3 and grayscale copy of 1, from the device whose printer is P1.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB002 0 01 00 00 00 00 00 05 03"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB002 0 01 00 00 00 00 00 0A 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.log();
    const std::vector<ProgramRecord> copies = records(monitor.programJournal("lsqx"));
    EXPECT_EQ("<SCANJOB><DEST_TYPE>printer</DEST_TYPE><PORT_NAME>USB002</PORT_NAME><PRINTER_NAME>P1</PRINTER_NAME>\r\n"
              "<NUMBER_OF_COPIES>3</NUMBER_OF_COPIES>\r\n<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>",
              copies[0].file);
    EXPECT_TRUE(contains(copies[1].file, "<NUMBER_OF_COPIES>1</NUMBER_OF_COPIES>\r\n<COLOR_MODE>grayscale</COLOR_MODE>"))
        << copies[1].file;

    // Memory card with the photo/card program present: the fixed 79-byte report.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 07 00"));
    ASSERT_TRUE(monitor.waitForPrograms("PhotoDock", 1)) << monitor.log();
    const ProgramRecord card = records(monitor.programJournal("PhotoDock")).back();
    EXPECT_EQ("\"" + monitor.file("PhotoDock.exe") + "\" -f " + monitor.tempFolder() + "LocalCardReader.kvr", card.command);
    EXPECT_EQ("<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>", card.file);

    // Auto-print of 12 files from storage 2 of the P1 device, which also ends its session.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB002 0 01 00 00 00 00 02 09 0C"));
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 1)) << monitor.log();
    const std::string autoPrint = "\"" + monitor.file("QuickPrn.exe") + "\" /files=12 /port=USB002 /storageId=2 /printer=P1";
    EXPECT_EQ(autoPrint, records(monitor.programJournal("QuickPrn")).back().command);
    EXPECT_TRUE(monitor.waitForLog("Auto-print selected files"));
    EXPECT_TRUE(monitor.waitForLog("Ending Session for Port: USB002"));
    EXPECT_TRUE(monitor.waitForLog("LaunchProgram =>" + autoPrint)) << "the log says what was started";

    // The duplex button: no printer exists here, so the registry stays as it was.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB002 0 01 00 00 00 00 00 10 03"));
    EXPECT_TRUE(monitor.running());
}

TEST(PanelRoad, WithoutThePhotoCardProgramTheCardStartsThePhotoProgram) {
    HarnessOptions options;
    options.photoDock = false;
    MonitorHarness monitor("pr04", kDevice, "poll=300,reenum=100,enumretry=20", options);
    startAndWait(monitor);
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 01 00 00 00 00 07 00"));
    ASSERT_TRUE(monitor.waitForPrograms("photodesk", 1)) << monitor.log();
    EXPECT_EQ("\"" + monitor.file("photodesk.exe") + "\" -h202 /KV-1", records(monitor.programJournal("photodesk")).back().command)
        << "a device present at start-up is named by its model";
    EXPECT_FALSE(contains(monitor.log(), "LaunchProgram =>")) << "the photo program's start is not logged";
}

TEST(PanelRoad, DispatchOfBothOriginsAndInvalidReports) {
    MonitorHarness monitor("pr05", kDevice);
    monitor.setAppList(
        appListText(appEntryText("A", "C:\\a.exe", "JPG", true) + appEntryText("B", "C:\\b.exe", "BMP", true)));
    startAndWait(monitor);

    EXPECT_EQ("ok delivered result=13", press(monitor, "01 03 00 00 00 00 01 01")) << "origin 3";
    EXPECT_EQ("ok delivered result=13", press(monitor, "01 00 00 00 00 00 01")) << "7 bytes";
    EXPECT_EQ("ok delivered result=0", press(monitor, "02 00 00 00 00 00 01 01")) << "not a panel message";
    for (const char* code : {"00", "0B", "11", "98", "9A", "FF"}) {
        EXPECT_EQ("ok delivered result=0", press(monitor, std::string("01 00 00 00 00 00 ") + code + " 00"));
    }
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 02 00 00 00 00 05 00")) << "host, unknown code";
    ASSERT_TRUE(monitor.waitForLog("HID Report = 01 02 00 00 00 00 05 00"));
    EXPECT_EQ(7, countLines(monitor.log(), "No button pressed")) << monitor.log();
    EXPECT_TRUE(contains(monitor.log(), "HID Report = 02 00 00 00 00 00 01 01"));

    // The host asks for the list: the names go to the panel, the later default wins.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 02 00 00 00 00 01 00"));
    EXPECT_TRUE(monitor.waitForLog("Send Host ScanToList"));
    const std::string scx = readFile(monitor.file("pr05scx.journal"));
    EXPECT_TRUE(contains(scx, "portText <PortName>USB001</PortName>")) << scx;
    EXPECT_TRUE(contains(scx, "addName name=E-mail  length=7 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "addName name=File  length=5 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "addName name=B  length=2 value=5")) << scx;
    EXPECT_TRUE(contains(scx, "setDefault name=B")) << scx;
    EXPECT_TRUE(contains(scx, "sendList")) << scx;
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 08 00"));
    EXPECT_TRUE(monitor.waitForLog("Send ScanToList"));
    // The list send holds the scanner through the session controller, and a local device
    // releases it again at once.
    EXPECT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return contains(j, "DcsOpenScanner") && contains(j, "DcsCloseScanner");
    })) << monitor.journal();

    // Cancel from the host logs it; the panel's end-of-session does not.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 02 00 00 00 00 99 00"));
    EXPECT_TRUE(monitor.waitForLog("Cancel scan operation"));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 99 00"));
    EXPECT_TRUE(monitor.waitForLog("Ending Session for Port: USB001"));
    EXPECT_EQ(1, countLines(monitor.log(), "Cancel scan operation"));
    EXPECT_EQ(2, countLines(monitor.log(), "Ending Session for Port: USB001")) << monitor.log();

    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 06 00"));
    EXPECT_TRUE(monitor.waitForLog("Ink Reorder Application"));
    EXPECT_TRUE(monitor.running());
}

TEST(PanelRoad, ScansRunOnlyWhileTheMonitorsSessionIsActive) {
    MonitorHarness monitor("pr06", kDevice);
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    const std::string probe = monitor.file("session.txt");
    const DWORD own = consoleSession();
    writeFile(probe, std::to_string(own));
    SetEnvironmentVariableA("PANELMON_SESSION_PROBE", probe.c_str());
    startAndWait(monitor);
    SetEnvironmentVariableA("PANELMON_SESSION_PROBE", nullptr);

    writeFile(probe, std::to_string(own + 1));  // another user's session is now the console's
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForLog("CMonitor::RequestScan Not Active session"));
    // Copies are not subject to the rule.
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 05 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1));
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<DEST_TYPE>printer</DEST_TYPE>"));

    writeFile(probe, std::to_string(own));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 03"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2));
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<APP_PATH>C:\\v.exe</APP_PATH>"));
}

TEST(PanelRoad, AJobPathWithASpaceReachesTheProgramAsOneArgument) {
    // A user whose name has a space: the temporary folder has one too.
    TempFolder base("prsp");
    const std::string user = base.path() + "\\Ann Lee";
    ASSERT_TRUE(CreateDirectoryA(user.c_str(), nullptr));
    HarnessOptions options;
    options.temporary = user + "\\Temp\\";
    MonitorHarness monitor("pr07", kDevice, "poll=300,reenum=100,enumretry=20", options);
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    startAndWait(monitor);

    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 33 00 00 00 01 03"));
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 05 02"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.log();
    for (const ProgramRecord& record : records(monitor.programJournal("lsqx"))) {
        EXPECT_TRUE(record.hasFile) << "the program read its job through the argument it got\n" << record.command;
        const std::string job = jobPathOf(record.command);
        EXPECT_EQ(std::string::npos, job.find(' ')) << "the folder's short form, which has no space\n" << record.command;
        EXPECT_EQ(0u, job.substr(job.rfind('\\') + 1).find("LightScanXML")) << record.command;
    }
    EXPECT_EQ("ok delivered result=0", press(monitor, "01 00 00 00 00 00 07 00"));
    ASSERT_TRUE(monitor.waitForPrograms("PhotoDock", 1)) << monitor.log();
    const ProgramRecord card = records(monitor.programJournal("PhotoDock")).back();
    EXPECT_TRUE(card.hasFile) << card.command;
    EXPECT_EQ(std::string::npos, card.command.find("Ann Lee")) << card.command;
    EXPECT_EQ("<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>", card.file);
}

TEST(PanelRoad, AHandleNoDeviceIsKnownByGetsNoPortNeverTheLastDevicesOne) {
    MonitorHarness monitor("pr08", std::string(kDevice) + "device port=USB002 transport=USB1 model=P2 hids=1\n");
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    startAndWait(monitor);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForReportsHid") >= 2; }));
    // USB002 is the last device looked up; then reports come in on a handle neither the monitor
    // nor the library knows, as a stale one would.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB002 0 01 00 00 00 00 00 05 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    const std::string stale = "report USB001 0 as=30583 ";

    // A scan looks the device up before it says so, and once more before its job; both fail.
    EXPECT_EQ("ok delivered result=0", monitor.command(stale + "01 00 33 00 00 00 01 03"));
    EXPECT_TRUE(monitor.waitForLog("GetFriendlyName failure")) << monitor.log();
    EXPECT_TRUE(contains(monitor.log(), "Scan. Color mode: 1"));
    EXPECT_EQ(2, calls(monitor.journal(), "DcsGetStringHid", "handle=30583 property=Portname")) << monitor.journal();

    // Auto-print, a copy and a list request name no port, and hold no scanner.
    EXPECT_EQ("ok delivered result=0", monitor.command(stale + "01 00 00 00 00 02 09 0C"));
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 1)) << monitor.log();
    EXPECT_EQ("\"" + monitor.file("QuickPrn.exe") + "\" /files=12 /port= /storageId=2 /printer=",
              records(monitor.programJournal("QuickPrn")).back().command);
    EXPECT_EQ("ok delivered result=0", monitor.command(stale + "01 00 00 00 00 00 05 01"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 2)) << monitor.log();
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<PORT_NAME></PORT_NAME>"))
        << records(monitor.programJournal("lsqx")).back().file;
    EXPECT_EQ("ok delivered result=0", monitor.command(stale + "01 00 00 00 00 00 08 00"));
    EXPECT_TRUE(monitor.waitForLog("Send ScanToList"));
    const std::string scx = readFile(monitor.file("pr08scx.journal"));
    EXPECT_TRUE(contains(scx, "portText <PortName></PortName>")) << scx;
    EXPECT_FALSE(contains(scx, "USB002")) << scx;
    EXPECT_EQ(0, calls(monitor.journal(), "DcsOpenScanner", "")) << monitor.journal();
    EXPECT_FALSE(contains(monitor.log(), "Ending Session for Port")) << "no port, no session to end";
}

TEST(PanelRoad, TwoDevicesStormingSendEveryListHeldAndReleaseEveryHoldOnce) {
    MonitorHarness monitor("pr09", std::string(kDevice) + "device port=USB002 transport=USB1 model=P2 hids=1\n");
    monitor.setAppList(appListText(appEntryText("Viewer", "C:\\v.exe", "JPG")));
    startAndWait(monitor);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForReportsHid") >= 2; }));
    // Three callers per device at once, each sending in turn: a host list request, a host
    // cancel, the panel's end of session and an auto-print, all of which touch the hold.
    const std::string bases = " threads=3 exact=1 base=0102000000000100 base=0102000000009900 "
                              "base=0100000000009900 base=0100000000020903";
    std::string replies[2];
    std::thread other([&] { replies[1] = monitor.command("storm USB002 0 8 2" + bases); });
    replies[0] = monitor.command("storm USB001 0 8 1" + bases);
    other.join();
    for (const std::string& reply : replies) EXPECT_EQ("ok storm sent=24 delivered=24 unregistered=0 results=0:24", reply);
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 12)) << monitor.log();

    const std::string scx = readFile(monitor.file("pr09scx.journal"));
    EXPECT_EQ(12, countLines(scx, "sendList")) << scx;
    EXPECT_EQ(6, countLines(scx, "port=USB001 held=1")) << scx;
    EXPECT_EQ(6, countLines(scx, "port=USB002 held=1")) << "no list went out unheld\n" << scx;
    const std::string journal = monitor.journal();
    EXPECT_EQ(12, calls(journal, "DcsOpenScanner", "opens=1")) << journal;
    EXPECT_EQ(12, calls(journal, "DcsCloseScanner", "opens=0")) << "each hold released once, by its own list\n"
                                                                 << journal;
    EXPECT_EQ(0, calls(journal, "DcsCloseScanner", " -> 6")) << "no release of a scanner no longer held";
}
