// The duplex button's state, kept in the printer's own settings key where its driver reads it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Reads the printer's "OriginalFriendlyName" printer data; false when the printer can't be
// opened. The spooler's answer is a seam so the key logic can be tested without a printer.
using FriendlyNameLookup = std::function<bool(const std::string& printerName, std::string& friendlyName)>;
bool spoolerFriendlyName(const std::string& printerName, std::string& friendlyName);

// Writes "DuplexerButtonStatus" under HKLM\<brandKeyPath>\IjPrtSettings\<friendly name>,
// creating the key for everyone. 1 when written, 0 otherwise (nothing is logged).
int writeDuplexerButtonStatus(const std::string& brandKeyPath, const std::string& printerName, DWORD state,
                              const FriendlyNameLookup& lookup);
