// The monitor's own log lines, built only when their level is on.
#pragma once

#include "BasicLogger.h"
#include "SCXLogger.h"

#include <string>

namespace monitor_log {
inline BasicLogger* logger() { return BasicLogger::getInstance(); }

inline bool infoEnabled() { return logger()->isEnabled(&g_logPanelmon, LOG_INFO); }

inline void logInfo(const std::string& text) {
    if (infoEnabled()) logger()->writeText(&g_logPanelmon, LOG_INFO, text);
}

inline void logError(const std::string& text) { logger()->writeText(&g_logPanelmon, LOG_ERROR, text); }

// A trace whose name is built only when tracing is on.
class Trace {
public:
    explicit Trace(const char* name)
        : enabled_(logger()->isEnabled(&g_logPanelmon, LOG_TRACE)),
          trace_(logger(), &g_logPanelmon, enabled_ ? name : "", LOG_TRACE, enabled_) {}

private:
    bool enabled_;
    FunctionTrace trace_;
};
}  // namespace monitor_log
