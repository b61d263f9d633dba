// One HID interface of a locally attached device, as the monitor tracks it.
#pragma once

#include "DcsContract.h"
#include "TextLimits.h"

#include <cstdint>

struct DeviceRecord {
    int32_t opened = 0;      // openHid succeeded
    int32_t registered = 0;  // both registrations succeeded
    int32_t hidOpenOk = 0;   // last HID-open notification: 1 okay, 0 error
    int32_t isLocal = 0;     // Transport reads "USB1"
    DcsHandle handle = 0;
    char portName[kNameBuffer] = {};
    char printerName[kNameBuffer] = {};
};
