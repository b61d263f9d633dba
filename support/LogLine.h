// The layout of one log line. Pure: no system headers.
#pragma once

#include <cstdint>
#include <string>

struct LogClock {
    int year, month, day, hour, minute, second, milliseconds;
};

struct LogLineFields {
    const LogClock* clock = nullptr;  // null: no time stamp
    bool withProcessId = false;
    uint32_t processId = 0;
    bool withThreadId = false;
    uint32_t threadId = 0;
    std::string component;
    int columnWidth = 0;
    int depth = 0;
};

// prefix, "yyyy/mm/dd-hh:mm:ss.mmm ", "pid=xxxx ", "tid=xxxx ", the component padded to the
// column width and a space, one space per trace depth, the text, the suffix, CR LF.
std::string formatLogLine(const std::string& prefix, const LogLineFields& fields, const std::string& text,
                          const std::string& suffix);
