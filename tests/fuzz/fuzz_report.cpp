// Panel reports of any length: the decoding and the dispatch decision.
#include "PanelRequest.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The callback refuses reports shorter than 8 bytes before decoding.
    if (size < kPanelReportMinimum) return 0;
    PanelRequest request;
    int32_t code = -1;
    const int result = decodePanelReport(data, request, code);
    if (result == 1) {
        if (data[0] == 1) std::abort();
        return 0;
    }
    if (code != data[6] || request.resolutionX != request.resolutionY || request.paperSize > 15) std::abort();
    const PanelAction action = panelActionFor(request.origin, code);
    if ((action == PanelAction::Invalid) != (data[1] > 2)) std::abort();
    const int32_t index = applicationIndexFor(request.parameter);
    if (index < -1 || index > 0xFF) std::abort();
    for (int32_t word : request.reservedTail) {
        if (word != 0) std::abort();
    }
    // The fax request decodes a changed copy.
    uint8_t fax[kPanelReportMinimum];
    std::memcpy(fax, data, sizeof(fax));
    fax[6] = 2;
    fax[7] = 0xFF;
    decodePanelReport(fax, request, code);
    if (applicationIndexFor(request.parameter) != 0xFF) std::abort();
    return 0;
}
