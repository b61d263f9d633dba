// The monitor's intervals. The product keeps the defaults; tests shorten them through the
// environment variable PANELMON_TIMINGS, e.g. "poll=500,reenum=200,enumretry=20".
#pragma once

#include <cstdint>
#include <string>

struct MonitorTimings {
    uint32_t pollMs = 60000;           // timer 1: re-open what is not ready
    uint32_t reenumerateMs = 10000;    // timer 2: look for a local device
    uint32_t enumRetrySleepMs = 5000;  // between failed enumeration passes
};

// Pure: reads "name=value" pairs separated by commas; unknown names and bad values are ignored.
MonitorTimings parseMonitorTimings(const std::string& text);
