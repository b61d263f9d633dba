#include "Destinations.h"

#include "AsciiText.h"

namespace {
std::string cut(const std::string& text, size_t limit) { return text.size() > limit ? text.substr(0, limit) : text; }

ScanJob baseJob(const char* destination, const DestinationValues& values) {
    ScanJob job;
    job.setDestType(destination);
    job.setPortName(values.portName);
    job.setColorMode(values.colorModeText);
    return job;
}
}  // namespace

ScanJob fileJob(const DestinationValues& values) {
    ScanJob job = baseJob("file", values);
    job.setScanSource("5");
    job.setMultiFbPrompt("AIO");
    job.setCropping("autocrop");
    job.setOCR(values.ocrFlag);
    return job;
}

std::string folderFilePath(const std::string& folderPath, const std::string& dateTimeText, const std::string& fileType) {
    return folderPath + "\\" + dateTimeText + "." + cut(fileType, kFolderExtensionChars);
}

ScanJob folderJob(const DestinationValues& values, const std::string& folderPath, const std::string& fileType,
                  const std::string& dateTimeText) {
    ScanJob job = baseJob("file", values);
    const std::string extension = cut(fileType, kFolderExtensionChars);
    if (!equalIgnoringAsciiCase(extension, "jpg")) {
        job.setScanSource("5");
        job.setMultiFbPrompt("AIO");
    }
    job.setOCR(values.ocrFlag);
    job.setFilePath(folderFilePath(folderPath, dateTimeText, fileType));
    return job;
}

ScanJob applicationJob(const DestinationValues& values, const std::string& appPath, const std::string& fileType) {
    ScanJob job = baseJob("application", values);
    if (fileType == "PPT" || fileType == "ppt") job.setScanSource("5");
    job.setMultiFbPrompt("AIO");
    job.setOCR(values.ocrFlag);
    job.setAppPath(appPath);
    job.setDefaultFileType(fileType);
    return job;
}

ScanJob emailJob(const DestinationValues& values, uint8_t firstOptionByte) {
    ScanJob job = baseJob("email", values);
    const bool pdf = (firstOptionByte & 0x80) != 0;
    job.setScanSource(pdf ? "3" : "2");
    if (!pdf) {
        job.setMultiFbPrompt("AIO");
        job.setCropping("autocrop");
    }
    job.setOCR(values.ocrFlag);
    job.setDefaultFileType(pdf ? "PDF" : "JPG");
    job.setDpiX(pdf ? "300" : "150");
    job.setDpiY(pdf ? "300" : "150");
    return job;
}

ScanJob faxJob(const DestinationValues& values) {
    ScanJob job = baseJob("fax", values);
    job.setScanSource("5");
    job.setMultiFbPrompt("AIO");
    job.setAppPath(cut(values.faxProgram, kNameBuffer));
    job.setDpiX("150");
    job.setDpiY("150");
    return job;
}

ScanJob printJob(const std::string& portName, const std::string& printerName, int copies, int colorNumber) {
    ScanJob job;
    job.setDestType("printer");
    job.setPortName(portName);
    job.setPrinterName(printerName);
    job.setNumberOfCopies(cut(std::to_string(copies), kCopiesChars));
    job.setColorMode(colorNumber);
    return job;
}

PaperSize lookupPaperSize(int areaCode) {
    static const PaperSize sizes[] = {
        {8.5f, 11.0f, "85000", "110000"},
        {7.1653f, 10.1181f, "71653", "101181"},
        {8.2677f, 11.6929f, "82677", "116929"},
        {5.8268f, 8.2677f, "58268", "82677"},
        {4.13385f, 5.8268f, "41338", "58268"},  // the texts as the panel's table has them
        {2.5f, 3.5f, "25000", "35000"},
        {3.0f, 5.0f, "30000", "50000"},
        {4.0f, 6.0f, "40000", "60000"},
        {5.0f, 7.0f, "50000", "70000"},
        {8.0f, 10.0f, "80000", "100000"},
        {3.504f, 5.0f, "35040", "50000"},
        {5.0f, 7.0f, "50000", "70000"},
        {11.0f, 14.0f, "110000", "140000"},
        {4.0f, 8.0f, "40000", "80000"},
        {2.25f, 3.25f, "22500", "32500"},
    };
    constexpr int count = static_cast<int>(sizeof(sizes) / sizeof(sizes[0]));
    if (areaCode < 1 || areaCode > count) return {0.0f, 0.0f, "0", "0"};
    return sizes[areaCode - 1];
}
