// The operator panel's report, decoded, and what the monitor does with it. Pure: no system
// calls, so the decoding and the dispatch decision can be tested and fuzzed on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kPanelReportMinimum = 8;  // only the first 8 bytes are read

// The decoded report. Every field is 32-bit; the tail is reserved and stays zero.
struct PanelRequest {
    int32_t reserved;
    int32_t messageType;
    int32_t origin;
    int32_t resolutionX;
    int32_t resolutionY;
    int32_t paperSize;
    int32_t panelByte3;
    int32_t storageId;
    int32_t requestCode;
    int32_t parameter;
    int32_t reservedTail[256];
};
static_assert(sizeof(PanelRequest) == 1064, "the request record is passed by value to the scan path");

// Dots per inch of a 3-bit resolution code.
int32_t resolutionForCode(uint8_t code);

// 0 with the record filled and `code` set; 1 when byte 0 is not 1 (record cleared); 0 and
// nothing touched for a null report.
int decodePanelReport(const uint8_t* report, PanelRequest& request, int32_t& code);

enum class PanelAction {
    Invalid,         // origin out of range: the call fails with 13
    NoButton,        // "No button pressed"
    HostSendList,    // host asks for the scan-to list
    HostCancel,      // host cancels: log and end the port's session
    Scan,            // codes 1-3: scan to an application
    Fax,             // code 4
    ColorCopy,       // code 5
    InkReorder,      // code 6
    MemoryCard,      // code 7
    PanelSendList,   // code 8
    AutoPrint,       // code 9
    GrayCopy,        // code 10
    Duplex,          // code 16
    EndSession,      // code 153 from the panel
};

PanelAction panelActionFor(int32_t origin, int32_t requestCode);

// The scan list's 0-based index for the panel's 1-based parameter; 0xFF (none) stays 0xFF.
int32_t applicationIndexFor(int32_t parameter);

// The diagnostic scan message, in the layout callers hand it over.
struct ScanMsg {
    int32_t Request;
    char FriendlyName[260];
    int32_t TransportType;
    int32_t reserved1;
    struct {
        int32_t x;
        int32_t y;
    } DPI;
    int32_t reserved2;
    struct {
        int32_t xPos;
        int32_t yPos;
        int32_t xExtent;
        int32_t yExtent;
    } Area;
    int32_t ColorMode;
    int32_t Content;
    int32_t ButtonID;
    int32_t AppIndex;
};

const char* scanRequestName(int32_t request);
const char* scanTransportName(int32_t transport);
