#include "LogLine.h"

#include <cstdio>

std::string formatLogLine(const std::string& prefix, const LogLineFields& fields, const std::string& text,
                          const std::string& suffix) {
    std::string line = prefix;
    char buffer[64];
    if (fields.clock != nullptr) {
        const LogClock& c = *fields.clock;
        std::snprintf(buffer, sizeof(buffer), "%04d/%02d/%02d-%02d:%02d:%02d.%03d ", c.year, c.month, c.day,
                      c.hour, c.minute, c.second, c.milliseconds);
        line += buffer;
    }
    if (fields.withProcessId) {
        std::snprintf(buffer, sizeof(buffer), "pid=%04x ", static_cast<unsigned>(fields.processId));
        line += buffer;
    }
    if (fields.withThreadId) {
        std::snprintf(buffer, sizeof(buffer), "tid=%04x ", static_cast<unsigned>(fields.threadId));
        line += buffer;
    }
    line += fields.component;
    if (static_cast<int>(fields.component.size()) < fields.columnWidth) {
        line.append(fields.columnWidth - fields.component.size(), ' ');
    }
    line += ' ';
    if (fields.depth > 0) line.append(static_cast<size_t>(fields.depth), ' ');
    line += text;
    line += suffix;
    line += "\r\n";
    return line;
}
