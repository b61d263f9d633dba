// The device's printer on Wine's spooler, through the real monitor: the duplex button stores its
// state under the printer's friendly name, and a device present at start-up names its printer
// in copies and auto-print jobs. The spooler's printer is a CUPS queue that ./run creates, named
// like the simulated device's model (Wine names each printer after its queue).
#include "MonitorHarness.h"

#include "../support/SupportTestHelpers.h"

#include <gtest/gtest.h>
#include <winspool.h>

using namespace testing_support;

namespace {
constexpr char kQueue[] = "KV-Duplex";  // tools/platform.sh adds it with the others
constexpr char kDuplexOn[] = "01 00 00 00 00 00 10 01";
constexpr char kDuplexOff[] = "01 00 00 00 00 00 10 00";

// The printer's "OriginalFriendlyName", set as a driver's installer would. (Wine has no
// DeletePrinterDataA: an empty name stands for a printer without one.)
bool setFriendlyName(const std::string& printer, const std::string& name) {
    PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE handle = nullptr;
    if (!OpenPrinterA(const_cast<char*>(printer.c_str()), &handle, &all)) return false;
    const DWORD result = SetPrinterDataA(handle, const_cast<char*>("OriginalFriendlyName"), REG_SZ,
                                         reinterpret_cast<BYTE*>(const_cast<char*>(name.c_str())),
                                         static_cast<DWORD>(name.size() + 1));
    ClosePrinter(handle);
    return result == ERROR_SUCCESS;
}

// The stored duplex state, or -1 when there is none.
long long storedState(const std::string& key) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "DuplexerButtonStatus", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return -1;
    }
    return value;
}

}  // namespace

TEST(SpoolerRoad, TheDuplexButtonStoresItsStateUnderThePrintersFriendlyName) {
    PRINTER_DEFAULTSA use = {nullptr, nullptr, PRINTER_ACCESS_USE};
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<char*>(kQueue), &printer, &use))
        << "Wine's spooler has no printer " << kQueue << " (error " << GetLastError()
        << "): the CUPS server could not be started or the queue is missing; ./run test starts cupsd and adds it";
    ClosePrinter(printer);
    const std::string friendly = "KV Duplex " + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(setFriendlyName(kQueue, friendly)) << GetLastError();

    // The first device's printer is the queue; the second's model names no printer at all.
    MonitorHarness monitor("sp01", std::string("device port=USB001 transport=USB1 model=") + kQueue +
                                       " hids=1\ndevice port=USB002 transport=USB1 model=No-Such-Printer hids=1\n");
    startAndWait(monitor);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForReportsHid") >= 2; }))
        << monitor.journal();
    const std::string key = monitor.settingsPath().substr(0, monitor.settingsPath().find("\\Model")) +
                            "\\IjPrtSettings\\" + friendly;

    EXPECT_EQ("ok delivered result=0", monitor.command(std::string("report USB001 0 ") + kDuplexOn));
    EXPECT_EQ(1, storedState(key));
    UniqueKey stored;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, READ_CONTROL, stored.put()));
    DWORD size = 0;
    RegGetKeySecurity(stored.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size);
    ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(stored.get(), DACL_SECURITY_INFORMATION, descriptor.data(), &size));
    EXPECT_NE(nullptr, findEveryone(daclEntries(descriptor))) << "the key is created for everyone";
    EXPECT_EQ("ok delivered result=0", monitor.command(std::string("report USB001 0 ") + kDuplexOff));
    EXPECT_EQ(0, storedState(key));

    // A printer the spooler does not know, and a printer without a friendly name, store nothing:
    // the old value stays.
    EXPECT_EQ("ok delivered result=0", monitor.command(std::string("report USB002 0 ") + kDuplexOn));
    ASSERT_TRUE(setFriendlyName(kQueue, ""));
    EXPECT_EQ("ok delivered result=0", monitor.command(std::string("report USB001 0 ") + kDuplexOn));
    EXPECT_EQ(0, storedState(key));
    EXPECT_TRUE(monitor.running());
    deleteKeyTree(HKEY_LOCAL_MACHINE, key);

    // The spooler is bound at the first press, from the system folder only: without it (Wine's
    // loader told it is missing) that press is lost and nothing else.
    ASSERT_TRUE(setFriendlyName(kQueue, friendly));
    MissingSystemLibraries missing("sp03panelmon.exe", "winspool.drv");
    MonitorHarness unbound("sp03", std::string("device port=USB001 transport=USB1 model=") + kQueue + " hids=1\n");
    startAndWait(unbound);
    const std::string unboundKey = unbound.settingsPath().substr(0, unbound.settingsPath().find("\\Model")) +
                                   "\\IjPrtSettings\\" + friendly;
    EXPECT_EQ("ok delivered result=0", unbound.command(std::string("report USB001 0 ") + kDuplexOn));
    EXPECT_EQ(-1, storedState(unboundKey));
    EXPECT_EQ("ok delivered result=0", unbound.command("report USB001 0 01 00 00 00 00 00 05 01"));
    EXPECT_TRUE(unbound.waitForPrograms("lsqx", 1)) << "a copy still starts its program";
    EXPECT_TRUE(unbound.running());
    setFriendlyName(kQueue, "");
}

TEST(SpoolerRoad, ADevicePresentAtStartUpNamesItsPrinterInCopiesAndAutoPrint) {
    MonitorHarness monitor("sp02", "device port=USB001 transport=USB1 model=KV-7 hids=1\n");
    startAndWait(monitor);
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 05 02"));
    ASSERT_TRUE(monitor.waitForPrograms("lsqx", 1)) << monitor.log();
    EXPECT_TRUE(contains(records(monitor.programJournal("lsqx")).back().file, "<PRINTER_NAME>KV-7</PRINTER_NAME>"))
        << monitor.programJournal("lsqx");
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 01 09 03"));
    ASSERT_TRUE(monitor.waitForPrograms("QuickPrn", 1)) << monitor.log();
    EXPECT_EQ("\"" + monitor.file("QuickPrn.exe") + "\" /files=3 /port=USB001 /storageId=1 /printer=KV-7",
              records(monitor.programJournal("QuickPrn")).back().command);
}
