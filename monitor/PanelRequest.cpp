#include "PanelRequest.h"

#include <cstring>

int32_t resolutionForCode(uint8_t code) {
    static const int32_t kDpi[8] = {0, 75, 150, 300, 600, 1200, 2400, 4800};
    return kDpi[code & 7];
}

int decodePanelReport(const uint8_t* report, PanelRequest& request, int32_t& code) {
    if (report == nullptr) return 0;
    std::memset(&request, 0, sizeof(request));
    if (report[0] != 1) return 1;
    code = report[6];
    request.messageType = report[0];
    request.origin = report[1];
    request.resolutionX = resolutionForCode(report[2] & 7);
    request.resolutionY = request.resolutionX;
    request.paperSize = report[2] >> 4;
    request.panelByte3 = report[3];
    request.storageId = report[5];
    request.requestCode = report[6];
    request.parameter = report[7];
    return 0;
}

PanelAction panelActionFor(int32_t origin, int32_t requestCode) {
    if (origin == 2) {
        if (requestCode == 1) return PanelAction::HostSendList;
        if (requestCode == 153) return PanelAction::HostCancel;
        return PanelAction::NoButton;
    }
    if (origin != 0 && origin != 1) return PanelAction::Invalid;
    switch (requestCode) {
        case 1:
        case 2:
        case 3:
            return PanelAction::Scan;
        case 4:
            return PanelAction::Fax;
        case 5:
            return PanelAction::ColorCopy;
        case 6:
            return PanelAction::InkReorder;
        case 7:
            return PanelAction::MemoryCard;
        case 8:
            return PanelAction::PanelSendList;
        case 9:
            return PanelAction::AutoPrint;
        case 10:
            return PanelAction::GrayCopy;
        case 16:
            return PanelAction::Duplex;
        case 153:
            return PanelAction::EndSession;
        default:
            return PanelAction::NoButton;
    }
}

int32_t applicationIndexFor(int32_t parameter) { return parameter == 0xFF ? 0xFF : parameter - 1; }

const char* scanRequestName(int32_t request) {
    switch (request) {
        case 0:
            return "SCAN_TO_APP";
        case 1:
            return "SEND_APPLIST";
        default:
            return "UNKNOWN";
    }
}

const char* scanTransportName(int32_t transport) {
    switch (transport) {
        case 0:
            return "SC_TRANSPORT_LOCAL";
        case 1:
            return "SC_TRANSPORT_NETWORK";
        default:
            return "UNKNOWN";
    }
}
