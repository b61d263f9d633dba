// The bytes of the job files the monitor writes itself and the command lines it starts. Pure,
// so the exact layouts can be tested and fuzzed on any host.
#pragma once

#include "TextLimits.h"

#include <cstddef>
#include <string>


// At most capacity - 1 characters, as a bounded format into a buffer of `capacity` would keep.
std::string boundedText(const std::string& text, size_t capacity = kNameBuffer);

// At most `limit` bytes of code-page text, ending at a character's end: a byte for which
// `isLeadByte` holds starts a two-byte character, which is kept whole or not at all.
std::string cutAtCharacter(const std::string& text, size_t limit, bool (*isLeadByte)(unsigned char));

// "LightScanXML<number>.xml".
std::string jobFileName(int number);

struct AppJobValues {
    std::string widthText;
    std::string heightText;
    std::string colorModeText;
    std::string portName;
    std::string ocrFlag;
    bool photoDockPresent = false;
    std::string paintPath;  // already in the system code page
};
// The "<APP>" job of a scan to the computer.
std::string appJobBytes(const AppJobValues& values);
// The memory-card report: always the same 79 bytes.
std::string cardReportBytes();

// Every program is named by its full path, quoted, so neither the search path nor a folder with a
// space in its name can make the system start a different program. Command lines are never cut:
// a cut line would name another file. Device names lose any '"', which would end or start a
// quoted argument; the arguments stay as they are otherwise.
std::string lightScanCommand(const std::string& moduleDirectory, const std::string& prefix,
                             const std::string& jobPath);
// A file's path as one argument: as it is without a space; else its short form (`shortForm`,
// empty when the volume has none), which programs that read the rest of the line take as it
// is; else quoted. A temporary folder under a user name with a space must not arrive in pieces.
std::string pathArgument(const std::string& path, const std::string& shortForm);
std::string photoDockCommand(const std::string& photoDockPath, const std::string& reportPath);
std::string photoDeskCommand(const std::string& photoDeskPath, const std::string& printerName);
std::string quickPrintCommand(const std::string& quickPrintPath, int files, const std::string& portName,
                              int storageId, const std::string& printerName);
