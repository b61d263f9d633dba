// What one panel request looks up once and hands down to the job builders: its own device's
// port and printer and its own settings, so that another device's report can't change them
// under a running scan.
#pragma once

#include <cstdint>
#include <string>

struct DeviceNames {
    std::string port;
    std::string printer;  // empty when the record has none
};

struct ScanRequest {
    uint32_t handle = 0;
    DeviceNames device;
    std::string colorModeText;  // "color" or "grayscale"
    std::string widthText;      // the paper size, in ten-thousandths of an inch
    std::string heightText;
};
