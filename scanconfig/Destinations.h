// The scan jobs of each kind of destination and the panel's paper sizes. The caller supplies the
// monitor's values and writes the job. Pure: no system headers.
#pragma once

#include "ScanJob.h"
#include "TextLimits.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Room the monitor's fixed texts had. Codes are cut to it; a path that does not fit is the
// caller's to refuse, since a cut one would name another file or program.
constexpr size_t kJobFilePathChars = 259;  // the whole folder file path
constexpr size_t kFolderExtensionChars = 4;
constexpr size_t kCopiesChars = 4;

struct DestinationValues {
    std::string portName;
    std::string colorModeText;  // "color" or "grayscale"
    std::string ocrFlag;        // "1" when an OCR program is registered, else "0"
    std::string faxProgram;
};

ScanJob fileJob(const DestinationValues& values);
// "<folderPath>\<dateTimeText>.<extension>", the extension being the file type's first 4 characters.
std::string folderFilePath(const std::string& folderPath, const std::string& dateTimeText, const std::string& fileType);
// FILE_PATH is folderFilePath(); a "jpg" extension (any case) leaves the scan source and the
// flatbed prompt out.
ScanJob folderJob(const DestinationValues& values, const std::string& folderPath, const std::string& fileType,
                  const std::string& dateTimeText);
// The scan source is set only for a file type of exactly "PPT" or "ppt".
ScanJob applicationJob(const DestinationValues& values, const std::string& appPath, const std::string& fileType);
// Bit 7 of the device's first option byte asks for a PDF job, else a cropped JPG job.
ScanJob emailJob(const DestinationValues& values, uint8_t firstOptionByte);
ScanJob faxJob(const DestinationValues& values);
ScanJob printJob(const std::string& portName, const std::string& printerName, int copies, int colorNumber);

struct PaperSize {
    float width;   // inches
    float height;  // inches
    const char* widthText;   // ten-thousandths of an inch
    const char* heightText;
};

// Codes 1 to 15; any other code gives 0 by 0 and "0" texts.
PaperSize lookupPaperSize(int areaCode);
