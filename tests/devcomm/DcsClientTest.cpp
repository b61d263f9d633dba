// DcsClient against the fake device libraries of FakeDcs.cpp. The test holds its own
// reference to the fake, so its record outlives the binding's unloads; the binding's loads and
// unloads show as DcsInitialize and DcsUninitialize calls.
#include "DcsClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {
const std::string kPrefix = TEST_PRODUCT_PREFIX;
const std::string kFullFake = kPrefix + "fakedevlink.dll";
const std::string kPartialFake = kPrefix + "fakepartdevlink.dll";
const std::string kNoInitializeFake = kPrefix + "fakenoinitdevlink.dll";
const std::string kNoClientIdFake = kPrefix + "fakenoclientdevlink.dll";
const std::string kMissingLibrary = kPrefix + "nosuchdevlink.dll";

constexpr uint32_t kFakeClientId = 0x51;  // the fake's default identity
constexpr DcsHandle kHandle = 0x701;
constexpr DcsHandle kOtherHandle = 0x702;

// Results of calls made in order (a braced list is evaluated left to right).
using Results = std::vector<LONG>;
using Args = std::vector<uint32_t>;

// The control exports of one fake variant, through the test's own reference.
class Fake {
public:
    explicit Fake(const std::string& fileName) : module_(LoadLibraryA(fileName.c_str())) {
        if (module_ != nullptr) reset();
    }
    ~Fake() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    Fake(const Fake&) = delete;
    Fake& operator=(const Fake&) = delete;

    HMODULE module() const { return module_; }
    void reset() { get<void(WINAPI*)()>("FakeDcsReset")(); }
    void setResult(const char* entry, LONG result) {
        get<void(WINAPI*)(const char*, LONG)>("FakeDcsSetResult")(entry, result);
    }
    uint32_t calls(const char* entry) { return get<uint32_t(WINAPI*)(const char*)>("FakeDcsCallCount")(entry); }
    uint32_t calls(const std::string& entry) { return calls(entry.c_str()); }
    Args lastArgs(const std::string& entry) {
        uint32_t args[16] = {};
        uint32_t count =
            get<uint32_t(WINAPI*)(const char*, uint32_t*, uint32_t)>("FakeDcsLastArgs")(entry.c_str(), args, 16);
        return Args(args, args + (count < 16 ? count : 16));
    }
    void setClientId(uint32_t id) { get<void(WINAPI*)(uint32_t)>("FakeDcsSetClientId")(id); }
    std::string lastHostName() {
        char buffer[300] = {};
        get<void(WINAPI*)(char*, uint32_t)>("FakeDcsLastHostName")(buffer, sizeof(buffer));
        return buffer;
    }
    void setEnumHandles(const std::vector<DcsHandle>& handles) {
        get<void(WINAPI*)(const DcsHandle*, uint32_t)>("FakeDcsSetEnumHandles")(
            handles.data(), static_cast<uint32_t>(handles.size()));
    }
    void setString(const char* text) { get<void(WINAPI*)(const char*)>("FakeDcsSetString")(text); }
    void setSpecificHandle(DcsHandle handle) { get<void(WINAPI*)(DcsHandle)>("FakeDcsSetSpecificHandle")(handle); }
    void setLong(int32_t value) { get<void(WINAPI*)(int32_t)>("FakeDcsSetLong")(value); }
    void setState(uint32_t state) { get<void(WINAPI*)(uint32_t)>("FakeDcsSetState")(state); }
    uint32_t zeroIdCalls() { return get<uint32_t(WINAPI*)()>("FakeDcsZeroIdCalls")(); }
    uint32_t initializeCalls() { return calls("DcsInitialize"); }
    uint32_t uninitializeCalls() { return calls("DcsUninitialize"); }

private:
    template <typename Fn>
    Fn get(const char* name) {
        return testing_support::exportOf<Fn>(module_, name);
    }
    HMODULE module_;
};

uint32_t value(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The pause seam of writePrinter, recorded instead of slept.
class PausingClient : public DcsClient {
public:
    using DcsClient::DcsClient;
    std::vector<DWORD> pauses;

protected:
    void pause(DWORD milliseconds) override { pauses.push_back(milliseconds); }
};

LONG WINAPI ignoreReport(uint32_t, DcsHandle, const uint8_t*, uint32_t) { return 0; }
LONG WINAPI ignoreNotification(DcsHandle, uint32_t, uint32_t) { return 0; }

// The binding's use counts: of the library and of the client identity.
void expectUses(const DcsClient& client, uint32_t library, uint32_t identity) {
    EXPECT_EQ(client.libraryUses(), library);
    EXPECT_EQ(client.clientIdUses(), identity);
}

// The binding holds nothing: no use, no identity, no library, no handle.
void expectIdle(const DcsClient& client) {
    expectUses(client, 0, 0);
    EXPECT_EQ(client.clientId(), 0u);
    EXPECT_FALSE(client.isLibraryLoaded());
}

class DcsClientTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(fake_.module(), nullptr) << kFullFake << " " << GetLastError(); }
    // How often the binding loaded (DcsInitialize) and unloaded (DcsUninitialize) the fake.
    void expectLoads(uint32_t loads, uint32_t unloads) {
        EXPECT_EQ(fake_.initializeCalls(), loads);
        EXPECT_EQ(fake_.uninitializeCalls(), unloads);
    }

    Fake fake_{kFullFake};
};

// ---- file names and loading ------------------------------------------------------------------

TEST_F(DcsClientTest, NameComesFromTheModuleOrIsGivenAndNothingIsLoadedAtConstruction) {
    EXPECT_EQ(DcsClient(GetModuleHandleA(nullptr), "", false).libraryFileName(), kPrefix + "devlink.dll");
    // kernel32.dll sits in the system folder: only the part after the last backslash counts.
    EXPECT_EQ(DcsClient(GetModuleHandleA("kernel32.dll"), "", false).libraryFileName(), "kerndevlink.dll");
    // An unreadable path gives the plain name.
    const HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x5a5a0000));
    EXPECT_EQ(DcsClient(bogus, "", false).libraryFileName(), "devlink.dll");
    DcsClient client(kFullFake, "", false);
    EXPECT_EQ(client.libraryFileName(), kFullFake);
    EXPECT_FALSE(client.isLibraryLoaded());
    EXPECT_EQ(fake_.initializeCalls(), 0u);
}

TEST_F(DcsClientTest, FailingInitializeOrIdentityIsReturnedAndGivesBackTheLibrary) {
    DcsClient client(kFullFake, "", false);
    fake_.setResult("DcsInitialize", 31);
    EXPECT_EQ(client.discovery(kTransportUsb, ""), 126);
    expectLoads(1, 0);  // unloaded without DcsUninitialize
    EXPECT_EQ(fake_.calls("DcsDiscovery"), 0u);
    expectIdle(client);

    // acquireClient passes the failed load's own code: the last error the fake set.
    EXPECT_EQ(client.acquireClient(), 31);
    EXPECT_EQ(fake_.initializeCalls(), 2u);
    expectIdle(client);

    fake_.setResult("DcsInitialize", 0);
    EXPECT_EQ(client.discovery(kTransportUsb, ""), 0);
    expectLoads(3, 1);
    EXPECT_EQ(fake_.calls("DcsDiscovery"), 1u);
    expectIdle(client);

    // A failing DcsGetClientId is returned and gives back the library.
    fake_.reset();
    fake_.setResult("DcsGetClientId", 5);
    EXPECT_EQ((Results{client.discovery(kTransportUsb, ""), client.openHid(kHandle),
                       client.registerForReportsCardReader(1), client.closeAllHids()}),
              Results(4, 5));
    EXPECT_EQ(client.openCount(kHandle), 0u);
    EXPECT_EQ(fake_.calls("DcsDiscovery"), 0u);
    EXPECT_EQ(fake_.calls("DcsOpenHid"), 0u);
    expectIdle(client);
    EXPECT_EQ(fake_.initializeCalls(), fake_.uninitializeCalls());

    // acquireClient keeps what it took: the library use stays until releaseClient.
    EXPECT_EQ(client.acquireClient(), 5);
    expectUses(client, 1, 0);
    EXPECT_EQ(client.releaseClient(), 0);
    expectIdle(client);

    // A library-family operation needs no identity.
    EXPECT_EQ(client.resume(), 0);
}

TEST(DcsClientLoad, UnusableLibrariesGiveTheirCodeAndStayUnloaded) {
    {
        SCOPED_TRACE("no DcsInitialize");
        Fake fake(kNoInitializeFake);
        ASSERT_NE(fake.module(), nullptr);
        DcsClient client(kNoInitializeFake, "", true);
        EXPECT_EQ((Results{client.discovery(kTransportUsb, ""), client.openHid(kHandle), client.resume(),
                           client.closeAllHids(), client.acquireClient()}),
                  (Results{126, 126, 126, 126, ERROR_PROC_NOT_FOUND}));
        EXPECT_FALSE(client.isLibraryLoaded());
        EXPECT_EQ(client.libraryUses(), 0u);
        EXPECT_EQ(fake.calls("DcsDiscovery"), 0u);
        EXPECT_EQ(fake.calls("DcsGetClientId"), 0u);
    }
    {
        SCOPED_TRACE("no DcsGetClientId: the lookup error");
        Fake fake(kNoClientIdFake);
        ASSERT_NE(fake.module(), nullptr);
        DcsClient client(kNoClientIdFake, "", false);
        EXPECT_EQ(client.discovery(kTransportUsb, ""), ERROR_PROC_NOT_FOUND);
        EXPECT_EQ(fake.calls("DcsDiscovery"), 0u);
        EXPECT_FALSE(client.isLibraryLoaded());
        EXPECT_EQ(client.libraryUses(), 0u);
        EXPECT_EQ(fake.initializeCalls(), fake.uninitializeCalls());
    }
    SCOPED_TRACE("no library at all");
    DcsClient client(kMissingLibrary, "", false);
    // acquireClient and install pass the system error of the failed load itself; per-handle and
    // close operations never load, since the handle is not open.
    EXPECT_EQ((Results{client.discovery(kTransportUsb, ""), client.enumHids(kTransportLocal, "", nullptr),
                       client.openHid(kHandle), client.resume(), client.closeAllPrinters(),
                       client.registerForSystemNotifications(1, 2), client.acquireClient(), client.install(),
                       client.closeHid(kHandle), client.registerForReportsHid(kHandle, ignoreReport)}),
              (Results{126, 126, 126, 126, 126, 126, ERROR_MOD_NOT_FOUND, ERROR_MOD_NOT_FOUND, 1, 1}));
    EXPECT_FALSE(client.isLibraryLoaded());
    EXPECT_EQ(client.libraryUses(), 0u);
}

TEST_F(DcsClientTest, KeepLoadedSetKeepsTheLibraryWithOneInitializeUntilDestroyed) {
    {
        DcsClient client(kFullFake, "", true);
        ASSERT_EQ(client.openHid(kHandle), 0);
        ASSERT_EQ(client.closeHid(kHandle), 0);
        EXPECT_TRUE(client.isLibraryLoaded());
        expectUses(client, 0, 0);
        EXPECT_EQ(client.clientId(), 0u);
        ASSERT_EQ(client.openHid(kHandle), 0);
        ASSERT_EQ(client.closeHid(kHandle), 0);
        EXPECT_EQ(client.discovery(kTransportUsb, ""), 0);
        expectLoads(1, 0);
        // The identity is still asked for whenever its use count goes from 0 to 1.
        EXPECT_EQ(fake_.calls("DcsGetClientId"), 3u);
    }
    EXPECT_EQ(fake_.uninitializeCalls(), 1u);
    // Whatever the counts, the destructor unloads and closes no handle.
    fake_.reset();
    {
        DcsClient client(kFullFake, "", false);
        ASSERT_EQ(client.openHid(kHandle), 0);
        ASSERT_EQ(client.openScanner(kOtherHandle), 0);
        ASSERT_EQ(client.acquireClient(), 0);
        EXPECT_EQ(client.libraryUses(), 3u);
    }
    EXPECT_EQ(fake_.uninitializeCalls(), 1u);
    EXPECT_EQ(fake_.calls("DcsCloseHid"), 0u);
    EXPECT_EQ(fake_.calls("DcsCloseScanner"), 0u);
}

// ---- client identity -------------------------------------------------------------------------

TEST_F(DcsClientTest, IdentityIsAskedOnceWhileInUseAndPassedToGlobalCalls) {
    DcsClient client(kFullFake, "", false);
    EXPECT_EQ(client.acquireClient(), 0);
    EXPECT_EQ(client.acquireClient(), 0);
    expectUses(client, 2, 2);
    EXPECT_EQ(client.clientId(), kFakeClientId);
    EXPECT_EQ(client.releaseClient(), 0);
    EXPECT_TRUE(client.isLibraryLoaded());
    EXPECT_EQ(client.releaseClient(), 0);
    expectIdle(client);
    // More releases than acquisitions stay at zero.
    EXPECT_EQ(client.releaseClient(), 0);
    expectIdle(client);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 1u);

    fake_.setClientId(0x99);
    ASSERT_EQ(client.acquireClient(), 0);
    EXPECT_EQ(client.clientId(), 0x99u);
    EXPECT_EQ(client.discovery(kTransportUsb, ""), 0);
    EXPECT_EQ(client.enumHids(kTransportLocal, "", nullptr), 0);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 2u);
    EXPECT_EQ(fake_.lastHostName(), "");
    EXPECT_EQ(fake_.lastArgs("DcsDiscovery")[0], 0x99u);
    EXPECT_EQ(fake_.lastArgs("DcsEnumHids")[0], 0x99u);
    EXPECT_EQ(client.releaseClient(), 0);
    expectIdle(client);
}

TEST_F(DcsClientTest, PerHandleCallsPassTheIdentityRecordedAtOpen) {
    DcsClient client(kFullFake, "", true);
    fake_.setClientId(7);
    ASSERT_EQ(client.openHid(kHandle), 0);
    // Give back the open's uses by hand so that the next use asks for a new identity.
    ASSERT_EQ(client.releaseClient(), 0);
    EXPECT_EQ(client.clientId(), 0u);
    fake_.setClientId(9);
    ASSERT_EQ(client.acquireClient(), 0);
    EXPECT_EQ(client.clientId(), 9u);

    EXPECT_EQ(client.registerForReportsHid(kHandle, ignoreReport), 0);
    EXPECT_EQ(fake_.lastArgs("DcsRegisterForReportsHid"), (Args{7, kHandle, value(reinterpret_cast<void*>(ignoreReport))}));
    EXPECT_EQ(client.registerForNotificationsHid(kHandle, ignoreNotification), 0);
    EXPECT_EQ(fake_.lastArgs("DcsRegisterForNotificationsHid"),
              (Args{7, kHandle, value(reinterpret_cast<void*>(ignoreNotification))}));
    EXPECT_EQ(client.discovery(kTransportUsb, ""), 0);
    EXPECT_EQ(fake_.lastArgs("DcsDiscovery")[0], 9u);
    // A second open keeps the first identity.
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_EQ(fake_.lastArgs("DcsOpenHid")[0], 9u);
    EXPECT_EQ(client.unregisterForReportsHid(kHandle), 0);
    EXPECT_EQ(fake_.lastArgs("DcsUnregisterForReportsHid"), (Args{7, kHandle}));
    EXPECT_EQ(client.closeHid(kHandle), 0);
    EXPECT_EQ(fake_.lastArgs("DcsCloseHid"), (Args{7, kHandle}));
    EXPECT_EQ(fake_.zeroIdCalls(), 0u);
}

// ---- host check ------------------------------------------------------------------------------

std::string computerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(name);
    return GetComputerNameA(name, &size) ? std::string(name) : std::string();
}

TEST_F(DcsClientTest, HostCheckTakesTheComputerNameInAnyCaseAsLocalAndAsksTheNetworkForOthers) {
    const std::string name = computerName();
    ASSERT_FALSE(name.empty());
    const bool mprWasLoaded = GetModuleHandleA("mpr.dll") != nullptr;
    std::vector<std::string> hosts = {""};
    for (int (*change)(int) : {+[](int c) { return c; }, ::tolower, ::toupper}) {
        std::string changed = name;
        for (char& c : changed) c = static_cast<char>(change(static_cast<unsigned char>(c)));
        hosts.insert(hosts.end(), {changed, "\\\\" + changed});
    }
    for (const std::string& host : hosts) {
        SCOPED_TRACE("host '" + host + "'");
        DcsClient client(kFullFake, host, false);
        EXPECT_EQ(client.checkHost(), 0);
        EXPECT_EQ(client.discovery(kTransportUsb, ""), 0);
        EXPECT_EQ(fake_.lastHostName(), host);
    }
    // The network provider was never asked: mpr.dll was not even loaded for it.
    if (!mprWasLoaded) {
        EXPECT_EQ(GetModuleHandleA("mpr.dll"), nullptr);
    }

    // Whatever the provider says about a name that does not exist is not 0 (on Wine, which has no
    // network provider, it answers ERROR_NO_NETWORK; Windows answers a lookup error).
    fake_.reset();
    for (const std::string& host : {std::string("kvab-no-such-host-4711"), std::string("\\\\kvab-no-such-host-4711"),
                                     "\\\\" + name + "x", std::string("\\x")}) {
        SCOPED_TRACE("host '" + host + "'");
        DcsClient client(kFullFake, host, false);
        const LONG result = client.checkHost();
        EXPECT_NE(result, 0);
        // The host check runs before the identity is asked for, and its code is returned.
        EXPECT_EQ(client.discovery(kTransportUsb, ""), result);
        EXPECT_EQ(fake_.calls("DcsGetClientId"), 0u);
        EXPECT_EQ(fake_.calls("DcsDiscovery"), 0u);
        EXPECT_FALSE(client.isLibraryLoaded());
    }
}

// ---- open and close --------------------------------------------------------------------------

TEST_F(DcsClientTest, OpensAndClosesAreCountedPerHandleWhateverTheKindOrResult) {
    PausingClient client(kFullFake, "", false);
    // An unopened handle gives 1 without loading the library.
    EXPECT_EQ((Results{client.registerForReportsHid(kHandle, ignoreReport), client.unregisterForNotificationsHid(kHandle),
                       client.writePrinter(kHandle, 1, 2, 3), client.startJobPrinter(kHandle, 1, 2, 3, 4, 5),
                       client.closeHid(kHandle), client.closePrinter(kHandle), client.closeScanner(kHandle),
                       client.closeCardReader(kHandle)}),
              Results(8, 1));
    EXPECT_TRUE(client.pauses.empty());
    EXPECT_EQ(fake_.initializeCalls(), 0u);
    expectIdle(client);

    // The last use unloads the library, and the next loads it again.
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_TRUE(client.isLibraryLoaded());
    expectUses(client, 1, 1);
    EXPECT_EQ(client.clientId(), kFakeClientId);
    ASSERT_EQ(client.closeHid(kHandle), 0);
    expectIdle(client);
    expectLoads(1, 1);

    ASSERT_EQ(client.openHid(kHandle), 0);
    ASSERT_EQ(client.closeHid(kHandle), 0);
    expectLoads(2, 2);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 2u);

    ASSERT_EQ(client.openHid(kHandle), 0);
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_EQ(client.openCount(kHandle), 2u);
    expectUses(client, 2, 2);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 3u);
    EXPECT_EQ(client.closeHid(kHandle), 0);
    EXPECT_EQ(client.openCount(kHandle), 1u);
    EXPECT_EQ(client.libraryUses(), 1u);
    EXPECT_EQ(client.closeHid(kHandle), 0);
    EXPECT_EQ(client.openCount(kHandle), 0u);
    EXPECT_EQ(client.openHandleCount(), 0u);
    EXPECT_EQ(client.closeHid(kHandle), 1);
    EXPECT_EQ(fake_.calls("DcsCloseHid"), 4u);
    expectIdle(client);

    // A failed open records nothing and gives back its uses.
    fake_.setResult("DcsOpenHid", 6);
    EXPECT_EQ(client.openHid(kHandle), 6);
    EXPECT_EQ(client.openCount(kHandle), 0u);
    expectIdle(client);

    // A close the library fails is counted all the same.
    ASSERT_EQ(client.openScanner(kHandle), 0);
    fake_.setResult("DcsCloseScanner", 6);
    EXPECT_EQ(client.closeScanner(kHandle), 6);
    EXPECT_EQ(client.openCount(kHandle), 0u);
    fake_.setResult("DcsOpenHid", 0);
    expectIdle(client);

    // The table is one map of handles: a handle opened as a HID is closed by any close.
    ASSERT_EQ(client.openHid(kOtherHandle), 0);
    ASSERT_EQ(client.openPrinter(kOtherHandle), 0);
    EXPECT_EQ(client.openCount(kOtherHandle), 2u);
    EXPECT_EQ(client.closePrinter(kOtherHandle), 0);
    EXPECT_EQ(client.closeCardReader(kOtherHandle), 0);
    EXPECT_EQ(client.openCount(kOtherHandle), 0u);
    expectIdle(client);
}

TEST_F(DcsClientTest, CloseAllClosesEachHandleOfItsKindAsOftenAsItWasOpened) {
    DcsClient client(kFullFake, "", false);
    // With nothing open it still takes (and gives back) both uses of its own.
    EXPECT_EQ(client.closeAllHids(), 0);
    EXPECT_EQ(client.closeAllPrinters(), 0);
    EXPECT_EQ(fake_.calls("DcsCloseHid"), 0u);
    expectLoads(2, 2);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 2u);
    expectIdle(client);

    ASSERT_EQ(client.openHid(kHandle), 0);
    ASSERT_EQ(client.openHid(kHandle), 0);
    ASSERT_EQ(client.openHid(kOtherHandle), 0);
    EXPECT_EQ(client.closeAllHids(), 0);
    EXPECT_EQ(fake_.calls("DcsCloseHid"), 3u);
    EXPECT_EQ(fake_.calls("DcsClosePrinter"), 0u);
    EXPECT_EQ(client.openHandleCount(), 0u);
    expectIdle(client);
    expectLoads(3, 3);

    // The printers' close-all returns the last result.
    ASSERT_EQ(client.openPrinter(kHandle), 0);
    ASSERT_EQ(client.openPrinter(kOtherHandle), 0);
    ASSERT_EQ(client.openPrinter(kOtherHandle), 0);
    fake_.setResult("DcsClosePrinter", 4);
    EXPECT_EQ(client.closeAllPrinters(), 4);
    EXPECT_EQ(fake_.calls("DcsClosePrinter"), 3u);
    EXPECT_EQ(fake_.calls("DcsCloseHid"), 3u);
    EXPECT_EQ(client.openHandleCount(), 0u);
    expectIdle(client);
}

// ---- handle family special cases --------------------------------------------------------------

TEST_F(DcsClientTest, HandleCallsTakeNoUseAndWritePrinterAnswered122Pauses) {
    PausingClient client(kFullFake, "", false);
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_EQ(client.registerForReportsHid(kHandle, ignoreReport), 0);
    EXPECT_EQ(client.unregisterForReportsHid(kHandle), 0);
    expectUses(client, 1, 1);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 1u);
    fake_.setResult("DcsRegisterForNotificationsHid", 33);
    EXPECT_EQ(client.registerForNotificationsHid(kHandle, ignoreNotification), 33);
    EXPECT_EQ(client.openCount(kHandle), 1u);
    EXPECT_EQ(client.closeHid(kHandle), 0);
    expectIdle(client);

    ASSERT_EQ(client.openPrinter(kHandle), 0);
    EXPECT_EQ(client.writePrinter(kHandle, 1, 2, 3), 0);
    EXPECT_TRUE(client.pauses.empty());
    fake_.setResult("DcsWritePrinter", ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(client.writePrinter(kHandle, 1, 2, 3), 122);
    EXPECT_EQ(client.pauses, std::vector<DWORD>{2000});
    EXPECT_EQ(fake_.lastArgs("DcsWritePrinter"), (Args{kFakeClientId, kHandle, 1, 2, 3}));
    fake_.setResult("DcsWritePrinter", 5);
    EXPECT_EQ(client.writePrinter(kHandle, 1, 2, 3), 5);
    EXPECT_EQ(client.pauses.size(), 1u);
    EXPECT_EQ(client.closePrinter(kHandle), 0);
}

// ---- held and release ------------------------------------------------------------------------

TEST_F(DcsClientTest, LibraryOperationsTakeNoIdentityAndRegistrationsHoldTheirUsesUntilReleased) {
    DcsClient client(kFullFake, "", false);
    // Without the library loaded a release gives 127 and loads nothing.
    EXPECT_EQ(client.unregisterForReportsCardReader(), 127);
    EXPECT_EQ(client.unregisterForSystemNotifications(), 127);
    EXPECT_EQ(fake_.initializeCalls(), 0u);
    expectIdle(client);

    // Library operations pass the values only; install skips DcsInitialize.
    fake_.setResult("DcsInstall", 17);
    EXPECT_EQ(client.install(), 17);
    EXPECT_EQ(fake_.calls("DcsInstall"), 1u);
    EXPECT_EQ(fake_.lastArgs("DcsInstall"), Args{});
    expectLoads(0, 0);
    expectIdle(client);

    EXPECT_EQ(client.addTransport(0xabc), 0);
    EXPECT_EQ(fake_.lastArgs("DcsAddTransport"), Args{0xabc});
    fake_.setResult("DcsSuspend", 3);
    EXPECT_EQ(client.suspend(), 3);
    EXPECT_EQ(fake_.calls("DcsGetClientId"), 0u);
    expectIdle(client);
    expectLoads(2, 2);

    // System notifications keep both uses whatever the result.
    EXPECT_EQ(client.registerForSystemNotifications(21, 22), 0);
    EXPECT_EQ(fake_.lastArgs("DcsRegisterForSystemNotifications"), (Args{kFakeClientId, 21, 22}));
    expectUses(client, 1, 1);
    fake_.setResult("DcsRegisterForSystemNotifications", 9);
    EXPECT_EQ(client.registerForSystemNotifications(21, 22), 9);
    expectUses(client, 2, 2);
    EXPECT_EQ(client.unregisterForSystemNotifications(), 0);
    EXPECT_EQ(fake_.lastArgs("DcsUnregisterForSystemNotifications"), (Args{kFakeClientId}));
    EXPECT_EQ(client.libraryUses(), 1u);
    fake_.setResult("DcsUnregisterForSystemNotifications", 8);
    EXPECT_EQ(client.unregisterForSystemNotifications(), 8);
    expectIdle(client);

    // The card reader's reports keep them only on success.
    fake_.setResult("DcsRegisterForReportsCardReader", 9);
    EXPECT_EQ(client.registerForReportsCardReader(5), 9);
    expectIdle(client);
    fake_.setResult("DcsRegisterForReportsCardReader", 0);
    EXPECT_EQ(client.registerForReportsCardReader(5), 0);
    EXPECT_EQ(fake_.lastArgs("DcsRegisterForReportsCardReader"), (Args{kFakeClientId, 5}));
    expectUses(client, 1, 1);
    EXPECT_EQ(client.unregisterForReportsCardReader(), 0);
    EXPECT_EQ(fake_.lastArgs("DcsUnregisterForReportsCardReader"), (Args{kFakeClientId}));
    expectIdle(client);
}

// ---- the entry points the monitor relies on --------------------------------------------------

std::vector<std::pair<uint32_t, DcsHandle>> g_enumerated;
LONG WINAPI countingEnumCallback(uint32_t first, DcsHandle handle) {
    g_enumerated.emplace_back(first, handle);
    return 0;
}

// Callbacks and out-parameters; the arguments themselves are checked for every operation below.
TEST_F(DcsClientTest, MonitorCallsPassTheirCallbacksAndOutputsThrough) {
    DcsClient client(kFullFake, "", false);
    g_enumerated.clear();
    fake_.setEnumHandles({0x101, 0x102});
    EXPECT_EQ(client.enumHids(kTransportLocal, "", countingEnumCallback), 0);
    ASSERT_EQ(g_enumerated.size(), 2u);
    EXPECT_EQ(g_enumerated[1].second, 0x102u);

    fake_.setSpecificHandle(0x355);
    DcsHandle handle = 0, scanner = 0;
    EXPECT_EQ(client.enumSpecificHid("USB001", &handle), 0);
    EXPECT_EQ(client.enumSpecificScanner("USB001", &scanner), 0);
    EXPECT_EQ(handle, 0x355u);
    EXPECT_EQ(scanner, 0x355u);

    fake_.setString("USB1");
    char buffer[260];
    uint32_t length = 0;
    EXPECT_EQ(client.getStringHid(0x101, kDescriptorTransport, buffer, sizeof(buffer), &length), 0);
    EXPECT_EQ(length, 4u);
    EXPECT_STREQ(buffer, "USB1");
    // 122 and the size needed pass through.
    EXPECT_EQ(client.getStringHid(0x101, kDescriptorTransport, buffer, 3, &length), 122);
    EXPECT_EQ(length, 5u);

    fake_.setLong(-4);
    int32_t longValue = 0;
    EXPECT_EQ(client.getLongHid(0x101, kDescriptorPortname, &longValue), 0);
    EXPECT_EQ(longValue, -4);
    fake_.setState(kHidStateFailed);
    uint32_t state = 0, scannerState = 0;
    EXPECT_EQ(client.getCurrentStateHid(0x101, &state), 0);
    EXPECT_EQ(client.getCurrentStateScanner(0x101, &scannerState), 0);
    EXPECT_EQ(state, kHidStateFailed);
    EXPECT_EQ(scannerState, kHidStateFailed);
    expectIdle(client);
    // Global calls need no open handle.
    EXPECT_EQ(client.openHandleCount(), 0u);
}

// ---- every operation, by name --------------------------------------------------------------

struct OperationCase {
    const char* name;
    std::function<LONG(DcsClient&)> call;
    std::vector<uint32_t> expectedArgs;
};

std::string entryPointOf(const char* operation) {
    std::string name = operation;
    name[0] = static_cast<char>(toupper(static_cast<unsigned char>(name[0])));
    return "Dcs" + name;
}

// What every case passes: identity `id`, the open handle `h`, the values 11..15, and outputs
// whose addresses stay put.
namespace operation_values {
constexpr uint32_t id = 0x77;
constexpr DcsHandle h = kHandle;
constexpr uint32_t v = 11, w = 12, x = 13, y = 14, z = 15;
const char transport[] = "USB1";
const char empty[] = "";
char buffer[8];
uint32_t length, state;
int32_t longValue;
DcsHandle outHandle;
}  // namespace operation_values

// What an argument reaches the entry point as: its 32-bit value, or its address.
uint32_t arg(uint32_t number) { return number; }
uint32_t arg(const void* pointer) { return value(pointer); }
uint32_t arg(std::nullptr_t) { return 0; }
uint32_t arg(ReportCallback callback) { return value(reinterpret_cast<void*>(callback)); }
uint32_t arg(NotificationCallback callback) { return value(reinterpret_cast<void*>(callback)); }

// An operation and the arguments its entry point expects: the identity and its own (OP), or
// its own alone (LIB).
#define OP(name, ...) \
    OperationCase{#name, [](DcsClient& c) { return c.name(__VA_ARGS__); }, withId(__VA_ARGS__)}
#define LIB(name, ...) \
    OperationCase{#name, [](DcsClient& c) { return c.name(__VA_ARGS__); }, bare(__VA_ARGS__)}

// Every operation with an entry point, other than open and close.
std::vector<OperationCase> everyOperation() {
    using namespace operation_values;
    const auto withId = [](auto... args) { return Args{id, arg(args)...}; };
    const auto bare = [](auto... args) { return Args{arg(args)...}; };
    return {
        // the printer operations and the global ones
        OP(cancelJobPrinter, h), OP(getHostInfo, v, w, x, y), OP(setHostInfo, v, w, x), OP(deletePrinter, v),
        OP(discovery, transport, empty), OP(endJobPrinter, h), OP(enumPrinters, v, w, x), OP(enumSpecificPrinter, v, w),
        OP(exchangeNpaPrinter, h, v, w, x, y, z), OP(exchangeBidiPrinter, h, v, w, x, y, z),
        OP(getByteArrayPrinter, v, w, x, y, z), OP(getCachePrinter, v, w, x, y), OP(getCurrentStatePrinter, v, w),
        OP(getDiscoveryDefaults, v, w, x, y), OP(getLongPrinter, v, w, x), OP(getStringPrinter, v, w, x, y, z),
        OP(registerForAlertsPrinter, h, v, w), OP(registerForNotificationsPrinter, h, v, w),
        OP(setByteArrayPrinter, v, w, x, y), OP(setDiscoveryDefaults, v, w), OP(setClientInfo, v, w),
        OP(setLongPrinter, v, w, x), OP(setStringPrinter, v, w, x, y), OP(startJobPrinter, h, v, w, x, y, z),
        OP(startJobPrinterW, h, v, w, x, y, z),
        // the HID, Windows-device and scanner operations
        OP(enumHids, transport, empty, nullptr), OP(enumSpecificHid, transport, &outHandle),
        OP(getStringHid, h, empty, buffer, sizeof(buffer), &length), OP(getLongHid, h, empty, &longValue),
        OP(registerForReportsHid, h, ignoreReport), OP(unregisterForReportsHid, h),
        OP(registerForNotificationsHid, h, ignoreNotification), OP(unregisterForNotificationsHid, h), OP(deleteHid, v),
        OP(getCurrentStateHid, h, &state), OP(enumWindowsHids, v, w, x), OP(enumWindowsScanners, v, w, x),
        OP(enumWindowsPrinters, v, w, x), OP(endJobScanner, h), OP(cancelJobScanner, h), OP(enumScanners, v, w, x),
        OP(enumSpecificScanner, transport, &outHandle), OP(exchangeDataScanner, h, v, w, x, y, z),
        OP(getLongScanner, v, w, x), OP(getStringScanner, v, w, x, y, z), OP(startJobScanner, h, v),
        OP(registerForAsyncDataScanner, h, v, w), OP(unregisterForAsyncDataScanner, h),
        OP(getCurrentStateScanner, h, &state),
        // the printer's unregistrations and writes, the card reader's operations, the library's and the
        // job texts
        OP(unregisterForAlertsPrinter, h), OP(unregisterForNotificationsPrinter, h), OP(validatePortName, v),
        OP(writePrinter, h, v, w, x), OP(enumSpecificCardReader, v, w), OP(enumCardReaders, v, w, x),
        OP(exchangeBidiCardReader, h, v, w, x, y, z), OP(registerForReportsCardReader, v),
        OP(unregisterForReportsCardReader), OP(registerForNotificationsCardReader, h, v),
        OP(unregisterForNotificationsCardReader, h), OP(registerForAsyncDataCardReader, h, v),
        OP(unregisterForAsyncDataCardReader, h), LIB(uninstall), LIB(resume), LIB(suspend), LIB(addTransport, v),
        LIB(removeTransport, v), LIB(addMonitor), OP(registerForSystemNotifications, v, w),
        OP(unregisterForSystemNotifications), OP(cancelDiscovery, v, w), OP(setJobStringScanner, v, w, x),
        OP(setJobStringPrinter, v, w, x), OP(getJobStringScanner, v, w, x, y, z),
    };
}
#undef OP
#undef LIB

// Every operation with an entry point, other than open and close, called on an open handle H
// (opened by openPrinter) with values 11..15; the entry point is named after the operation and
// gets the identity (global, held, release), the identity and H (handle), or the values alone
// (library).
TEST_F(DcsClientTest, EveryOperationCallsItsNamedEntryPointWithItsArguments) {
    const std::vector<OperationCase> cases = everyOperation();
    const uint32_t id = operation_values::id;
    const DcsHandle h = operation_values::h;
    // With open/close (8), close-all (2), acquire/release/checkHost/install (4): all 88.
    EXPECT_EQ(cases.size(), 74u);

    DcsClient client(kFullFake, "", false);
    fake_.setClientId(id);
    fake_.setString("");
    ASSERT_EQ(client.openPrinter(h), 0);
    for (const OperationCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string entry = entryPointOf(test.name);
        const uint32_t before = fake_.calls(entry);
        // A distinct result shows it is the entry point's own that comes back; the card-reader
        // registration answers 0 so that it keeps the uses its release gives back.
        const bool held = entry == "DcsRegisterForReportsCardReader";
        const LONG result = held ? 0 : 40 + static_cast<LONG>(before);
        fake_.setResult(entry.c_str(), result);
        EXPECT_EQ(test.call(client), result);
        EXPECT_EQ(fake_.calls(entry), before + 1);
        EXPECT_EQ(fake_.lastArgs(entry), test.expectedArgs);
        fake_.setResult(entry.c_str(), 0);
    }
    // Each held registration kept its uses and its release gave them back: only the open's remain.
    expectUses(client, 1, 1);
    EXPECT_EQ(client.openCount(h), 1u);
    EXPECT_EQ(client.closePrinter(h), 0);
    expectIdle(client);
    EXPECT_EQ(fake_.zeroIdCalls(), 0u);

    // Each open and close kind calls its own entry point.
    const std::vector<std::pair<const char*, const char*>> names = {
        {"openPrinter", "closePrinter"}, {"openHid", "closeHid"},
        {"openScanner", "closeScanner"}, {"openCardReader", "closeCardReader"}};
    const std::vector<std::pair<LONG (DcsClient::*)(DcsHandle), LONG (DcsClient::*)(DcsHandle)>> calls = {
        {&DcsClient::openPrinter, &DcsClient::closePrinter}, {&DcsClient::openHid, &DcsClient::closeHid},
        {&DcsClient::openScanner, &DcsClient::closeScanner}, {&DcsClient::openCardReader, &DcsClient::closeCardReader}};
    fake_.setClientId(kFakeClientId);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i].first);
        const DcsHandle handle = kHandle + 1 + static_cast<DcsHandle>(i);
        EXPECT_EQ((client.*calls[i].first)(handle), 0);
        EXPECT_EQ(fake_.lastArgs(entryPointOf(names[i].first)), (Args{kFakeClientId, handle}));
        EXPECT_EQ(client.openCount(handle), 1u);
        EXPECT_EQ((client.*calls[i].second)(handle), 0);
        EXPECT_EQ(fake_.lastArgs(entryPointOf(names[i].second)), (Args{kFakeClientId, handle}));
        EXPECT_EQ(client.openCount(handle), 0u);
    }
    expectIdle(client);
}

// ---- missing entry points --------------------------------------------------------------------

TEST(DcsClientPartial, MissingEntryPointsGive127AndGiveBackTheUses) {
    Fake fake(kPartialFake);
    ASSERT_NE(fake.module(), nullptr) << kPartialFake << " " << GetLastError();
    DcsClient client(kPartialFake, "", false);
    // Global, library, open and special operations.
    EXPECT_EQ((Results{client.discovery(kTransportUsb, ""), client.resume(), client.openCardReader(kHandle),
                       client.install()}),
              Results(4, 127));
    EXPECT_EQ(client.openCount(kHandle), 0u);
    expectIdle(client);
    EXPECT_EQ(fake.initializeCalls(), 3u);
    EXPECT_EQ(fake.uninitializeCalls(), 3u);

    // A handle operation leaves the handle open.
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_EQ(client.registerForReportsHid(kHandle, ignoreReport), 127);
    EXPECT_EQ(client.openCount(kHandle), 1u);
    EXPECT_EQ(client.libraryUses(), 1u);
    EXPECT_EQ(client.closeHid(kHandle), 0);
    EXPECT_FALSE(client.isLibraryLoaded());

    // A release gives back the held uses.
    EXPECT_EQ(client.registerForSystemNotifications(1, 2), 0);
    EXPECT_EQ(client.libraryUses(), 1u);
    EXPECT_EQ(client.unregisterForSystemNotifications(), 127);
    expectIdle(client);

    // The job operations close the handle first.
    struct Case {
        const char* name;
        std::function<LONG(DcsClient&)> call;
        const char* closeEntry;
    };
    const std::vector<Case> cases = {
        {"startJobPrinter", [](DcsClient& c) { return c.startJobPrinter(kHandle, 1, 2, 3, 4, 5); }, "DcsClosePrinter"},
        {"startJobPrinterW", [](DcsClient& c) { return c.startJobPrinterW(kHandle, 1, 2, 3, 4, 5); }, "DcsClosePrinter"},
        {"endJobPrinter", [](DcsClient& c) { return c.endJobPrinter(kHandle); }, "DcsClosePrinter"},
        {"startJobScanner", [](DcsClient& c) { return c.startJobScanner(kHandle, 1); }, "DcsClosePrinter"},
        {"endJobScanner", [](DcsClient& c) { return c.endJobScanner(kHandle); }, "DcsCloseScanner"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_EQ(client.openPrinter(kHandle), 0);
        const uint32_t closes = fake.calls(test.closeEntry);
        EXPECT_EQ(test.call(client), 127);
        EXPECT_EQ(fake.calls(test.closeEntry), closes + 1);
        EXPECT_EQ(fake.lastArgs(test.closeEntry), (Args{kFakeClientId, kHandle}));
        EXPECT_EQ(client.openCount(kHandle), 0u);
        EXPECT_FALSE(client.isLibraryLoaded());
    }

    // A close gives back the open's uses whether or not its entry point exists, while the record
    // is counted down only after a call.
    ASSERT_EQ(client.openHid(kHandle), 0);
    EXPECT_EQ(client.closeCardReader(kHandle), 127);
    expectIdle(client);
    EXPECT_EQ(client.openCount(kHandle), 1u);
}

// ---- concurrency -----------------------------------------------------------------------------

// From inside an entry point (the enumeration callback runs on the caller's thread during
// DcsEnumHids), another thread can use every part of the binding: no lock is held. A helper
// that is still blocked after 10 s counts as a failure; it is waited for after the enumeration
// so that a failing run does not destroy the binding under it.
DcsClient* g_reentrantClient = nullptr;
std::atomic<int> g_reentrantResults{0};
std::atomic<int> g_reentrantTimeouts{0};
std::vector<HANDLE> g_reentrantThreads;
DWORD WINAPI useTheBinding(void*) {
    DcsClient& client = *g_reentrantClient;
    int ok = 0;
    for (LONG result : {client.discovery(kTransportUsb, ""), client.openHid(0x900),
                        client.registerForReportsHid(0x900, ignoreReport), client.closeHid(0x900)}) {
        ok += result == 0;
    }
    g_reentrantResults += ok + client.isLibraryLoaded();
    return 0;
}
LONG WINAPI enumCallbackUsingAnotherThread(uint32_t, DcsHandle) {
    HANDLE thread = CreateThread(nullptr, 0, useTheBinding, nullptr, 0, nullptr);
    if (thread == nullptr) return E_FAIL;
    g_reentrantThreads.push_back(thread);
    if (WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0) return 0;
    ++g_reentrantTimeouts;
    return E_FAIL;
}

TEST_F(DcsClientTest, NoLockIsHeldWhileAnEntryPointRuns) {
    DcsClient client(kFullFake, "", false);
    g_reentrantClient = &client;
    g_reentrantResults = 0;
    g_reentrantTimeouts = 0;
    fake_.setEnumHandles({0x101, 0x102});
    EXPECT_EQ(client.enumHids(kTransportLocal, "", enumCallbackUsingAnotherThread), 0);
    for (HANDLE thread : g_reentrantThreads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    g_reentrantThreads.clear();
    EXPECT_EQ(g_reentrantTimeouts.load(), 0);
    EXPECT_EQ(g_reentrantResults.load(), 10);
    expectIdle(client);
    g_reentrantClient = nullptr;
}

// Runs `round(thread)` `rounds` times on each of `threads` threads at once; the number of calls
// that failed.
int failuresOnThreads(int threads, int rounds, const std::function<Results(int thread, int round)>& round) {
    std::atomic<int> failures{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                for (LONG result : round(t, r)) failures += result != 0;
            }
        });
    }
    for (std::thread& thread : running) thread.join();
    return failures;
}

TEST_F(DcsClientTest, ConcurrentOpensClosesAndGlobalCallsEndWithEverythingGivenBack) {
    DcsClient client(kFullFake, "", false);
    constexpr int kThreads = 8;
    constexpr int kRounds = 150;
    constexpr DcsHandle kShared = 0x800;
    EXPECT_EQ(0, failuresOnThreads(kThreads, kRounds, [&client](int t, int round) {
                  const DcsHandle own = 0x1000 + static_cast<DcsHandle>(t);
                  char buffer[16];
                  uint32_t length = 0;
                  Results results{client.openHid(own), client.openScanner(kShared),
                                  client.registerForReportsHid(own, ignoreReport), client.discovery(kTransportUsb, ""),
                                  client.getStringHid(own, kDescriptorPortname, buffer, sizeof(buffer), &length),
                                  client.unregisterForReportsHid(own), client.resume(), client.closeScanner(kShared),
                                  client.closeHid(own)};
                  if (t == 0 && round % 10 == 0) results.insert(results.end(), {client.acquireClient(), client.releaseClient()});
                  return results;
              }));
    EXPECT_EQ(client.openHandleCount(), 0u);
    expectIdle(client);
    EXPECT_GE(fake_.initializeCalls(), 1u);
    EXPECT_EQ(fake_.initializeCalls(), fake_.uninitializeCalls());
    EXPECT_EQ(fake_.calls("DcsOpenHid"), static_cast<uint32_t>(kThreads * kRounds));
    EXPECT_EQ(fake_.calls("DcsCloseHid"), static_cast<uint32_t>(kThreads * kRounds));
    EXPECT_EQ(fake_.zeroIdCalls(), 0u);

    // Kept loaded, the library is initialised once.
    fake_.reset();
    DcsClient kept(kFullFake, "", true);
    EXPECT_EQ(0, failuresOnThreads(6, 100, [&kept](int t, int) {
                  const DcsHandle handle = 0x2000 + static_cast<DcsHandle>(t);
                  return Results{kept.openPrinter(handle), kept.writePrinter(handle, 1, 2, 3), kept.enumPrinters(1, 2, 3),
                                 kept.closePrinter(handle)};
              }));
    expectLoads(1, 0);
    EXPECT_TRUE(kept.isLibraryLoaded());
    expectUses(kept, 0, 0);
}
}  // namespace
