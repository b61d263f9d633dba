// The binary contract with the device communication library: callback types, entry-point
// types and the shared string vocabulary. Every entry point is __stdcall, exported under its
// bare name, and returns a 32-bit code (0 success). Values are 32 bits wide on x86 and x64
// alike; only pointers widen on x64.
#pragma once

#include <windows.h>

#include <cstdint>

using DcsHandle = uint32_t;   // opaque; 0 is never valid; 32 bits on x64 too
using DcsValue = uintptr_t;   // a value passed through unchanged: pointer-sized
static_assert(sizeof(DcsHandle) == 4, "device handles are 32-bit values on x86 and x64");

// Called once per device found, synchronously, before the enumeration call returns.
using EnumCallback = LONG(WINAPI*)(uint32_t first, DcsHandle handle);
// Called on a library thread for each HID input report after registration.
using ReportCallback = LONG(WINAPI*)(uint32_t first, DcsHandle handle, const uint8_t* report, uint32_t length);
// Called on a library thread after registration; class 2 carries HID-open results.
using NotificationCallback = LONG(WINAPI*)(DcsHandle handle, uint32_t notificationClass, uint32_t code);

// Entry points the system relies on.
using DcsInitializeFn = LONG(WINAPI*)();
using DcsUninitializeFn = LONG(WINAPI*)();
using DcsInstallFn = LONG(WINAPI*)();
using DcsGetClientIdFn = LONG(WINAPI*)(uint32_t* clientId, const char* hostName);
using DcsDiscoveryFn = LONG(WINAPI*)(uint32_t clientId, const char* transport, const char* second);
using DcsEnumHidsFn = LONG(WINAPI*)(uint32_t clientId, const char* transport, const char* second,
                                    EnumCallback callback);
using DcsEnumSpecificFn = LONG(WINAPI*)(uint32_t clientId, const char* portName, DcsHandle* handle);
using DcsGetStringHidFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle, const char* descriptor, char* buffer,
                                        uint32_t bufferSize, uint32_t* length);
using DcsGetLongHidFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle, const char* descriptor, int32_t* value);
using DcsGetCurrentStateFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle, uint32_t* state);
using DcsHandleFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle);
using DcsRegisterForReportsHidFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle, ReportCallback callback);
using DcsRegisterForNotificationsHidFn = LONG(WINAPI*)(uint32_t clientId, DcsHandle handle,
                                                       NotificationCallback callback);

constexpr uint32_t kHidStateFailed = 2;
constexpr uint32_t kNotificationClassHidOpen = 2;
constexpr uint32_t kNotificationHidOpenOkay = 1;
constexpr uint32_t kNotificationHidOpenError = 2;

// Property descriptors passed verbatim to the string getters.
constexpr const char kDescriptorPortname[] = "<Name>Portname</Name><Type>String</Type><Access>Writeable</Access>";
constexpr const char kDescriptorTransport[] = "<Name>Transport</Name><Type>String</Type><Access>ReadOnly</Access>";
constexpr const char kDescriptorScannerModel[] =
    "<Name>Scanner Model</Name><Type>String</Type><Access>ReadOnly</Access>";

// Transport names.
constexpr const char kTransportLocal[] = "LOCAL_TRANSPORT";  // enumeration scope
constexpr const char kTransportUsb[] = "USB1";               // discovery scope; a USB device's Transport
