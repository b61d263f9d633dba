#include "JobText.h"

namespace {
std::string element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + value + "</" + name + ">";
}
}  // namespace

std::string boundedText(const std::string& text, size_t capacity) {
    if (capacity == 0) return std::string();
    return text.size() < capacity ? text : text.substr(0, capacity - 1);
}

std::string cutAtCharacter(const std::string& text, size_t limit, bool (*isLeadByte)(unsigned char)) {
    size_t end = 0;
    while (end < text.size()) {
        const size_t step = isLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2 : 1;
        if (end + step > limit) break;
        end += step;
    }
    return text.substr(0, end);
}

std::string jobFileName(int number) { return "LightScanXML" + std::to_string(number) + ".xml"; }

std::string appJobBytes(const AppJobValues& values) {
    std::string bytes = "<APP>";
    bytes += element("APPNAME", "computer") + "\r\n";
    bytes += element("APPNAMEPATH", "") + "\r\n";
    bytes += element("DEFAULTFILETYPE", "JPG") + "\r\n";
    bytes += element("DIMENSIONX", values.widthText) + "\r\n";
    bytes += element("DIMENSIONY", values.heightText) + "\r\n";
    bytes += element("DPIX", "300") + "\r\n";
    bytes += element("DPIY", "300") + "\r\n";
    bytes += element("COLOR_MODE", values.colorModeText) + "\r\n";
    bytes += element("DEVICENAME", boundedText(values.portName)) + "\r\n";
    bytes += element("OCR", values.ocrFlag) + "\r\n";
    bytes += element("PDPRESENT", values.photoDockPresent ? "Yes" : "No") + "\r\n";
    bytes += element("PAINTPATH", values.paintPath.substr(0, kNameBuffer)) + "\r\n";
    bytes += "</APP>";
    return bytes;
}

std::string cardReportBytes() {
    return "<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>";
}

std::string lightScanCommand(const std::string& moduleDirectory, const std::string& prefix,
                             const std::string& jobPath) {
    return boundedText("\"" + moduleDirectory + "\\" + prefix + "lsqx.exe\" -x " + jobPath);
}

std::string photoDockCommand(const std::string& reportPath) {
    return boundedText("\"PhotoDock.exe\" -f " + reportPath);
}

std::string photoDeskCommand(const std::string& photoDeskPath, const std::string& printerName) {
    return boundedText("\"" + photoDeskPath + "\" -h202 /" + printerName);
}

std::string quickPrintCommand(int files, const std::string& portName, int storageId,
                              const std::string& printerName) {
    return boundedText("\"QuickPrn.exe\" /files=" + std::to_string(files) + " /port=" + portName +
                       " /storageId=" + std::to_string(storageId) + " /printer=" + printerName);
}
