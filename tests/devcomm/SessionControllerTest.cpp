// The session controller server and its clients in one process, with the device simulator as
// the device library under a prefix of the test's own.
#include "SessionController.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testing_support;

namespace {
// "<code>devlink.dll" beside the test program: the simulator with its scenario and journal.
class SimulatorCopy {
public:
    SimulatorCopy(const std::string& code, const std::string& scenario) : base_(ownFolder() + code + "devlink") {
        CopyFileA((ownFolder() + "kvabdevlink.dll").c_str(), (base_ + ".dll").c_str(), FALSE);
        writeFile(base_ + ".scenario", scenario);
        DeleteFileA((base_ + ".journal").c_str());
    }
    ~SimulatorCopy() {
        for (const char* extension : {".dll", ".scenario", ".journal"}) DeleteFileA((base_ + extension).c_str());
    }
    std::string journal() const { return readFile(base_ + ".journal"); }

private:
    std::string base_;
};

constexpr DcsHandle kScanner = 384;  // the first device's scanner in the simulator
}  // namespace

TEST(SessionController, NamesFollowTheComponentCode) {
    EXPECT_EQ("Session Controller kvab", sessionControllerName("mxsd", false));
    EXPECT_EQ("kvabdevlink.dll", sessionLibraryName("mxsd", false));
    EXPECT_EQ("Session Controller abcd", sessionControllerName("abcd", false));
    EXPECT_EQ("abcddevlink.dll", sessionLibraryName("abcd", false));
    EXPECT_EQ("Session Controller MXSD", sessionControllerName("MXSD", false)) << "the server is case-sensitive";
    EXPECT_EQ("Session Controller kvab", sessionControllerName("MXSD", true)) << "the client is not";
}

TEST(SessionController, CountsHoldersAndClosesWithTheLastOne) {
    SimulatorCopy simulator("sct1", "device port=USB001 hids=1\n");
    // Without a server a client loads no library.
    EXPECT_NE(0, SessionControllerClient("sct1", "USB001").openSession());
    EXPECT_NE(0, SessionControllerClient("sct1", "USB001").closeSession());
    EXPECT_EQ(nullptr, GetModuleHandleA("sct1devlink.dll"));
    EXPECT_EQ("", simulator.journal()) << "the library was never called";

    SessionController server("sct1");
    ASSERT_EQ(0, server.start());
    ASSERT_NE(nullptr, server.window());
    EXPECT_EQ(0, server.start()) << "a second start finds the window and creates nothing";

    SessionControllerClient first("sct1", "USB001");
    SessionControllerClient second("SCT1", "USB001");
    EXPECT_EQ(0, first.openSession());
    EXPECT_EQ(0, second.openSession());
    EXPECT_EQ(2, server.holders(kScanner));
    EXPECT_EQ(1, countLines(simulator.journal(), "DcsOpenScanner ")) << simulator.journal();

    EXPECT_EQ(0, first.closeSession());
    EXPECT_EQ(1, server.holders(kScanner)) << "two opens and one close keep the scanner open";
    EXPECT_FALSE(contains(simulator.journal(), "DcsCloseScanner "));
    EXPECT_EQ(0, second.closeSession());
    EXPECT_EQ(0, server.holders(kScanner));
    EXPECT_EQ(1, countLines(simulator.journal(), "DcsCloseScanner ")) << simulator.journal();
    EXPECT_EQ(0, second.closeSession()) << "a release of a handle not held is answered and does nothing";
    EXPECT_EQ(1, countLines(simulator.journal(), "DcsCloseScanner "));

    SessionControllerClient unknown("sct1", "USB999");
    EXPECT_NE(0, unknown.openSession()) << "a port the library doesn't know";
    EXPECT_EQ(0, server.stop());
}

TEST(SessionController, AFailedOpenLeavesNothingToClose) {
    SimulatorCopy simulator("sct2", "device port=USB001 hids=1\nfail openscanner 1\n");
    SessionController server("sct2");
    ASSERT_EQ(0, server.start());
    SessionControllerClient client("sct2", "USB001");
    EXPECT_EQ(0, client.openSession()) << "the request itself was delivered";
    EXPECT_EQ(0, server.holders(kScanner));
    EXPECT_EQ(0, client.closeSession());
    EXPECT_FALSE(contains(simulator.journal(), "DcsCloseScanner ")) << simulator.journal();
    EXPECT_EQ(0, client.openSession());
    EXPECT_EQ(1, server.holders(kScanner)) << "the next open succeeds";
    server.stop();
}

TEST(SessionController, AHungControllerTimesTheRequestOut) {
    SimulatorCopy simulator("sct4", "device port=USB001 hids=1\n");
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr), release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // A controller served by an outside program that has stopped taking messages.
    std::thread busy([&] {
        const std::string name = sessionControllerName("sct4", false);
        WNDCLASSEXA windowClass = {sizeof(windowClass)};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = name.c_str();
        RegisterClassExA(&windowClass);
        HWND window = CreateWindowExA(0, name.c_str(), name.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
        SetEvent(ready);
        WaitForSingleObject(release, 30000);
        DestroyWindow(window);
        UnregisterClassA(name.c_str(), GetModuleHandleA(nullptr));
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 10000));
    EXPECT_EQ(ERROR_TIMEOUT, SessionControllerClient("sct4", "USB001").openSession())
        << "the request gives up instead of waiting for good";
    SetEvent(release);
    busy.join();
    CloseHandle(ready);
    CloseHandle(release);
}

TEST(SessionController, RequestsAreServedWhileTheStartingThreadIsBlocked) {
    // The monitor's main thread may wait inside the device library for a report callback that
    // is itself asking the controller for a session.
    SimulatorCopy simulator("sct5", "device port=USB001 hids=1\n");
    SessionController server("sct5");
    ASSERT_EQ(0, server.start());
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<LONG> result{-1};
    std::thread opener([&] {
        result = SessionControllerClient("sct5", "USB001").openSession();
        SetEvent(done);
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, 4000)) << "this thread pumps no message meanwhile";
    opener.join();
    CloseHandle(done);
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, server.holders(kScanner));
    server.stop();
    EXPECT_EQ(nullptr, FindWindowA(server.name().c_str(), server.name().c_str())) << "stop ends the window";
    EXPECT_EQ(1, server.holders(kScanner)) << "stopping keeps the sessions";
    EXPECT_NE(0, SessionControllerClient("sct5", "USB001").closeSession()) << "nobody serves now";

    // Started again, it serves the sessions it kept.
    ASSERT_EQ(0, server.start());
    EXPECT_EQ(0, SessionControllerClient("sct5", "USB001").closeSession());
    EXPECT_EQ(0, server.holders(kScanner));

    // Its window closed by another sender: the next start serves again.
    SendMessageA(FindWindowA(server.name().c_str(), server.name().c_str()), WM_CLOSE, 0, 0);
    EXPECT_EQ(nullptr, FindWindowA(server.name().c_str(), server.name().c_str()));
    ASSERT_EQ(0, server.start());
    EXPECT_NE(nullptr, FindWindowA(server.name().c_str(), server.name().c_str()));
    EXPECT_EQ(0, SessionControllerClient("sct5", "USB001").openSession());
    EXPECT_EQ(1, server.holders(kScanner));
    server.stop();
    server.stop();
    EXPECT_EQ(nullptr, FindWindowA(server.name().c_str(), server.name().c_str()));
}
