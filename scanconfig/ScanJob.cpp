#include "ScanJob.h"

namespace {
void element(std::string& out, const char* name, const std::string& value) {
    out += '<';
    out += name;
    out += '>';
    out += value;
    out += "</";
    out += name;
    out += '>';
}

void optional(std::string& out, const char* name, const std::string& value, bool lineEnd) {
    if (value.empty()) return;
    element(out, name, value);
    if (lineEnd) out += "\r\n";
}
}  // namespace

void ScanJob::setColorMode(int colorNumber) { colorMode_ = colorNumber == 1 ? "grayscale" : "color"; }

std::string ScanJob::bytes() const {
    std::string out = "<SCANJOB>";
    element(out, "DEST_TYPE", destType_);
    element(out, "PORT_NAME", portName_);
    optional(out, "SCAN_SOURCE", scanSource_, false);
    optional(out, "MULTI_FB_PROMPT", multiFbPrompt_, false);
    optional(out, "CROPPING", cropping_, false);
    optional(out, "OCR", ocr_, true);
    optional(out, "APP_PATH", appPath_, true);
    optional(out, "DEFAULT_FILE_TYPE", defaultFileType_, true);
    optional(out, "DPI_X", dpiX_, true);
    optional(out, "DPI_Y", dpiY_, true);
    optional(out, "FILE_PATH", filePath_, true);
    optional(out, "PRINTER_NAME", printerName_, true);
    optional(out, "NUMBER_OF_COPIES", numberOfCopies_, true);
    optional(out, "COLOR_MODE", colorMode_, true);
    out += "</SCANJOB>";
    return out;
}
