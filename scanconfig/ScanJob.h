// The description of one scan job, written as a SCANJOB file for the scanning program. Every
// value starts empty. The text form is pure; only write() touches the file system.
#pragma once

#include <string>

class ScanJob {
public:
    void setOCR(const std::string& value) { ocr_ = value; }
    void setDestType(const std::string& value) { destType_ = value; }
    void setDpiX(const std::string& value) { dpiX_ = value; }
    void setDpiY(const std::string& value) { dpiY_ = value; }
    void setScanSource(const std::string& value) { scanSource_ = value; }
    void setDefaultFileType(const std::string& value) { defaultFileType_ = value; }
    void setCropping(const std::string& value) { cropping_ = value; }
    void setMultiFbPrompt(const std::string& value) { multiFbPrompt_ = value; }
    void setPortName(const std::string& value) { portName_ = value; }
    void setAppPath(const std::string& value) { appPath_ = value; }
    void setFilePath(const std::string& value) { filePath_ = value; }
    void setPrinterName(const std::string& value) { printerName_ = value; }
    void setNumberOfCopies(const std::string& value) { numberOfCopies_ = value; }
    void setColorMode(const std::string& value) { colorMode_ = value; }
    // 1 is "grayscale", any other number "color".
    void setColorMode(int colorNumber);

    const std::string& ocr() const { return ocr_; }
    const std::string& destType() const { return destType_; }
    const std::string& dpiX() const { return dpiX_; }
    const std::string& dpiY() const { return dpiY_; }
    const std::string& scanSource() const { return scanSource_; }
    const std::string& defaultFileType() const { return defaultFileType_; }
    const std::string& cropping() const { return cropping_; }
    const std::string& multiFbPrompt() const { return multiFbPrompt_; }
    const std::string& portName() const { return portName_; }
    const std::string& appPath() const { return appPath_; }
    const std::string& filePath() const { return filePath_; }
    const std::string& printerName() const { return printerName_; }
    const std::string& numberOfCopies() const { return numberOfCopies_; }
    const std::string& colorMode() const { return colorMode_; }

    // The file's exact bytes: DEST_TYPE and PORT_NAME always, the others only when not empty,
    // values as they stand (the reader expects no escaping).
    std::string bytes() const;

    // Creates or truncates the file and writes bytes(); true when the file was created, written
    // and closed. A file that cannot be created gives false and is not reported otherwise.
    bool write(const char* fileName) const;

private:
    std::string ocr_, destType_, dpiX_, dpiY_, scanSource_, defaultFileType_, cropping_, multiFbPrompt_,
        portName_, appPath_, filePath_, printerName_, numberOfCopies_, colorMode_;
};
