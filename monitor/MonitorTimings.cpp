#include "MonitorTimings.h"

#include <cstdlib>

MonitorTimings parseMonitorTimings(const std::string& text) {
    MonitorTimings timings;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && equals + 1 < pair.size()) {
            const std::string name = pair.substr(0, equals);
            char* rest = nullptr;
            const unsigned long value = std::strtoul(pair.c_str() + equals + 1, &rest, 10);
            if (rest != nullptr && *rest == '\0' && value > 0 && value <= 3600000) {
                if (name == "poll") timings.pollMs = static_cast<uint32_t>(value);
                if (name == "reenum") timings.reenumerateMs = static_cast<uint32_t>(value);
                if (name == "enumretry") timings.enumRetrySleepMs = static_cast<uint32_t>(value);
            }
        }
        start = end + 1;
    }
    return timings;
}
