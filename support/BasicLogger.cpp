#include "BasicLogger.h"

#include "Exception.h"
#include "InterProcessLock.h"
#include "LogLine.h"

#include <atomic>
#include <new>

LoggerComponent g_logAll("All", LOG_ALL);
LoggerComponent g_logDrs("DRS", LOG_INFO);
LoggerComponent g_logScx("SCX", LOG_INFO);
LoggerComponent g_logPanelmon("PANELMON", LOG_INFO);

namespace {
std::atomic<BasicLogger*> g_installed{nullptr};
std::atomic<bool> g_loggingDisabled{false};
// The last "All" mask read by any thread.
std::atomic<DWORD> g_allMask{0};

std::string fileNameOf(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A path without a directory lands at the root of the Windows directory's drive.
std::string placeLogFile(const std::string& path) {
    if (path.find('\\') != std::string::npos) return path;
    char windows[MAX_PATH + 1] = {};
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH || length < 3) return "c:\\" + path;
    return std::string(windows, 3) + path;
}

class TraceDepthGuard {
public:
    explicit TraceDepthGuard(CriticalSection& lock) : lock_(lock) { lock_.lock(); }
    ~TraceDepthGuard() { lock_.unlock(); }

private:
    CriticalSection& lock_;
};
}  // namespace

BasicLogger::BasicLogger(const std::string& path, int columnWidth) : ticks_([] { return GetTickCount(); }) {
    try {
        mutex_ = std::make_unique<Mutex>(false, "KVLOG_" + fileNameOf(path), true);
    } catch (const Win32Exception&) {
        g_loggingDisabled = true;
    }
    path_ = placeLogFile(path);
    columnWidth_ = columnWidth;
}

BasicLogger::~BasicLogger() = default;

BasicLogger* BasicLogger::getInstance() {
    BasicLogger* logger = g_installed.load();
    if (logger == nullptr) throw Win32Exception("BasicLogger::getInstance()", 1, "", 0);
    return logger;
}

bool installLogger(BasicLogger* logger) {
    BasicLogger* expected = nullptr;
    if (g_installed.compare_exchange_strong(expected, logger)) return true;
    delete logger;
    return false;
}

void uninstallLogger() { delete g_installed.exchange(nullptr); }

bool isLoggerInstalled() { return g_installed.load() != nullptr; }

std::string BasicLogger::mutexName() const { return mutex_ ? mutex_->name() : std::string(); }

void BasicLogger::setTickSource(std::function<DWORD()> ticks) {
    std::lock_guard<std::mutex> hold(cacheLock_);
    ticks_ = std::move(ticks);
}

bool BasicLogger::isEnabled(const LoggerComponent* component, DWORD level) {
    if (g_loggingDisabled) return false;
    if (level & LOG_ERROR) return true;
    DWORD start = 0;
    getSetting("startLog", start, 0, kLogSettingMaxAgeMs);
    if (start == 0) return false;
    DWORD all = 0;
    getSetting("All", all, g_logAll.getLevel(), kLogSettingMaxAgeMs);
    g_allMask = all;
    DWORD mine = 0;
    getSetting(component->name(), mine, component->getLevel(), kLogSettingMaxAgeMs);
    return (level & (all | mine)) != 0;
}

void BasicLogger::getSetting(const std::string& name, DWORD& out, DWORD defaultValue, DWORD maxAgeMs) {
    DWORD now;
    {
        std::lock_guard<std::mutex> hold(cacheLock_);
        now = ticks_();
        auto cached = cache_.find(name);
        if (cached != cache_.end()) {
            DWORD readAt = cached->second.second;
            if (now > readAt && now - readAt < maxAgeMs) {
                out = cached->second.first;
                return;
            }
        }
    }
    // Read outside the lock: the store may be slow, and other settings stay available meanwhile.
    readSetting(name, out, defaultValue);
    std::lock_guard<std::mutex> hold(cacheLock_);
    cache_[name] = std::make_pair(out, now);
}

void BasicLogger::readSetting(const std::string& name, DWORD& out, DWORD defaultValue) {
    out = defaultValue;
    if (name != "startLog") return;
    const UniqueHandle file(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    out = file ? 0xFFFFFFFF : 0;
}

void BasicLogger::onLogFileMissing() {}

std::string BasicLogger::linePrefix(const LoggerComponent*, DWORD, const char*) { return std::string(); }

std::string BasicLogger::lineSuffix(const LoggerComponent*, DWORD, const char*) { return std::string(); }

void BasicLogger::writeText(const LoggerComponent* component, DWORD level, const std::string& text) {
    write(component, level, text.c_str());
}

void BasicLogger::write(const LoggerComponent* component, DWORD level, const char* text) {
    if (g_loggingDisabled || !mutex_ || component == nullptr) return;
    if (text == nullptr) text = "";
    try {
        DWORD clock = 0, processId = 0, threadId = 0;
        getSetting("Clocktime_In_Header", clock, 1, kLogSettingMaxAgeMs);
        getSetting("Proc_Id_In_Header", processId, 0, kLogSettingMaxAgeMs);
        getSetting("Thread_Id_In_Header", threadId, 0, kLogSettingMaxAgeMs);

        // Another process that keeps the log mutex must not freeze every thread that logs: after
        // a few seconds the line is dropped, and while the mutex stays taken the lines that follow
        // don't wait at all, so a report that logs ten lines isn't held up ten times.
        const bool stalled = mutexStalled_ && GetTickCount() - mutexStalledAt_ < kLogMutexStallMs;
        InterProcessLock lock(*mutex_, stalled ? 1 : kLogMutexWaitMs);
        if (!lock.held()) {
            if (!stalled) {
                mutexStalledAt_ = GetTickCount();
                mutexStalled_ = true;
            }
            return;
        }
        mutexStalled_ = false;
        LogLineFields fields;
        LogClock now;
        if (clock != 0) {
            SYSTEMTIME local;
            GetLocalTime(&local);
            now = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                   local.wMilliseconds};
            fields.clock = &now;
        }
        fields.withProcessId = processId != 0;
        fields.processId = GetCurrentProcessId();
        fields.withThreadId = threadId != 0;
        fields.threadId = GetCurrentThreadId();
        fields.component = component->name();
        fields.columnWidth = columnWidth_;
        fields.depth = depth();
        const std::string line =
            formatLogLine(linePrefix(component, level, text), fields, text, lineSuffix(component, level, text));

        // The file is opened once when it is there; only a file that can't be opened as it
        // stands is reported missing and then created.
        SECURITY_ATTRIBUTES* attributes = security_.getAttributes();
        UniqueHandle file(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            onLogFileMissing();
            file.reset(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        if (!file) return;
        DWORD size = GetFileSize(file.get(), nullptr);
        SetFilePointer(file.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
        DWORD written = 0;
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } catch (const Win32Exception&) {
        // The line is lost; logging never disturbs the caller.
    } catch (const std::bad_alloc&) {
    }
}

void BasicLogger::deleteLogFile() {
    if (!mutex_) return;
    try {
        InterProcessLock lock(*mutex_);
        DeleteFileA(path_.c_str());
    } catch (const Win32Exception&) {
    }
}

int BasicLogger::depth() {
    TraceDepthGuard hold(depthLock_);
    return depths_[GetCurrentThreadId()];
}

void BasicLogger::enterTrace() {
    TraceDepthGuard hold(depthLock_);
    ++depths_[GetCurrentThreadId()];
}

void BasicLogger::leaveTrace() {
    TraceDepthGuard hold(depthLock_);
    --depths_[GetCurrentThreadId()];
}

FunctionTrace::FunctionTrace(BasicLogger* logger, const LoggerComponent* component, const std::string& name,
                             DWORD level, bool enabled)
    : name_(name), component_(component), logger_(logger), level_(level) {
    if (!enabled || logger_ == nullptr || !logger_->isEnabled(component_, level_)) return;
    active_ = true;
    logger_->writeText(component_, level_, "+" + name_);
    logger_->enterTrace();
}

FunctionTrace::~FunctionTrace() {
    if (!active_) return;
    logger_->leaveTrace();
    try {
        std::string line = "-" + name_;
        if (!result_.empty()) line += " rc=" + result_;
        logger_->writeText(component_, level_, line);
    } catch (const std::bad_alloc&) {
    }
}
