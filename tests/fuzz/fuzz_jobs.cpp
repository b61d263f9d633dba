// The job files written into memory: SCANJOB from each destination, the "<APP>" job and the
// command lines, with values of any length and content.
#include "Destinations.h"
#include "FuzzInput.h"
#include "JobText.h"
#include "ScanJob.h"
#include "UntrustedText.h"

#include <algorithm>
#include <cstdlib>

namespace {
bool highBytesLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t pick = input.byte();
    DestinationValues values;
    values.portName = input.text();
    values.colorModeText = input.text();
    values.ocrFlag = input.text();
    values.faxProgram = input.text();
    const std::string path = input.text();
    const std::string type = input.text();
    const std::string when = input.text();
    const int copies = static_cast<int>(input.byte()) * 97 - 1000;

    ScanJob job;
    switch (pick % 6) {
        case 0: job = fileJob(values); break;
        case 1: job = folderJob(values, path, type, when); break;
        case 2: job = applicationJob(values, path, type); break;
        case 3: job = emailJob(values, input.byte()); break;
        case 4: job = faxJob(values); break;
        default: job = printJob(values.portName, path, copies, pick >> 4); break;
    }
    const std::string bytes = job.bytes();
    if (bytes.compare(0, 9, "<SCANJOB>") != 0 || bytes.size() < 19 ||
        bytes.compare(bytes.size() - 10, 10, "</SCANJOB>") != 0) {
        std::abort();
    }

    AppJobValues app;
    app.widthText = values.portName;
    app.heightText = values.colorModeText;
    app.colorModeText = values.ocrFlag;
    app.portName = path;
    app.ocrFlag = type;
    app.photoDockPresent = (pick & 1) != 0;
    app.paintPath = input.rest();
    if (appJobBytes(app).compare(0, 5, "<APP>") != 0) std::abort();
    // Nothing is cut, and a device's names add no quote: the program's two are the only ones.
    const std::string program = forCommandLine(path);
    if (lightScanCommand(path, type, when).size() != path.size() + type.size() + when.size() + 15) std::abort();
    if (photoDockCommand(path, when).size() != path.size() + when.size() + 6) std::abort();
    for (const std::string& line : {photoDeskCommand(program, type), quickPrintCommand(program, copies, when, copies, type)}) {
        if (std::count(line.begin(), line.end(), '"') != 2) std::abort();
    }
    const std::string safe = withoutMarkup(type);
    if (safe.find_first_of("<>\r\n") != std::string::npos || safe.size() > type.size()) std::abort();

    // A cut code-page text is a prefix within its limit that ends at a character's end.
    const size_t limit = pick;
    const std::string cut = cutAtCharacter(app.paintPath, limit, highBytesLead);
    if (cut.size() > limit || app.paintPath.compare(0, cut.size(), cut) != 0) std::abort();
    size_t at = 0;
    while (at < cut.size()) at += highBytesLead(static_cast<unsigned char>(cut[at])) && at + 1 < app.paintPath.size() ? 2 : 1;
    if (at != cut.size()) std::abort();
    if (cut.size() + 2 <= limit && cut.size() < app.paintPath.size()) std::abort();  // nothing left out that fits
    return 0;
}
