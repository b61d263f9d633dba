#include "Duplexer.h"

#include "CSCUtil.h"
#include "TextLimits.h"

#include <winspool.h>

bool spoolerFriendlyName(const std::string& printerName, std::string& friendlyName) {
    friendlyName.clear();
    // The duplex button alone asks the spooler: bound when it is first pressed. Without the
    // spooler no printer can be opened.
    auto openPrinter = LAZY_ENTRY(spooler(), OpenPrinterA);
    auto getPrinterData = LAZY_ENTRY(spooler(), GetPrinterDataA);
    auto closePrinter = LAZY_ENTRY(spooler(), ClosePrinter);
    if (openPrinter == nullptr || getPrinterData == nullptr || closePrinter == nullptr) return false;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    HANDLE printer = nullptr;
    if (!openPrinter(const_cast<char*>(printerName.c_str()), &printer, &defaults) || printer == nullptr) {
        return false;
    }
    char name[kNameBuffer + 1] = {};
    DWORD type = 0;
    DWORD needed = 0;
    // The answer is not checked: a printer without the value leaves the name empty.
    getPrinterData(printer, const_cast<char*>("OriginalFriendlyName"), &type, reinterpret_cast<BYTE*>(name),
                   kNameBuffer, &needed);
    closePrinter(printer);
    name[kNameBuffer] = '\0';
    friendlyName = name;
    return true;
}

int writeDuplexerButtonStatus(const std::string& brandKeyPath, const std::string& printerName, DWORD state,
                              const FriendlyNameLookup& lookup) {
    // An empty name would open the print server itself, not the device's printer. The name comes
    // from the device: a local printer's name has no backslash, so one with it ("\\host\queue")
    // would have this session connect to a print server elsewhere on the network.
    if (printerName.empty() || printerName.find('\\') != std::string::npos) return 0;
    std::string friendlyName;
    if (!lookup(printerName, friendlyName)) return 0;
    // The friendly name is one key's name: a backslash would reach into keys below it.
    if (brandKeyPath.empty() || friendlyName.empty() || friendlyName.find('\\') != std::string::npos) return 0;
    const std::string key = brandKeyPath + "\\IjPrtSettings\\" + friendlyName;
    return CSCUtil::writeRegistryDword(HKEY_LOCAL_MACHINE, key.c_str(), "DuplexerButtonStatus", state) ? 1 : 0;
}
