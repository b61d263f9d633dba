#include "JobText.h"

#include "UntrustedText.h"

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
    // A longer path is left out, never cut: a cut one would name another program.
    bytes += element("PAINTPATH", values.paintPath.size() <= kNameBuffer ? values.paintPath : "") + "\r\n";
    bytes += "</APP>";
    return bytes;
}

std::string cardReportBytes() {
    return "<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>";
}

std::string lightScanCommand(const std::string& moduleDirectory, const std::string& prefix,
                             const std::string& jobPath) {
    return "\"" + moduleDirectory + "\\" + prefix + "lsqx.exe\" -x " + jobPath;
}

std::string pathArgument(const std::string& path, const std::string& shortForm) {
    const auto plain = [](const std::string& text) { return text.find_first_of(" \t") == std::string::npos; };
    if (plain(path)) return path;
    if (!shortForm.empty() && plain(shortForm)) return shortForm;
    return "\"" + path + "\"";
}

std::string photoDockCommand(const std::string& photoDockPath, const std::string& reportPath) {
    return "\"" + photoDockPath + "\" -f " + reportPath;
}

std::string photoDeskCommand(const std::string& photoDeskPath, const std::string& printerName) {
    return "\"" + photoDeskPath + "\" -h202 /" + forCommandLine(printerName);
}

std::string quickPrintCommand(const std::string& quickPrintPath, int files, const std::string& portName,
                              int storageId, const std::string& printerName) {
    return "\"" + quickPrintPath + "\" /files=" + std::to_string(files) + " /port=" + forCommandLine(portName) +
           " /storageId=" + std::to_string(storageId) + " /printer=" + forCommandLine(printerName);
}
