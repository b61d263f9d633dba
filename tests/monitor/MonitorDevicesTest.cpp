#include "MonitorHarness.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testing_support;

namespace {
// A call of `entry` whose line also contains `part` (client identities vary between calls).
bool hasCall(const std::string& journal, const std::string& entry, const std::string& part) {
    return calls(journal, entry, part) > 0;
}

// Lines of the local enumeration, counting and filling passes alike.
int enumerations(const std::string& journal) { return calls(journal, "DcsEnumHids", "transport=LOCAL_TRANSPORT"); }
}  // namespace

TEST(MonitorDevices, EveryHidInterfaceIsOpenedAndRegistered) {
    MonitorHarness monitor("dv01", "device port=USB001 transport=USB1 model=KV-Scan hids=2\n"
                                   "device port=NET001 transport=IPv4 model=KV-Net hids=1\n");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return calls(j, "DcsRegisterForNotificationsHid") >= 3;
    })) << monitor.journal();
    const std::string journal = monitor.journal();
    for (const char* handle : {"handle=257 ", "handle=258 ", "handle=513 "}) {
        EXPECT_TRUE(hasCall(journal, "DcsOpenHid", handle)) << handle << "\n" << journal;
        EXPECT_TRUE(hasCall(journal, "DcsRegisterForReportsHid", handle)) << handle;
    }
    EXPECT_TRUE(monitor.waitForLog("DCS enumHids LOCAL = 2")) << monitor.log();

    // A report reaches the monitor through the simulator and is logged.
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 63 00"));
    EXPECT_TRUE(monitor.waitForLog("01 00 00 00 00 00 63 00")) << monitor.log();

    // HID-open notifications of class 2 on a local device.
    EXPECT_EQ("ok delivered result=0", monitor.command("notify USB001 0 2 1"));
    EXPECT_EQ("ok delivered result=0", monitor.command("notify USB001 0 2 2"));
    EXPECT_EQ("ok delivered result=0", monitor.command("notify USB001 0 2 9"));
    EXPECT_TRUE(monitor.waitForLog("received notificationCallback NOTIFICATION_HID_OPEN_OKAY"));
    EXPECT_TRUE(monitor.waitForLog("received notificationCallback NOTIFICATION_HID_OPEN_ERROR"));
    EXPECT_TRUE(monitor.waitForLog("notificationCallback NOT HANDLED"));
}

TEST(MonitorDevices, FailuresAreRetriedByTheEnumerationAndThePoll) {
    MonitorHarness monitor("dv02", "device port=USB001 hids=1\n"
                                   "fail enum 3\n"
                                   "fail open 2\n"
                                   "fail notifications 1\n");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return calls(j, "DcsRegisterForNotificationsHid") >= 1;
    })) << monitor.journal();
    const std::string journal = monitor.journal();
    EXPECT_EQ(3, calls(journal, "DcsEnumHids", "(fault)")) << journal;
    EXPECT_EQ(2, calls(journal, "DcsOpenHid", "(fault)")) << journal;
    EXPECT_EQ(1, calls(journal, "DcsRegisterForNotificationsHid", "(fault)")) << journal;
    // The failed notification registration keeps the handle open: the next poll registers
    // the reports again, then the notifications.
    EXPECT_EQ(1, calls(journal, "DcsOpenHid")) << journal;
    EXPECT_TRUE(monitor.waitForLog("DCS client failure in enumHids TRANSPORT_LOCAL with lRetCode = ")) << monitor.log();
    EXPECT_TRUE(monitor.waitForLog("registerForNotificationsHid with DCS failed!!!"));
    // The registration again on a handle that stayed open is logged as an open too.
    ASSERT_TRUE(monitor.waitForLog("registerForNotificationsHid successfully!!! lRetCode = 0"));
    EXPECT_EQ(2, countLines(monitor.log(), "DCS openHid = 0")) << monitor.log();
}

TEST(MonitorDevices, AnArrivalHandledShortOfMemoryLeavesTheNextOneHeard) {
    MonitorHarness monitor("dv08", "device port=USB001 hids=1\n");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForNotificationsHid") >= 1; }));
    const std::string starved = monitor.command("starve arrive port=USB002 hids=1");
    EXPECT_TRUE(contains(starved, "ok added port=USB002 hids=513 windows=")) << starved;
    ASSERT_TRUE(monitor.running()) << monitor.log();
    EXPECT_TRUE(contains(monitor.command("arrive port=USB003 hids=1"), "ok added port=USB003"));
    EXPECT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return hasCall(j, "DcsRegisterForNotificationsHid", "handle=769 ");
    })) << monitor.journal();
}

TEST(MonitorDevices, ArrivalAddsNewDevicesOnceAndDisplayChangeReenumerates) {
    MonitorHarness monitor("dv03", "device port=USB001 hids=1\n");
    ASSERT_TRUE(monitor.start());
    HWND window = monitor.waitForWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForNotificationsHid") >= 1; }));

    const std::string added = monitor.command("arrive port=USB002 hids=1");
    EXPECT_TRUE(contains(added, "ok added port=USB002")) << added;
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return hasCall(j, "DcsRegisterForNotificationsHid", "handle=513 ");
    })) << monitor.journal();
    // The device already known is refused by the arrival callback and not added twice.
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(1, calls(monitor.journal(), "DcsOpenHid", "handle=257 ")) << monitor.journal();
    EXPECT_TRUE(contains(monitor.journal(), "results=0x80004005,0x80004005")) << monitor.journal();
    // A device whose handle can't be learnt yet is not recorded without one, however many
    // device changes come; the next change after the fault finds it.
    EXPECT_EQ("ok fail enumspecific 3", monitor.command("fail enumspecific 3"));
    EXPECT_TRUE(contains(monitor.command("arrive port=USB003 hids=1"), "ok added port=USB003"));
    for (int i = 0; i < 3; ++i) SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) {
        return hasCall(j, "DcsRegisterForNotificationsHid", "handle=769 ");
    })) << monitor.journal();
    EXPECT_EQ(0, calls(monitor.journal(), "DcsOpenHid", "handle=0 ")) << monitor.journal();
    EXPECT_TRUE(contains(monitor.log(), "no handle for port USB003")) << monitor.log();

    // Another event code changes nothing.
    const int before = enumerations(monitor.journal());
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(before, enumerations(monitor.journal()));

    SendMessageA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"));
    const std::string journal = monitor.journal();
    EXPECT_TRUE(hasCall(journal, "DcsUnregisterForReportsHid", "handle=257 ")) << journal;
    EXPECT_TRUE(hasCall(journal, "DcsUnregisterForNotificationsHid", "handle=513 ")) << journal;
    EXPECT_EQ(3, calls(journal, "DcsCloseHid")) << journal;
    EXPECT_EQ(before + 2, enumerations(journal)) << journal;
    EXPECT_EQ(2, calls(journal, "DcsOpenHid", "handle=257 ")) << "opened again after the re-enumeration";
}

TEST(MonitorDevices, ReenumerationTimerRunsUntilALocalDeviceAppears) {
    MonitorHarness monitor("dv04", "nodevices\n", "poll=300,reenum=50,enumretry=20");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return enumerations(j) >= 10; }));
    EXPECT_TRUE(monitor.waitForLog("No Devices attached!"));
    EXPECT_TRUE(contains(monitor.command("arrive port=USB009 hids=1"), "ok added"));
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForNotificationsHid") >= 1; }));
    const int atArrival = enumerations(monitor.journal());
    Sleep(600);
    EXPECT_EQ(atArrival, enumerations(monitor.journal())) << "timer 2 stopped with a local device";
}

TEST(MonitorDevices, ReenumerationTimerStopsAfterThirtyOneRetries) {
    MonitorHarness monitor("dv05", "nodevices\n", "poll=300,reenum=30,enumretry=20");
    ASSERT_TRUE(monitor.start());
    ASSERT_NE(nullptr, monitor.waitForWindow());
    // Start-up counts and fills once; each of the 31 retries does the same.
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return enumerations(j) >= 64; }, 30000))
        << enumerations(monitor.journal());
    Sleep(800);
    EXPECT_EQ(64, enumerations(monitor.journal()));
}

TEST(MonitorDevices, PowerEventsStopAndRestartThePoll) {
    MonitorHarness monitor("dv06", "device port=USB001 hids=1\nfail open always\n", "poll=100,reenum=100,enumretry=20");
    ASSERT_TRUE(monitor.start());
    HWND window = monitor.waitForWindow();
    ASSERT_NE(nullptr, window);
    auto opens = [&] { return calls(monitor.journal(), "DcsOpenHid", "(fault)"); };
    ASSERT_TRUE(monitor.waitForJournal([&](const std::string&) { return opens() >= 3; }));

    SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0);
    Sleep(150);
    const int suspended = opens();
    Sleep(500);
    EXPECT_EQ(suspended, opens()) << "no poll while suspended";

    SendMessageA(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    EXPECT_TRUE(monitor.waitForJournal([&](const std::string&) { return opens() >= suspended + 2; }));

    SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPENDFAILED, 0);
    EXPECT_TRUE(monitor.waitForLog("Unhandled WM_POWERBROADCAST --> 2")) << monitor.log();
    EXPECT_TRUE(monitor.waitForLog("WM_POWERBROADCAST --> PBT_APMQUERYSUSPEND"));
    EXPECT_TRUE(monitor.waitForLog("WM_POWERBROADCAST --> PBT_APMRESUMESUSPEND"));
}

TEST(MonitorDevices, ReportsDuringRebuildsNeitherCrashNorLoseRegistrations) {
    MonitorHarness monitor("dv07", "device port=USB001 hids=2\ndevice port=USB002 hids=1\n");
    ASSERT_TRUE(monitor.start());
    HWND window = monitor.waitForWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(monitor.waitForJournal([](const std::string& j) { return calls(j, "DcsRegisterForNotificationsHid") >= 3; }));

    std::atomic<bool> stop{false};
    std::atomic<int> unanswered{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < 40 && !stop; ++i) {
                const std::string reply =
                    monitor.command(std::string("report ") + (t == 2 ? "USB002 0" : "USB001 0") + " 01 00 00 00 00 00 63 00");
                if (reply.compare(0, 3, "ok ") != 0) ++unanswered;
            }
        });
    }
    for (int i = 0; i < 8; ++i) {
        SendMessageA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"));
        if (i == 3) monitor.command("arrive port=USB003 hids=1");
        Sleep(30);
    }
    stop = true;
    for (std::thread& sender : senders) sender.join();
    EXPECT_EQ(0, unanswered.load());
    EXPECT_TRUE(monitor.running()) << "the monitor survived";
    SendMessageA(window, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>("DISPLAY"));
    const std::string devices = monitor.command("devices");
    EXPECT_TRUE(contains(devices, "ok devices=3")) << devices;
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB003 0 01 00 00 00 00 00 63 00"));
    EXPECT_EQ("ok delivered result=0", monitor.command("report USB001 0 01 00 00 00 00 00 63 00"));
}
