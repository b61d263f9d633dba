// Stores a text value in a printer's data through the spooler, as a printer driver's installer
// does; the demo names its simulated device's printer this way.
//   <prefix>printerdata.exe PRINTER VALUE-NAME TEXT
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: printerdata PRINTER VALUE-NAME TEXT\n");
        return 2;
    }
    PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(argv[1], &printer, &all)) {
        std::fprintf(stderr, "no printer %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    const DWORD result = SetPrinterDataA(printer, argv[2], REG_SZ, reinterpret_cast<BYTE*>(argv[3]),
                                         static_cast<DWORD>(std::strlen(argv[3]) + 1));
    ClosePrinter(printer);
    if (result != ERROR_SUCCESS) std::fprintf(stderr, "%s not stored: error %lu\n", argv[2], result);
    return result == ERROR_SUCCESS ? 0 : 1;
}
