#include "BasicLogger.h"
#include "BasicSettings.h"
#include "Exception.h"
#include "LogLine.h"
#include "SCXLogger.h"

#include "TestSupport.h"
#include "../support/SupportTestHelpers.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

using namespace testing_support;

namespace {
// A logger whose settings come from a map and whose clock the test moves.
class StoreLogger : public BasicLogger {
public:
    explicit StoreLogger(const std::string& path) : BasicLogger(path, 25) {
        setTickSource([this] { return now; });
        store["Clocktime_In_Header"] = 0;
    }
    void readSetting(const std::string& name, DWORD& out, DWORD defaultValue) override {
        ++reads[name];
        auto found = store.find(name);
        out = found == store.end() ? defaultValue : found->second;
    }
    std::map<std::string, DWORD> store;
    std::map<std::string, int> reads;
    DWORD now = 100000;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

const std::string kPanelmonColumn = "PANELMON" + std::string(17, ' ') + " ";

bool isTimeStamp(const std::string& text) {
    // yyyy/mm/dd-hh:mm:ss.mmm
    const std::string shape = "dddd/dd/dd-dd:dd:dd.ddd";
    if (text.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
    }
    return true;
}
}  // namespace

TEST(LogLine, LayoutOfTimeStampIdsComponentColumnAndDepth) {
    LogClock clock = {2024, 3, 5, 7, 8, 9, 5};
    LogLineFields fields;
    fields.clock = &clock;
    fields.component = "PANELMON";
    fields.columnWidth = 25;
    EXPECT_EQ("2024/03/05-07:08:09.005 " + kPanelmonColumn + "+CMonitor::Enum()\r\n",
              formatLogLine("", fields, "+CMonitor::Enum()", ""));

    fields.clock = nullptr;
    fields.withProcessId = true;
    fields.processId = 0x1a2;
    fields.withThreadId = true;
    fields.threadId = 0x12345;
    fields.depth = 2;
    EXPECT_EQ("[pid=01a2 tid=12345 " + kPanelmonColumn + "  text;\r\n",
              formatLogLine("[", fields, "text", ";"));

    fields = LogLineFields();
    fields.component = "A_COMPONENT_NAME_LONGER_THAN_25";
    fields.columnWidth = 25;
    EXPECT_EQ("A_COMPONENT_NAME_LONGER_THAN_25 x\r\n", formatLogLine("", fields, "x", ""));
}

TEST(LogText, AppendsEachKindOfValue) {
    LogText text;
    text << "n=" << static_cast<int8_t>(-5) << "," << static_cast<uint16_t>(65535) << "," << -70000 << ","
         << 4000000000u << "," << static_cast<const char*>(nullptr) << std::string("s") << "," << true << ","
         << 1.5f << ",";
    text.appendRadix(255, 16) << ",";
    text.appendRadix(5, 2);
    EXPECT_EQ("n=-5,65535,-70000,4000000000,s,true,1.500000,ff,101", text);
    EXPECT_EQ("", LogText() << static_cast<const void*>(nullptr));
    EXPECT_EQ("0x0000ABCD", LogText() << reinterpret_cast<const void*>(0xABCD));
    const uint8_t bytes[] = {0x00, 0x1f, 0xa0};
    EXPECT_EQ("00 1f a0 ", toHexText(bytes, 3, true));
    EXPECT_EQ("001fa0", toHexText(bytes, 3, false));
    EXPECT_EQ("", toHexText(bytes, 0, true));
}

TEST(BasicLogger, LevelMasksFollowStartLogAllAndComponentSettings) {
    TempFolder folder;
    StoreLogger logger(folder.file("masks.log"));
    logger.store["startLog"] = 0;
    EXPECT_TRUE(logger.isEnabled(&g_logPanelmon, LOG_ERROR));
    EXPECT_FALSE(logger.isEnabled(&g_logPanelmon, LOG_INFO));

    StoreLogger on(folder.file("on.log"));
    on.store = {{"startLog", 1}, {"All", 0}, {"PANELMON", 8}, {"Clocktime_In_Header", 0}};
    EXPECT_TRUE(on.isEnabled(&g_logPanelmon, LOG_INFO));
    EXPECT_FALSE(on.isEnabled(&g_logPanelmon, LOG_TRACE));
    // Component defaults apply when the store has no value: DRS has 8.
    EXPECT_TRUE(on.isEnabled(&g_logDrs, LOG_INFO));

    StoreLogger all(folder.file("all.log"));
    all.store = {{"startLog", 1}, {"All", 0xFFFFFFFF}, {"PANELMON", 0}};
    EXPECT_TRUE(all.isEnabled(&g_logPanelmon, LOG_TRACE));
    EXPECT_TRUE(all.isEnabled(&g_logScx, 0x40));

    // Error lines are written whatever the switches say.
    logger.write(&g_logPanelmon, LOG_ERROR, "failure");
    EXPECT_EQ(kPanelmonColumn + "failure\r\n", readFile(folder.file("masks.log")));
}

TEST(BasicLogger, SettingsAreCachedForFiveSeconds) {
    TempFolder folder;
    StoreLogger logger(folder.file("cache.log"));
    logger.store["startLog"] = 1;
    EXPECT_TRUE(logger.isEnabled(&g_logPanelmon, LOG_INFO));
    logger.store["startLog"] = 0;
    logger.now += 4999;
    EXPECT_TRUE(logger.isEnabled(&g_logPanelmon, LOG_INFO)) << "a change is seen only when the cache expires";
    EXPECT_EQ(1, logger.reads["startLog"]);
    logger.now += 1;
    EXPECT_FALSE(logger.isEnabled(&g_logPanelmon, LOG_INFO));
    EXPECT_EQ(2, logger.reads["startLog"]);
    // A read in the same millisecond as the cached one goes to the store again.
    EXPECT_FALSE(logger.isEnabled(&g_logPanelmon, LOG_INFO));
    EXPECT_EQ(3, logger.reads["startLog"]);
    // A tick count that wrapped below the cached one re-reads too.
    logger.now = 5;
    logger.store["startLog"] = 1;
    EXPECT_TRUE(logger.isEnabled(&g_logPanelmon, LOG_INFO));
}

TEST(BasicLogger, TracesIndentPerThread) {
    TempFolder folder;
    StoreLogger logger(folder.file("trace.log"));
    logger.store = {{"startLog", 1}, {"All", LOG_ALL}, {"Clocktime_In_Header", 0}};
    {
        FunctionTrace a(&logger, &g_logPanelmon, "A::run()", LOG_TRACE, true);
        {
            FunctionTrace b(&logger, &g_logPanelmon, "B::run()", LOG_TRACE, true);
            b.setResult("0");
            logger.write(&g_logPanelmon, LOG_INFO, "inside");
            std::thread other([&] { logger.write(&g_logPanelmon, LOG_INFO, "other thread"); });
            other.join();
        }
    }
    FunctionTrace disabled(&logger, &g_logPanelmon, "C::run()", LOG_TRACE, false);
    const std::vector<std::string> expected = {
        kPanelmonColumn + "+A::run()",  kPanelmonColumn + " +B::run()", kPanelmonColumn + "  inside",
        kPanelmonColumn + "other thread", kPanelmonColumn + " -B::run() rc=0", kPanelmonColumn + "-A::run()"};
    EXPECT_EQ(expected, linesOf(readFile(folder.file("trace.log"))));
    EXPECT_EQ(0, logger.depth());
}

TEST(BasicLogger, PlainLoggerLogsWhileItsFileExistsAndRecreatesIt) {
    TempFolder folder;
    const std::string path = folder.file("plain.log");
    BasicLogger logger(path, 25);
    logger.setTickSource([] { return 1u; });  // nothing cached between calls below
    EXPECT_FALSE(logger.isEnabled(&g_logPanelmon, LOG_INFO));
    logger.write(&g_logPanelmon, LOG_ERROR, "first");
    std::string contents = readFile(path);
    ASSERT_GT(contents.size(), 24u);
    EXPECT_TRUE(isTimeStamp(contents)) << contents;
    EXPECT_EQ(' ', contents[23]);
    EXPECT_EQ(kPanelmonColumn + "first\r\n", contents.substr(24));
    EXPECT_TRUE(logger.isEnabled(&g_logPanelmon, LOG_INFO));

    ASSERT_TRUE(DeleteFileA(path.c_str()));
    logger.write(&g_logPanelmon, LOG_ERROR, "second");
    contents = readFile(path);
    EXPECT_EQ(kPanelmonColumn + "second\r\n", contents.substr(24 < contents.size() ? 24 : 0));
    EXPECT_EQ("KVLOG_plain.log", logger.mutexName());

    logger.deleteLogFile();
    EXPECT_FALSE(fileExists(path));
}

TEST(BasicLogger, PathWithoutFolderLandsAtTheWindowsDriveRoot) {
    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    BasicLogger logger("kvabtest-root.log", 25);
    EXPECT_EQ(std::string(windows, 3) + "kvabtest-root.log", logger.path());
    EXPECT_EQ("KVLOG_kvabtest-root.log", logger.mutexName());
}

TEST(BasicLogger, InstalledLoggerLifecycle) {
    try {
        BasicLogger::getInstance();
        FAIL() << "no logger is installed yet";
    } catch (const Win32Exception& error) {
        EXPECT_EQ(1, error.getCode());
        EXPECT_EQ("BasicLogger::getInstance()", error.getMessage());
        EXPECT_EQ("", error.file());
        EXPECT_EQ(0, error.line());
    }
    TempFolder folder;
    BasicLogger* first = new BasicLogger(folder.file("a.log"), 25);
    EXPECT_TRUE(installLogger(first));
    EXPECT_FALSE(installLogger(new BasicLogger(folder.file("b.log"), 25)));
    EXPECT_EQ(first, BasicLogger::getInstance());
    uninstallLogger();
    EXPECT_FALSE(isLoggerInstalled());
    EXPECT_THROW(BasicLogger::getInstance(), Win32Exception);
}

namespace {
TEST_CHILD(log_lines) {
    BasicLogger logger(args.at(0), 25);
    const int count = std::stoi(args.at(2));
    for (int i = 0; i < count; ++i) {
        logger.writeText(&g_logPanelmon, LOG_ERROR, args.at(1) + " line " + std::to_string(i) + " " +
                                                        std::string(40 + i % 50, '.'));
    }
    return 0;
}

HANDLE startChild(const std::string& line) {
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}
}  // namespace

TEST(BasicLogger, TwoProcessesWritingOneFileLoseAndTearNoLine) {
    TempFolder folder;
    const std::string path = folder.file("shared.log");
    const int count = 2000;
    HANDLE a = startChild("\"" + ownPath() + "\" --child log_lines \"" + path + "\" alpha " + std::to_string(count));
    HANDLE b = startChild("\"" + ownPath() + "\" --child log_lines \"" + path + "\" beta " + std::to_string(count));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    HANDLE both[] = {a, b};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, both, TRUE, 120000));
    CloseHandle(a);
    CloseHandle(b);

    std::map<std::string, int> next = {{"alpha", 0}, {"beta", 0}};
    int lines = 0;
    for (const std::string& text : linesOf(readFile(path))) {
        ++lines;
        ASSERT_TRUE(isTimeStamp(text)) << text;
        std::istringstream fields(text.substr(24));
        std::string component, tag, word, dots;
        int number = -1;
        fields >> component >> tag >> word >> number >> dots;
        ASSERT_EQ("PANELMON", component) << text;
        ASSERT_EQ(1u, next.count(tag)) << text;
        ASSERT_EQ(next[tag], number) << "lines of one writer stay in order: " << text;
        ASSERT_EQ(std::string(40 + number % 50, '.'), dots) << text;
        ++next[tag];
    }
    EXPECT_EQ(2 * count, lines);
    EXPECT_EQ(count, next["alpha"]);
    EXPECT_EQ(count, next["beta"]);
}

namespace {
// Holds the log file's mutex until the parent lets go, as a stuck writer would.
TEST_CHILD(hold_log_mutex) {
    // The logger made the mutex already, so creating it grants no ownership: wait for it.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, args.at(0).c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, args.at(1).c_str());
    if (mutex == nullptr || release == nullptr || WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, args.at(2).c_str());
    SetEvent(ready);
    WaitForSingleObject(release, 60000);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    CloseHandle(release);
    CloseHandle(ready);
    return 0;
}
}  // namespace

TEST(BasicLogger, AMutexHeldElsewhereDropsTheLineInsteadOfFreezingTheWriter) {
    TempFolder folder;
    const std::string path = folder.file("stuck.log");
    BasicLogger logger(path, 25);
    const std::string tag = std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, ("kvabtest-release-" + tag).c_str());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ("kvabtest-ready-" + tag).c_str());
    HANDLE holder = startChild("\"" + ownPath() + "\" --child hold_log_mutex " + logger.mutexName() +
                               " kvabtest-release-" + tag + " kvabtest-ready-" + tag);
    ASSERT_NE(nullptr, holder);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 20000));

    const DWORD start = GetTickCount();
    logger.write(&g_logPanelmon, LOG_ERROR, "dropped");
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited + 100, kLogMutexWaitMs) << "the writer waits for the holder a while";
    EXPECT_LT(waited, kLogMutexWaitMs + 5000) << "but not without limit";
    EXPECT_EQ(std::string::npos, readFile(path).find("dropped"));
    const DWORD burst = GetTickCount();
    for (int i = 0; i < 10; ++i) logger.write(&g_logPanelmon, LOG_ERROR, "dropped too");
    EXPECT_LT(GetTickCount() - burst, kLogMutexWaitMs) << "while the mutex stays taken, lines don't wait each";

    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder, 20000));
    logger.write(&g_logPanelmon, LOG_ERROR, "written");
    EXPECT_NE(std::string::npos, readFile(path).find("written")) << "logging goes on once the mutex is free";
    CloseHandle(holder);
    CloseHandle(release);
    CloseHandle(ready);
}

namespace {
// Logs through the installed SCXLogger of a program with its own prefix and reports what it saw.
TEST_CHILD(scx_logger) {
    installLogger(new SCXLogger());
    BasicLogger* logger = BasicLogger::getInstance();
    std::ostringstream out;
    out << "info=" << logger->isEnabled(&g_logPanelmon, LOG_INFO) << "\n";
    out << "trace=" << logger->isEnabled(&g_logPanelmon, LOG_TRACE) << "\n";
    out << "path=" << logger->path() << "\n";
    out << "settings=" << (static_cast<SCXLogger*>(logger)->settings() != nullptr) << "\n";
    logger->write(&g_logPanelmon, LOG_ERROR, "an error line");
    if (logger->isEnabled(&g_logPanelmon, LOG_INFO)) logger->write(&g_logPanelmon, LOG_INFO, "an info line");
    writeFile(args.at(0), out.str());
    uninstallLogger();
    return 0;
}

class ScxFolder {
public:
    ScxFolder(const std::string& prefix, const std::string& answers) : prefix_(prefix) {
        exe_ = folder_.file(prefix + "panelmon.exe");
        CopyFileA(ownPath().c_str(), exe_.c_str(), FALSE);
        if (!answers.empty()) {
            CopyFileA((ownFolder() + "kvabcnf.dll").c_str(), folder_.file(prefix + "cnf.dll").c_str(), FALSE);
            writeFile(folder_.file(prefix + "cnf.txt"), answers);
        }
        logPath_ = CSCUtil::getAllUsersDir() + prefix + "scan.log";
        DeleteFileA(logPath_.c_str());
    }
    ~ScxFolder() { DeleteFileA(logPath_.c_str()); }
    std::string run() {
        const std::string report = folder_.file("report.txt");
        EXPECT_EQ(0, runChild(exe_, "scx_logger", {report}));
        return readFile(report);
    }
    std::string log() const { return readFile(logPath_); }
    const std::string& logPath() const { return logPath_; }

private:
    std::string prefix_;
    TempFolder folder_;
    std::string exe_;
    std::string logPath_;
};

DWORD readDword(const std::string& path, const char* name) {
    DWORD value = 0xdeadbeef, size = sizeof(value);
    RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}
}  // namespace

TEST(SCXLogger, ReadsItsSwitchesFromTheLoggerSubkeyAndCreatesMissingOnes) {
    TestRegistryKey test;
    const std::string scan = test.path() + "\\Model\\Scan";
    const std::string loggerKey = scan + "\\logger";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, loggerKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    const DWORD on = 1, none = 0, info = LOG_INFO;
    RegSetValueExA(key, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4);
    RegSetValueExA(key, "All", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&none), 4);
    RegSetValueExA(key, "PANELMON", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&info), 4);
    RegSetValueExA(key, "Clocktime_In_Header", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&none), 4);
    RegCloseKey(key);

    ScxFolder folder("lgsa", "10002=" + test.path() + "\n10000=Model\n");
    const std::string report = folder.run();
    EXPECT_NE(std::string::npos, report.find("info=1")) << report;
    EXPECT_NE(std::string::npos, report.find("trace=0")) << report;
    EXPECT_NE(std::string::npos, report.find("settings=1")) << report;
    EXPECT_NE(std::string::npos, report.find("path=" + folder.logPath())) << report;
    EXPECT_EQ(kPanelmonColumn + "an error line\r\n" + kPanelmonColumn + "an info line\r\n", folder.log());
    // Values the logger asked for and did not find were created with their defaults.
    EXPECT_EQ(0u, readDword(loggerKey, "Proc_Id_In_Header"));
    EXPECT_EQ(0u, readDword(loggerKey, "Thread_Id_In_Header"));
}

TEST(SCXLogger, MissingSettingsKeyReadsAsZeroAndMissingLibraryAsDefaults) {
    TestRegistryKey test;
    // The configuration names a key that does not exist: every switch reads 0, no time stamp.
    ScxFolder absent("lgsb", "10002=" + test.path() + "\n10000=Model\n");
    std::string report = absent.run();
    EXPECT_NE(std::string::npos, report.find("info=0")) << report;
    EXPECT_EQ(kPanelmonColumn + "an error line\r\n", absent.log());
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, test.path().c_str(), 0, KEY_READ, &key))
        << "nothing is created below a missing settings key";

    // No configuration library: no settings object, the defaults apply (clock on, startLog off).
    ScxFolder defaults("lgsc", "");
    report = defaults.run();
    EXPECT_NE(std::string::npos, report.find("settings=0")) << report;
    EXPECT_NE(std::string::npos, report.find("info=0")) << report;
    const std::string log = defaults.log();
    EXPECT_TRUE(isTimeStamp(log)) << log;
    EXPECT_EQ(kPanelmonColumn + "an error line\r\n", log.substr(log.size() >= 24 ? 24 : 0));
}

TEST(SCXLogger, ItsSettingsKeyAndLogMutexLetEveryoneUseButNotAdministerThem) {
    TestRegistryKey test;
    const std::string scan = test.path() + "\\Model\\Scan";
    const std::string loggerKey = scan + "\\logger";
    rawCreateKey(HKEY_LOCAL_MACHINE, scan);
    ScxFolder folder("lgsd", "10002=" + test.path() + "\n10000=Model\n");
    folder.run();
    UniqueKey created;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, loggerKey.c_str(), 0, READ_CONTROL, created.put()))
        << "the logger made its switches' key";
    expectSharedRights(securityInfoAces(created.get(), SE_REGISTRY_KEY), KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                       KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE);
    expectStandardUserRights(HKEY_LOCAL_MACHINE, loggerKey);

    TempFolder logs;
    BasicLogger logger(logs.file("shared.log"), 25);
    UniqueHandle mutex(OpenMutexA(READ_CONTROL | SYNCHRONIZE, FALSE, logger.mutexName().c_str()));
    ASSERT_TRUE(mutex) << GetLastError();
    tstring owner;
    expectSharedRights(securityInfoAces(mutex.get(), SE_KERNEL_OBJECT, &owner), SYNCHRONIZE | MUTEX_MODIFY_STATE,
                       MUTEX_ALL_ACCESS, 0);

    // Another user's monitor reads and creates its switches and writes under the same mutex.
    AsStandardUser user(owner);
    ASSERT_TRUE(user.active());
    BasicSettings settings(scan, "");
    DWORD value = 0;
    EXPECT_TRUE(settings.getDwordOrCreate("logger", "Proc_Id_In_Header", value, 0, false)) << GetLastError();
    EXPECT_TRUE(settings.getDwordOrCreate("logger", "AddedByAStandardUser", value, 7, false)) << GetLastError();
    EXPECT_EQ(7u, value);
    BasicLogger second(logs.file("shared.log"), 25);
    second.write(&g_logPanelmon, LOG_ERROR, "from another user");
    EXPECT_NE(std::string::npos, readFile(logs.file("shared.log")).find("from another user"));
}
