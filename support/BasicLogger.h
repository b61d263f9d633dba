// The process's file logger: one line per call, appended under a cross-process named mutex,
// switched at run time by settings re-read at most every few seconds.
#pragma once

#include "CriticalSection.h"
#include "LogText.h"
#include "Mutex.h"
#include "SecurityEveryone.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

constexpr DWORD LOG_ERROR = 1;
constexpr DWORD LOG_TRACE = 2;
constexpr DWORD LOG_INFO = 8;
constexpr DWORD LOG_ALL = 0xFFFFFFFF;

// How long a setting read from the store is used before it is read again.
constexpr DWORD kLogSettingMaxAgeMs = 5000;
// The longest a line waits for the log mutex before it is dropped; after such a drop, lines
// only try the mutex (1 ms) for the next kLogMutexStallMs.
constexpr DWORD kLogMutexWaitMs = 3000;
constexpr DWORD kLogMutexStallMs = 10000;

class LoggerComponent {
public:
    LoggerComponent(const char* name, DWORD defaultMask) : name_(name), level_(defaultMask) {}
    virtual std::string name() const { return name_; }
    virtual void setLevel(DWORD mask) { level_ = mask; }
    virtual DWORD getLevel() const { return level_; }
    virtual ~LoggerComponent() = default;

private:
    std::string name_;
    DWORD level_;
};

extern LoggerComponent g_logAll;       // "All": the global switch
extern LoggerComponent g_logDrs;       // "DRS": scanner capabilities
extern LoggerComponent g_logScx;       // "SCX": scan-request message dump
extern LoggerComponent g_logPanelmon;  // "PANELMON": monitor core

class BasicLogger {
public:
    BasicLogger(const std::string& path, int columnWidth);
    virtual ~BasicLogger();
    BasicLogger(const BasicLogger&) = delete;
    BasicLogger& operator=(const BasicLogger&) = delete;

    virtual void writeText(const LoggerComponent* component, DWORD level, const std::string& text);
    // Formats and appends one line. Never throws, never reports a failure.
    virtual void write(const LoggerComponent* component, DWORD level, const char* text);
    virtual void deleteLogFile();
    virtual void readSetting(const std::string& name, DWORD& out, DWORD defaultValue);
    virtual void onLogFileMissing();
    virtual std::string linePrefix(const LoggerComponent* component, DWORD level, const char* text);
    virtual std::string lineSuffix(const LoggerComponent* component, DWORD level, const char* text);

    // Throws Win32Exception (code 1) when no logger is installed.
    static BasicLogger* getInstance();

    bool isEnabled(const LoggerComponent* component, DWORD level);
    // `out` is not preset: when the store leaves it alone, the caller's value is used and cached.
    void getSetting(const std::string& name, DWORD& out, DWORD defaultValue, DWORD maxAgeMs);

    // The calling thread's trace depth, kept by FunctionTrace.
    int depth();
    void enterTrace();
    void leaveTrace();

    const std::string& path() const { return path_; }
    std::string mutexName() const;
    // Tests replace the millisecond tick source to age the setting cache.
    void setTickSource(std::function<DWORD()> ticks);

private:
    std::unique_ptr<Mutex> mutex_;
    std::string path_;
    int columnWidth_ = 0;
    CriticalSection depthLock_;
    std::map<DWORD, int> depths_;
    SecurityEveryone security_{false, SharedObject::File};
    std::mutex cacheLock_;
    std::map<std::string, std::pair<DWORD, DWORD>> cache_;
    std::function<DWORD()> ticks_;
    std::atomic<bool> mutexStalled_{false};
    std::atomic<DWORD> mutexStalledAt_{0};
};

// Installs the process's logger; when one is installed already, destroys `logger` and returns false.
bool installLogger(BasicLogger* logger);
void uninstallLogger();
// True while a logger is installed.
bool isLoggerInstalled();

// Writes "+name" on construction and "-name" (with " rc=result") at scope exit, indenting
// what the thread logs in between.
class FunctionTrace {
public:
    FunctionTrace(BasicLogger* logger, const LoggerComponent* component, const std::string& name, DWORD level,
                  bool enabled);
    ~FunctionTrace();
    FunctionTrace(const FunctionTrace&) = delete;
    FunctionTrace& operator=(const FunctionTrace&) = delete;

    void setResult(const std::string& result) { result_ = result; }

private:
    std::string name_;
    const LoggerComponent* component_;
    std::string result_;
    bool active_ = false;
    BasicLogger* logger_;
    DWORD level_;
};
