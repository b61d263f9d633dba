// The device simulator loaded as the monitor loads it: a copy under another name, in a folder of
// its own beside its scenario, driven through its exports and its control pipe.
#include "DcsContract.h"
#include "Handles.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {
// The build's product prefix: the first 4 characters of this program's file name.
std::string built(const std::string& name) {
    const std::string path = ownPath();
    return ownFolder() + path.substr(path.rfind('\\') + 1, 4) + name;
}

class Simulator {
public:
    // `prefix` names the copy (unique per test, so parallel tests never share a pipe); without a
    // scenario no file is written.
    Simulator(const std::string& prefix, const char* scenario) : prefix_(prefix) {
        dll_ = folder_.file(prefix + "devlink.dll");
        CopyFileA(built("devlink.dll").c_str(), dll_.c_str(), FALSE);
        if (scenario != nullptr) writeFile(folder_.file(prefix + "devlink.scenario"), scenario);
    }
    ~Simulator() { unload(); }

    bool load() {
        module_.reset(LoadLibraryA(dll_.c_str()));
        return module_ && bind(initialize, "DcsInitialize") & bind(uninitialize, "DcsUninitialize") &
                              bind(install, "DcsInstall") & bind(getClientId, "DcsGetClientId") &
                              bind(discovery, "DcsDiscovery") & bind(enumHids, "DcsEnumHids") &
                              bind(enumSpecificHid, "DcsEnumSpecificHid") &
                              bind(enumSpecificScanner, "DcsEnumSpecificScanner") &
                              bind(getStringHid, "DcsGetStringHid") & bind(getLongHid, "DcsGetLongHid") &
                              bind(getCurrentStateHid, "DcsGetCurrentStateHid") & bind(openHid, "DcsOpenHid") &
                              bind(openScanner, "DcsOpenScanner") & bind(closeHid, "DcsCloseHid") &
                              bind(closeScanner, "DcsCloseScanner") &
                              bind(registerForReports, "DcsRegisterForReportsHid") &
                              bind(registerForNotifications, "DcsRegisterForNotificationsHid") &
                              bind(unregisterForReports, "DcsUnregisterForReportsHid") &
                              bind(unregisterForNotifications, "DcsUnregisterForNotificationsHid");
    }
    void unload() { module_.reset(); }
    bool loadedNow() const { return GetModuleHandleA(dll_.c_str()) != nullptr; }

    // Loads, initialises and takes a client identity: what the binding does first.
    uint32_t start() {
        if (!load() || initialize() != 0) return 0;
        uint32_t client = 0;
        return getClientId(&client, "") == 0 ? client : 0;
    }

    std::string pipe() const { return "\\\\.\\pipe\\" + prefix_ + "devlink"; }
    std::string journal() const { return readFile(folder_.file(prefix_ + "devlink.journal")); }

    UniqueHandle connect(int attempts = 50) const {
        for (int attempt = 0; attempt < attempts; ++attempt) {
            UniqueHandle handle(
                CreateFileA(pipe().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (handle) return handle;
            if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(pipe().c_str(), 1000);
            else Sleep(50);
        }
        return UniqueHandle();
    }

    // One line to the control pipe; the reply without its line end, or "" when unreachable.
    std::string command(const std::string& line, int attempts = 50) const {
        return pipeCommand(prefix_, line, attempts);
    }

    DcsInitializeFn initialize = nullptr;
    DcsUninitializeFn uninitialize = nullptr;
    DcsInstallFn install = nullptr;
    DcsGetClientIdFn getClientId = nullptr;
    DcsDiscoveryFn discovery = nullptr;
    DcsEnumHidsFn enumHids = nullptr;
    DcsEnumSpecificFn enumSpecificHid = nullptr, enumSpecificScanner = nullptr;
    DcsGetStringHidFn getStringHid = nullptr;
    DcsGetLongHidFn getLongHid = nullptr;
    DcsGetCurrentStateFn getCurrentStateHid = nullptr;
    DcsHandleFn openHid = nullptr, openScanner = nullptr, closeHid = nullptr, closeScanner = nullptr;
    DcsRegisterForReportsHidFn registerForReports = nullptr;
    DcsRegisterForNotificationsHidFn registerForNotifications = nullptr;
    DcsHandleFn unregisterForReports = nullptr, unregisterForNotifications = nullptr;

private:
    template <typename Fn>
    bool bind(Fn& entry, const char* name) {
        entry = exportOf<Fn>(module_.get(), name);
        return entry != nullptr;
    }

    TempFolder folder_;
    std::string prefix_;
    std::string dll_;
    UniqueModule module_;
};

// What the plain-function callbacks saw; one test at a time per process.
struct Seen {
    std::mutex lock;
    Simulator* simulator = nullptr;
    uint32_t client = 0;
    std::vector<DcsHandle> enumerated;
    std::vector<std::string> enumeratedPorts;
    std::vector<DWORD> enumThreads;
    struct Report { uint32_t first; DcsHandle handle; bool pointer; std::vector<uint8_t> bytes; DWORD thread; };
    std::vector<Report> reports;
    struct Notification { DcsHandle handle; uint32_t notificationClass, code; DWORD thread; };
    std::vector<Notification> notifications;
    LONG reportResult = 0;
    // Behaviours of the report callback.
    HANDLE started = nullptr;  // set when a report callback begins
    HANDLE release = nullptr;  // a report callback waits for this when set
    std::atomic<bool> finished{false};
    std::atomic<LONG> unregisterInside{-1};
    bool unregisterFromCallback = false;
} g_seen;

void resetSeen(Simulator* simulator, uint32_t client) {
    std::lock_guard<std::mutex> hold(g_seen.lock);
    g_seen.simulator = simulator;
    g_seen.client = client;
    g_seen.enumerated.clear();
    g_seen.enumeratedPorts.clear();
    g_seen.enumThreads.clear();
    g_seen.reports.clear();
    g_seen.notifications.clear();
}

LONG WINAPI onEnum(uint32_t first, DcsHandle handle) {
    (void)first;
    // As the monitor does: read a property from inside the enumeration.
    char port[260] = {};
    uint32_t length = 0;
    g_seen.simulator->getStringHid(g_seen.client, handle, kDescriptorPortname, port, sizeof(port), &length);
    std::lock_guard<std::mutex> hold(g_seen.lock);
    g_seen.enumerated.push_back(handle);
    g_seen.enumeratedPorts.push_back(port);
    g_seen.enumThreads.push_back(GetCurrentThreadId());
    return 0;
}

LONG WINAPI onReport(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length) {
    if (g_seen.started != nullptr) SetEvent(g_seen.started);
    if (g_seen.release != nullptr) WaitForSingleObject(g_seen.release, 10000);
    if (g_seen.unregisterFromCallback) {
        g_seen.unregisterInside = g_seen.simulator->unregisterForReports(first, handle);
    }
    {
        std::lock_guard<std::mutex> hold(g_seen.lock);
        std::vector<uint8_t> bytes;
        if (report != nullptr) bytes.assign(report, report + length);
        g_seen.reports.push_back({first, handle, report != nullptr, bytes, GetCurrentThreadId()});
    }
    g_seen.finished = true;
    return g_seen.reportResult;
}

LONG WINAPI onNotification(DcsHandle handle, uint32_t notificationClass, uint32_t code) {
    std::lock_guard<std::mutex> hold(g_seen.lock);
    g_seen.notifications.push_back({handle, notificationClass, code, GetCurrentThreadId()});
    return 5;
}

size_t reportCount() {
    std::lock_guard<std::mutex> hold(g_seen.lock);
    return g_seen.reports.size();
}

// While it lives, a report callback signals `started` and then waits for `release`.
struct HeldCallback {
    UniqueHandle started{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HeldCallback() {
        g_seen.started = started.get();
        g_seen.release = release.get();
        g_seen.finished = false;
    }
    ~HeldCallback() { g_seen.started = g_seen.release = nullptr; }
};

// Starts the simulator (default device) and opens USB001 with onReport registered; the handle,
// or 0 when a step failed.
DcsHandle startRegistered(Simulator& sim, uint32_t& client) {
    client = sim.start();
    resetSeen(&sim, client);
    DcsHandle handle = 0;
    const bool ready = client != 0 && sim.enumSpecificHid(client, "USB001", &handle) == 0 &&
                       sim.openHid(client, handle) == 0 && sim.registerForReports(client, handle, onReport) == 0;
    return ready ? handle : 0;
}

std::string property(Simulator& sim, uint32_t client, DcsHandle handle, const char* descriptor, LONG* code = nullptr) {
    char buffer[260];
    std::memset(buffer, 'x', sizeof(buffer));
    uint32_t length = 999;
    const LONG result = sim.getStringHid(client, handle, descriptor, buffer, sizeof(buffer), &length);
    if (code != nullptr) *code = result;
    if (result != 0) return "<" + std::to_string(result) + ">";
    EXPECT_EQ(std::strlen(buffer), length) << "the length is the text's";
    return std::string(buffer, length);
}

// Each of `parts` is somewhere in the journal.
void expectInJournal(const std::string& journal, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) EXPECT_TRUE(contains(journal, part)) << part << " in\n" << journal;
}
std::string text(uint32_t number) { return std::to_string(number); }

const char kTwoDevices[] =
    "# a USB device with two interfaces and a network device\n"
    "device port=USB001 transport=USB1 model=\"KV Scan 100\" hids=2 vid=0x1234 pid=7\n"
    "device port=NET7 transport=IPv4 model=\"\"\n";

// The three interfaces of kTwoDevices, in enumeration order.
struct TwoDevices {
    DcsHandle usbFirst = 0, usbSecond = 0, net = 0;
};

// Loads and initialises; identities are given out only after DcsInitialize, one each time.
void startWithIdentities(Simulator& sim, uint32_t& client) {
    ASSERT_TRUE(sim.load()) << "every entry point is exported under its bare name";
    EXPECT_NE(0, sim.getClientId(&client, "")) << "no identity before DcsInitialize";
    ASSERT_EQ(0, sim.initialize());
    ASSERT_EQ(0, sim.getClientId(&client, ""));
    ASSERT_NE(0u, client);
    uint32_t second = 0;
    ASSERT_EQ(0, sim.getClientId(&second, nullptr));
    EXPECT_NE(client, second) << "each request gets an identity of its own";
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(computer);
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    uint32_t local = 0;
    EXPECT_EQ(0, sim.getClientId(&local, (std::string("\\\\") + computer).c_str())) << "this computer by name";
    EXPECT_NE(0, sim.getClientId(&local, "\\\\no-such-host")) << "other computers are not simulated";
    EXPECT_EQ(0, sim.discovery(client, kTransportUsb, ""));
}

void expectEnumeration(Simulator& sim, uint32_t client, TwoDevices& found) {
    resetSeen(&sim, client);
    ASSERT_EQ(0, sim.enumHids(client, kTransportLocal, "", onEnum));
    ASSERT_EQ(3u, g_seen.enumerated.size()) << "one callback per interface, all before the call returned";
    for (DWORD thread : g_seen.enumThreads) EXPECT_EQ(GetCurrentThreadId(), thread) << "on the calling thread";
    found = {g_seen.enumerated[0], g_seen.enumerated[1], g_seen.enumerated[2]};
    const DcsHandle usbFirst = found.usbFirst, usbSecond = found.usbSecond, net = found.net;
    EXPECT_NE(0u, usbFirst);
    EXPECT_NE(usbFirst, usbSecond);
    EXPECT_NE(usbSecond, net);
    EXPECT_EQ((std::vector<std::string>{"USB001", "USB001#1", "NET7"}), g_seen.enumeratedPorts)
        << "properties are readable from inside the enumeration";

    resetSeen(&sim, client);
    ASSERT_EQ(0, sim.enumHids(client, "IPv4", "", onEnum));
    EXPECT_EQ(std::vector<DcsHandle>{net}, g_seen.enumerated) << "a named transport enumerates only its devices";
    EXPECT_NE(0, sim.enumHids(client, kTransportLocal, "", nullptr));
    EXPECT_NE(0, sim.enumHids(client + 100, kTransportLocal, "", onEnum)) << "an identity never given out";
}

// Port names find the interfaces and the scanner; `scanner` is the USB device's.
void expectLookupsByPort(Simulator& sim, uint32_t client, const TwoDevices& found, DcsHandle& scanner) {
    const DcsHandle usbFirst = found.usbFirst, usbSecond = found.usbSecond, net = found.net;
    DcsHandle handle = 77;
    EXPECT_EQ(0, sim.enumSpecificHid(client, "USB001", &handle));
    EXPECT_EQ(usbFirst, handle) << "the first interface of the device on that port";
    EXPECT_EQ(0, sim.enumSpecificHid(client, "NET7", &handle));
    EXPECT_EQ(net, handle);
    EXPECT_NE(0, sim.enumSpecificHid(client, "USB999", &handle));
    EXPECT_EQ(0u, handle) << "no handle for an unknown port";
    ASSERT_EQ(0, sim.enumSpecificScanner(client, "USB001", &scanner));
    EXPECT_NE(0u, scanner);
    EXPECT_NE(usbFirst, scanner);
    EXPECT_NE(usbSecond, scanner);
    EXPECT_EQ(0, sim.openScanner(client, scanner));
    EXPECT_EQ(0, sim.closeScanner(client, scanner));
    EXPECT_NE(0, sim.closeScanner(client, scanner)) << "closed as often as opened";
    EXPECT_NE(0, sim.openScanner(client, usbFirst)) << "a HID handle is no scanner";
}

void expectProperties(Simulator& sim, uint32_t client, const TwoDevices& found, DcsHandle scanner) {
    const DcsHandle usbFirst = found.usbFirst, usbSecond = found.usbSecond, net = found.net;
    EXPECT_EQ("USB001#1", property(sim, client, usbSecond, kDescriptorPortname));
    DcsHandle secondHid = 0, scannerOfSecond = 0;
    EXPECT_EQ(0, sim.enumSpecificHid(client, "USB001#1", &secondHid));
    EXPECT_EQ(usbSecond, secondHid) << "each interface's port name finds that interface";
    EXPECT_EQ(0, sim.enumSpecificScanner(client, "usb001#1", &scannerOfSecond));
    EXPECT_EQ(scanner, scannerOfSecond) << "and the device's scanner";
    EXPECT_EQ("USB1", property(sim, client, usbFirst, kDescriptorTransport));
    EXPECT_EQ("KV Scan 100", property(sim, client, usbFirst, kDescriptorScannerModel));
    EXPECT_EQ("NET7", property(sim, client, net, kDescriptorPortname));
    EXPECT_EQ("IPv4", property(sim, client, net, kDescriptorTransport));
    EXPECT_EQ("", property(sim, client, net, kDescriptorScannerModel)) << "an empty model has length 0";
    LONG code = 0;
    property(sim, client, usbFirst, "<Name>Portname</Name>", &code);
    EXPECT_NE(0, code) << "descriptors are matched whole";
    property(sim, client, scanner, kDescriptorPortname, &code);
    EXPECT_NE(0, code) << "string properties belong to HID handles";

    char small[3] = {'a', 'b', 'c'};
    uint32_t length = 0;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, sim.getStringHid(client, usbFirst, kDescriptorPortname, small, 3, &length));
    EXPECT_EQ(7u, length) << "the size needed, terminator included";
    EXPECT_EQ('a', small[0]) << "a buffer too small stays untouched";
    char exact[7];
    EXPECT_EQ(0, sim.getStringHid(client, usbFirst, kDescriptorPortname, exact, 7, &length));
    EXPECT_STREQ("USB001", exact);

    int32_t value = 0;
    EXPECT_EQ(0, sim.getLongHid(client, usbFirst, "<Name>Vid</Name><Type>Long</Type><Access>ReadOnly</Access>", &value));
    EXPECT_EQ(0x1234, value);
    EXPECT_EQ(0, sim.getLongHid(client, usbFirst, "<Name>Pid</Name><Type>Long</Type><Access>ReadOnly</Access>", &value));
    EXPECT_EQ(7, value);
    uint32_t state = 0;
    EXPECT_EQ(0, sim.getCurrentStateHid(client, usbFirst, &state));
    EXPECT_NE(kHidStateFailed, state);
}

void expectJournal(const std::string& journal, uint32_t client, const TwoDevices& found) {
    expectInJournal(journal, {"load scenario=dl01devlink.scenario devices=2 faults=0\r\n", "DcsInitialize -> 0 uses=1\r\n",
                              "DcsGetClientId host= -> 0 client=" + text(client) + "\r\n",
                              "DcsEnumHids client=" + text(client) + " transport=LOCAL_TRANSPORT second= -> 0 handles=" +
                                  text(found.usbFirst) + "," + text(found.usbSecond) + "," + text(found.net) +
                                  " results=0,0,0",
                              "DcsGetStringHid client=" + text(client) + " handle=" + text(found.usbSecond) +
                                  " property=Portname size=260 -> 0 value=USB001",
                              "property=Portname size=3 -> 122 needed=7\r\n", "DcsUninitialize -> 0 uses=0\r\n"});
}
}  // namespace

TEST(DevlinkSimulator, EnumeratesEachInterfaceSynchronouslyAndAnswersItsProperties) {
    Simulator sim("dl01", kTwoDevices);
    uint32_t client = 0;
    ASSERT_NO_FATAL_FAILURE(startWithIdentities(sim, client));
    TwoDevices found;
    ASSERT_NO_FATAL_FAILURE(expectEnumeration(sim, client, found));
    DcsHandle scanner = 0;
    ASSERT_NO_FATAL_FAILURE(expectLookupsByPort(sim, client, found, scanner));
    expectProperties(sim, client, found, scanner);
    EXPECT_EQ(0, sim.install());
    EXPECT_EQ(0, sim.uninitialize());
    EXPECT_NE(0, sim.openHid(client, found.usbFirst)) << "nothing works after the last DcsUninitialize";
    expectJournal(sim.journal(), client, found);
}

TEST(DevlinkSimulator, InjectedReportsAndNotificationsReachTheRegisteredCallbacksOnALibraryThread) {
    Simulator sim("dl03", kTwoDevices);
    const uint32_t client = sim.start();
    ASSERT_NE(0u, client);
    resetSeen(&sim, client);
    g_seen.reportResult = 7;
    DcsHandle first = 0, second = 0;
    ASSERT_EQ(0, sim.enumSpecificHid(client, "USB001", &first));
    second = first + 1;
    EXPECT_NE(0, sim.registerForReports(client, first, onReport)) << "registering needs an open handle";
    ASSERT_EQ(0, sim.openHid(client, first));
    ASSERT_EQ(0, sim.openHid(client, second));
    ASSERT_EQ(0, sim.registerForReports(client, first, onReport));
    ASSERT_EQ(0, sim.registerForNotifications(client, first, onNotification));

    EXPECT_EQ("ok delivered result=7", sim.command("report USB001 0 01 00 33 00 00 00 02 03"));
    EXPECT_EQ("ok delivered result=7", sim.command("report usb001 0")) << "an empty report; ports ignore case";
    std::string longReport = "report USB001 0 ";
    for (int i = 0; i < 300; ++i) longReport += "A5";
    EXPECT_EQ("ok delivered result=7", sim.command(longReport));
    EXPECT_EQ("ok not registered", sim.command("report USB001 1 01")) << "the second interface is open only";
    EXPECT_EQ("ok delivered result=5", sim.command("notify USB001 0 2 1"));
    {
        std::lock_guard<std::mutex> hold(g_seen.lock);
        ASSERT_EQ(3u, g_seen.reports.size());
        const auto& report = g_seen.reports[0];
        EXPECT_EQ(client, report.first) << "the first value is the registering client, never 0";
        EXPECT_EQ(first, report.handle);
        EXPECT_EQ((std::vector<uint8_t>{1, 0, 0x33, 0, 0, 0, 2, 3}), report.bytes);
        EXPECT_NE(GetCurrentThreadId(), report.thread) << "reports come on the library's thread";
        EXPECT_TRUE(g_seen.reports[1].pointer) << "an empty report still has a valid pointer";
        EXPECT_TRUE(g_seen.reports[1].bytes.empty());
        EXPECT_EQ(300u, g_seen.reports[2].bytes.size());
        EXPECT_EQ(0xA5, g_seen.reports[2].bytes[299]);
        ASSERT_EQ(1u, g_seen.notifications.size());
        EXPECT_EQ(first, g_seen.notifications[0].handle);
        EXPECT_EQ(kNotificationClassHidOpen, g_seen.notifications[0].notificationClass);
        EXPECT_EQ(kNotificationHidOpenOkay, g_seen.notifications[0].code);
        EXPECT_NE(GetCurrentThreadId(), g_seen.notifications[0].thread);
    }

    EXPECT_EQ(0, sim.unregisterForReports(client, first));
    EXPECT_EQ("ok not registered", sim.command("report USB001 0 01"));
    EXPECT_EQ(3u, reportCount()) << "no callback after unregistering";
    EXPECT_EQ("ok delivered result=5", sim.command("notify USB001 0 2 2")) << "notifications are registered apart";
    EXPECT_EQ(0, sim.unregisterForNotifications(client, first));
    EXPECT_EQ("ok not registered", sim.command("notify USB001 0 2 2"));
    EXPECT_EQ(0, sim.unregisterForReports(client, first)) << "unregistering twice is harmless";

    ASSERT_EQ(0, sim.registerForReports(client, first, onReport));
    ASSERT_EQ(0, sim.openHid(client, first)) << "opened twice";
    EXPECT_EQ(0, sim.closeHid(client, first));
    EXPECT_EQ("ok delivered result=7", sim.command("report USB001 0 02")) << "still open once";
    EXPECT_EQ(0, sim.closeHid(client, first));
    EXPECT_EQ("ok not registered", sim.command("report USB001 0 03")) << "the last close ends the registration";
    EXPECT_NE(0, sim.closeHid(client, first)) << "closed as often as opened";
    EXPECT_EQ(4u, reportCount());

    expectInJournal(sim.journal(),
                    {"report port=USB001 hid=0 handle=" + text(first) +
                         " length=8 bytes=01 00 33 00 00 00 02 03 -> delivered result=7\r\n",
                     "report port=USB001 hid=1 handle=" + text(second) + " length=1 bytes=01 -> not registered\r\n",
                     "notification port=USB001 hid=0 handle=" + text(first) + " class=2 code=1 -> delivered result=5\r\n",
                     "DcsRegisterForReportsHid client=" + text(client) + " handle=" + text(first) + " -> 6 (not open)"});

    // The last DcsUninitialize stops the pipe and lets the module go.
    EXPECT_EQ(0, sim.uninitialize());
    EXPECT_EQ("", sim.command("ping", 3));
    sim.unload();
    EXPECT_FALSE(sim.loadedNow()) << "no thread of the library keeps it loaded";
}

TEST(DevlinkSimulator, UnregisterWaitsForARunningCallbackExceptFromInsideIt) {
    Simulator sim("dl04", nullptr);
    uint32_t client = 0;
    const DcsHandle handle = startRegistered(sim, client);
    ASSERT_NE(0u, handle);
    {
        HeldCallback held;
        std::string reply;
        std::thread injector([&] { reply = sim.command("report USB001 0 01"); });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held.started.get(), 10000)) << "the callback began";
        // The callback is held until this thread is inside the unregister call.
        std::thread releaser([&] {
            Sleep(300);
            SetEvent(held.release.get());
        });
        EXPECT_EQ(0, sim.unregisterForReports(client, handle));
        EXPECT_TRUE(g_seen.finished) << "unregistering returned while the callback was still running";
        releaser.join();
        injector.join();
        EXPECT_EQ("ok delivered result=0", reply);
    }

    // From inside its own callback, unregistering cannot wait for itself.
    ASSERT_EQ(0, sim.registerForReports(client, handle, onReport));
    g_seen.unregisterFromCallback = true;
    EXPECT_EQ("ok delivered result=0", sim.command("report USB001 0 02"));
    g_seen.unregisterFromCallback = false;
    EXPECT_EQ(0, g_seen.unregisterInside);
    EXPECT_EQ("ok not registered", sim.command("report USB001 0 03"));
    EXPECT_EQ(2u, reportCount());
    EXPECT_EQ(0, sim.uninitialize());
}

namespace {
std::vector<WPARAM> g_deviceChanges;

LRESULT CALLBACK recordingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) g_deviceChanges.push_back(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Pumps this thread's messages until `count` device changes arrived or the time is up.
bool pumpUntil(size_t count, DWORD timeoutMs = 10000) {
    for (DWORD waited = 0; g_deviceChanges.size() < count && waited < timeoutMs; waited += 20) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (g_deviceChanges.size() < count) Sleep(20);
    }
    return g_deviceChanges.size() >= count;
}
}  // namespace

TEST(DevlinkSimulator, ArrivalAndRemovalChangeTheDevicesAndPostDeviceChangeToThisProcessWindows) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recordingWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DevlinkTestWindow";
    ASSERT_NE(0, RegisterClassA(&windowClass));
    HWND window = CreateWindowExA(0, "DevlinkTestWindow", "devlink test", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, window) << "error " << GetLastError()
                               << " (a fresh Wine prefix cannot create windows until its server restarts)";

    Simulator sim("dl05", nullptr);
    const uint32_t client = sim.start();
    ASSERT_NE(0u, client);
    const std::string added = sim.command("arrive port=USB002 transport=USB1 model=\"KV Scan 200\" hids=2");
    EXPECT_TRUE(contains(added, "ok added port=USB002 hids=")) << added;
    EXPECT_FALSE(contains(added, "windows=0")) << added;
    ASSERT_TRUE(pumpUntil(1)) << "WM_DEVICECHANGE reached the window";
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVNODES_CHANGED), g_deviceChanges[0]);

    resetSeen(&sim, client);
    ASSERT_EQ(0, sim.enumHids(client, kTransportLocal, "", onEnum));
    EXPECT_EQ((std::vector<std::string>{"USB001", "USB002", "USB002#1"}), g_seen.enumeratedPorts);
    DcsHandle handle = 0;
    ASSERT_EQ(0, sim.enumSpecificHid(client, "USB002", &handle));
    EXPECT_EQ("KV Scan 200", property(sim, client, handle, kDescriptorScannerModel));
    ASSERT_EQ(0, sim.openHid(client, handle));
    ASSERT_EQ(0, sim.registerForReports(client, handle, onReport));
    EXPECT_EQ("ok delivered result=0", sim.command("report USB002 0 01"));
    const std::string listed = sim.command("devices");
    EXPECT_TRUE(contains(listed, "ok devices=2 | port=USB001 transport=USB1 model=\"KV Scan 100\"")) << listed;
    EXPECT_TRUE(contains(listed, "port=USB002 transport=USB1 model=\"KV Scan 200\"")) << listed;
    EXPECT_TRUE(contains(listed, "registered=" + std::to_string(handle))) << listed;

    EXPECT_TRUE(contains(sim.command("arrive port=USB002"), "error")) << "a port is there once";
    EXPECT_TRUE(contains(sim.command("arrive hids=2"), "error")) << "a device needs a port";
    EXPECT_TRUE(contains(sim.command("arrive port=USB003 hids=33"), "error"));
    pumpUntil(2, 300);
    EXPECT_EQ(1u, g_deviceChanges.size()) << "refused arrivals post nothing";

    const std::string removed = sim.command("remove USB002");
    EXPECT_TRUE(contains(removed, "ok removed port=USB002 windows=")) << removed;
    ASSERT_TRUE(pumpUntil(2));
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVNODES_CHANGED), g_deviceChanges[1]);
    EXPECT_TRUE(contains(sim.command("report USB002 0 01"), "error unknown port"));
    resetSeen(&sim, client);
    ASSERT_EQ(0, sim.enumHids(client, kTransportLocal, "", onEnum));
    EXPECT_EQ(1u, g_seen.enumerated.size());
    EXPECT_NE(0, sim.enumSpecificHid(client, "USB002", &handle));
    uint32_t state = 0;
    EXPECT_NE(0, sim.getCurrentStateHid(client, handle, &state)) << "a removed device's handle is gone";
    EXPECT_TRUE(contains(sim.command("remove USB002"), "error unknown port"));
    EXPECT_EQ(0, sim.uninitialize());
    DestroyWindow(window);

    expectInJournal(sim.journal(), {"command arrive port=USB002 transport=USB1 model=\"KV Scan 200\" hids=2 -> ok added",
                                    "command remove USB002 -> ok removed port=USB002"});
}

TEST(DevlinkSimulator, FaultsFailTheNamedCallsAsOftenAsAskedEvenAcrossReloads) {
    Simulator sim("dl06",
                  "device port=USB001\n"
                  "device port=USB002\n"
                  "fail init 1 code=1234\n"
                  "fail enum 2\n"
                  "bogus line\n");
    ASSERT_TRUE(sim.load());
    SetLastError(0);
    EXPECT_EQ(1234, sim.initialize()) << "the first DcsInitialize of the process fails";
    EXPECT_EQ(1234u, GetLastError()) << "with the code as the last error, which the binding reports";
    // As the binding does after a failed DcsInitialize: unload, and load again at the next use.
    sim.unload();
    ASSERT_FALSE(sim.loadedNow());
    const uint32_t client = sim.start();
    ASSERT_NE(0u, client) << "the fault was used up in this process, not per load";

    resetSeen(&sim, client);
    EXPECT_EQ(ERROR_GEN_FAILURE, sim.enumHids(client, kTransportLocal, "", onEnum));
    EXPECT_EQ(ERROR_GEN_FAILURE, sim.enumHids(client, kTransportLocal, "", onEnum));
    EXPECT_TRUE(g_seen.enumerated.empty()) << "a failed enumeration calls nothing back";
    EXPECT_EQ(0, sim.enumHids(client, kTransportLocal, "", onEnum));
    ASSERT_EQ(2u, g_seen.enumerated.size());
    const DcsHandle usb1 = g_seen.enumerated[0], usb2 = g_seen.enumerated[1];

    EXPECT_EQ("ok fail open 1 port=USB002", sim.command("fail open 1 port=USB002"));
    EXPECT_EQ(0, sim.openHid(client, usb1)) << "the fault names another port";
    EXPECT_EQ(ERROR_GEN_FAILURE, sim.openHid(client, usb2));
    EXPECT_EQ(0, sim.openHid(client, usb2));
    EXPECT_EQ("ok fail reports 1", sim.command("fail reports 1 code=42"));
    EXPECT_EQ(42, sim.registerForReports(client, usb1, onReport));
    EXPECT_EQ(0, sim.registerForReports(client, usb1, onReport));
    EXPECT_EQ("ok fail notifications 1", sim.command("fail notifications 1"));
    EXPECT_NE(0, sim.registerForNotifications(client, usb1, onNotification));
    EXPECT_EQ(0, sim.registerForNotifications(client, usb1, onNotification));
    EXPECT_EQ("ok fail state 1 port=USB001", sim.command("fail state 1 port=USB001"));
    uint32_t state = 0;
    EXPECT_EQ(0, sim.getCurrentStateHid(client, usb2, &state));
    EXPECT_NE(kHidStateFailed, state);
    EXPECT_EQ(0, sim.getCurrentStateHid(client, usb1, &state));
    EXPECT_EQ(kHidStateFailed, state);
    EXPECT_EQ(0, sim.getCurrentStateHid(client, usb1, &state));
    EXPECT_NE(kHidStateFailed, state);
    EXPECT_EQ("ok fail openscanner always", sim.command("fail openscanner always"));
    DcsHandle scanner = 0;
    ASSERT_EQ(0, sim.enumSpecificScanner(client, "USB001", &scanner));
    EXPECT_NE(0, sim.openScanner(client, scanner));
    EXPECT_NE(0, sim.openScanner(client, scanner));
    EXPECT_EQ("ok fail openscanner 0", sim.command("fail openscanner 0"));
    EXPECT_EQ(0, sim.openScanner(client, scanner)) << "a count of 0 clears the fault";

    // A second initialisation in the same load (another binding) can be made to fail too.
    EXPECT_EQ("ok fail init 1", sim.command("fail init 1"));
    EXPECT_NE(0, sim.initialize());
    EXPECT_EQ(0, sim.initialize());
    EXPECT_EQ(0, sim.uninitialize());
    EXPECT_EQ("ok pong", sim.command("ping")) << "one use is still held";
    EXPECT_EQ(0, sim.uninitialize());

    // Only the enumeration fault is left at the reload.
    expectInJournal(sim.journal(), {"scenario line 5 ignored: unknown line\r\n", "DcsInitialize -> 1234 (fault)\r\n",
                                    "load scenario=dl06devlink.scenario devices=2 faults=1\r\n",
                                    "DcsEnumHids client=" + text(client) +
                                        " transport=LOCAL_TRANSPORT second= -> 31 (fault)\r\n",
                                    "command fail open 1 port=USB002 -> ok fail open 1 port=USB002\r\n"});
}

TEST(DevlinkSimulator, ControlChannelRefusesMalformedCommandsAndServesClientsSideBySide) {
    Simulator sim("dl07", nullptr);
    uint32_t client = 0;
    const DcsHandle handle = startRegistered(sim, client);
    ASSERT_NE(0u, handle);
    // Without a scenario one default device is present.
    ASSERT_EQ(0, sim.enumHids(client, kTransportLocal, "", onEnum));
    EXPECT_EQ(std::vector<DcsHandle>{handle}, g_seen.enumerated);
    EXPECT_EQ("USB001", property(sim, client, handle, kDescriptorPortname));
    EXPECT_EQ("USB1", property(sim, client, handle, kDescriptorTransport));
    EXPECT_EQ("KV Scan 100", property(sim, client, handle, kDescriptorScannerModel));
    EXPECT_TRUE(contains(sim.journal(), "load scenario=none devices=1 faults=0\r\n")) << sim.journal();

    const char* const malformed[] = {"", "   ", "bogus", "ping extra", "report", "report USB001", "report NOPE 0 01",
                                     "report USB001 1 01", "report USB001 -1 01", "report USB001 0 0G",
                                     "report USB001 0 012", "notify USB001 0 2", "notify USB001 0 x 1",
                                     "fail", "fail nothing 1", "fail open lots", "fail open 1 port", "fail open 1 x=y",
                                     "arrive", "arrive port", "arrive port=USB009 hids=zero", "remove",
                                     "\"unterminated", "devices now"};
    for (const char* line : malformed) {
        const std::string reply = sim.command(line);
        EXPECT_EQ(0u, reply.rfind("error ", 0)) << "'" << line << "' got '" << reply << "'";
    }
    EXPECT_EQ(0u, sim.command(std::string(20000, 'z')).rfind("error ", 0)) << "a long line";

    // Several commands on one connection, each answered in turn.
    {
        UniqueHandle pipe = sim.connect();
        ASSERT_TRUE(static_cast<bool>(pipe)) << GetLastError();
        const std::string lines = "ping\r\nbogus\nping\n";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(pipe.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr));
        std::string replies;
        char buffer[256];
        DWORD read = 0;
        while (std::count(replies.begin(), replies.end(), '\n') < 3 &&
               ReadFile(pipe.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            replies.append(buffer, read);
        }
        EXPECT_EQ("ok pong\nerror unknown command 'bogus'\nok pong\n", replies);
    }

    // A report whose callback waits until another client has been answered: the two connections
    // are served side by side, and a silent client holds up neither.
    UniqueHandle silent = sim.connect();
    EXPECT_TRUE(static_cast<bool>(silent)) << GetLastError();
    HeldCallback holding;
    std::string held;
    std::atomic<bool> answered{false};
    std::thread injector([&] {
        held = sim.command("report USB001 0 01");
        answered = true;
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holding.started.get(), 10000));
    std::vector<std::string> pings(4);
    std::vector<std::thread> pingers;
    for (std::string& reply : pings) pingers.emplace_back([&sim, &reply] { reply = sim.command("ping"); });
    for (std::thread& pinger : pingers) pinger.join();
    const bool answeredEarly = answered;
    SetEvent(holding.release.get());
    injector.join();
    for (const std::string& reply : pings) EXPECT_EQ("ok pong", reply);
    EXPECT_FALSE(answeredEarly) << "the pings were answered while the report waited";
    EXPECT_EQ("ok delivered result=0", held);
    EXPECT_EQ(0, sim.uninitialize());
}

TEST(DevlinkSimulator, PanelToolDeliversNamedReportsAndSaysWhetherTheyArrived) {
    Simulator sim("dl08", nullptr);
    uint32_t client = 0;
    const DcsHandle handle = startRegistered(sim, client);
    ASSERT_NE(0u, handle);
    g_seen.reportResult = 13;
    ASSERT_EQ(0, sim.registerForNotifications(client, handle, onNotification));

    const std::string tool = "\"" + built("panel.exe") + "\"";
    EXPECT_EQ(0, runCommand(tool + " --prefix dl08 scan --gray --dpi 300 --paper 3 --app 3"))
        << "delivered, whatever the callback answered";
    EXPECT_EQ(0, runCommand(tool + " --pipe \\\\.\\pipe\\dl08devlink --port USB001 host cancel"));
    EXPECT_EQ(0, runCommand(tool + " --prefix dl08 hidopen error"));
    EXPECT_EQ(1, runCommand(tool + " --prefix dl08 --hid 0 --port USB009 card")) << "an unknown port is refused";
    EXPECT_EQ(3, runCommand(tool + " --prefix dl08 scan --dpi 301")) << "a usage error sends nothing";
    EXPECT_EQ(0, runCommand(tool + " --prefix dl08 arrive port=USB002 \"model=KV Scan 200\""));
    EXPECT_TRUE(contains(sim.command("devices"), "port=USB002 transport=USB1 model=\"KV Scan 200\""));
    {
        std::lock_guard<std::mutex> hold(g_seen.lock);
        ASSERT_EQ(2u, g_seen.reports.size());
        EXPECT_EQ((std::vector<uint8_t>{1, 0, 0x33, 0, 0, 0, 2, 3}), g_seen.reports[0].bytes);
        EXPECT_EQ((std::vector<uint8_t>{1, 2, 0, 0, 0, 0, 153, 0}), g_seen.reports[1].bytes);
        ASSERT_EQ(1u, g_seen.notifications.size());
        EXPECT_EQ(kNotificationHidOpenError, g_seen.notifications[0].code);
    }
    EXPECT_EQ(0, sim.unregisterForReports(client, handle));
    EXPECT_EQ(1, runCommand(tool + " --prefix dl08 list")) << "nobody registered: not delivered";
    EXPECT_EQ(0, sim.uninitialize());
    EXPECT_EQ(2, runCommand(tool + " --prefix dl08 ping")) << "the simulator is gone";
}
