// The binding of the outside device communication library. Loads and initialises the
// library on demand, obtains a client identity from it, resolves each entry point by name at the
// moment of the call ("Dcs" + the operation's name with its first letter in upper case), keeps
// the table of the device handles it opened, and turns every failure into a return code:
//
//   0 success, 1 handle not open, 122 buffer too small (passed through), 126 library not loaded
//   or not initialised, 127 entry point missing, other: the library's own result or a system
//   error code (failed load in acquireClient/install, failed host check, DcsGetClientId result).
//
// No operation throws or logs. Operations may be called from several threads at once; no
// binding lock is held while an entry point other than DcsInitialize, DcsUninitialize or
// DcsGetClientId runs, and no two binding locks are ever held together.
//
// Per-handle operations take no library use: the caller must not close a handle on one thread
// while another thread is still using it.
#pragma once

#include "CriticalSection.h"
#include "DcsContract.h"
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class DcsClient {
public:
    // libraryFileName = the first 4 characters of the module's file name + "devlink.dll", or
    // "devlink.dll" when the module's path cannot be read. Nothing is loaded here. A file name
    // is loaded from the module's folder (the program's for the second form), never searched for.
    DcsClient(HMODULE module, const std::string& hostName, bool keepLoaded);
    DcsClient(const std::string& libraryFileName, const std::string& hostName, bool keepLoaded);
    DcsClient(const DcsClient&) = delete;
    DcsClient& operator=(const DcsClient&) = delete;

    // Slot 0. Unloads the library if loaded (DcsUninitialize first) whatever the use counts and
    // keepLoaded; discards the handle table without closing any handle.
    virtual ~DcsClient();

    // Operations in slot order. Families: global, library, open, handle, close,
    // close-all, held, release, special.
    virtual LONG cancelJobPrinter(DcsHandle handle);                                          // 1 handle
    virtual LONG getHostInfo(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4);              // 2 global
    virtual LONG setHostInfo(DcsValue v1, DcsValue v2, DcsValue v3);                           // 3 global
    virtual LONG closeAllPrinters();                                                           // 4 close-all
    virtual LONG closePrinter(DcsHandle handle);                                               // 5 close
    virtual LONG deletePrinter(DcsValue v1);                                                   // 6 global
    virtual LONG discovery(const char* transport, const char* second);                         // 7 global
    virtual LONG endJobPrinter(DcsHandle handle);                                              // 8 handle
    virtual LONG enumPrinters(DcsValue v1, DcsValue v2, DcsValue v3);                          // 9 global
    virtual LONG enumSpecificPrinter(DcsValue v1, DcsValue v2);                                // 10 global
    virtual LONG exchangeNpaPrinter(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                    DcsValue v5);                                              // 11 handle
    virtual LONG exchangeBidiPrinter(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                     DcsValue v5);                                             // 12 handle
    virtual LONG getByteArrayPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5);  // 13 global
    virtual LONG getCachePrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4);          // 14 global
    virtual LONG getCurrentStatePrinter(DcsValue v1, DcsValue v2);                             // 15 global
    virtual LONG getDiscoveryDefaults(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4);     // 16 global
    virtual LONG getLongPrinter(DcsValue v1, DcsValue v2, DcsValue v3);                        // 17 global
    virtual LONG getStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5);  // 18 global
    virtual LONG openPrinter(DcsHandle handle);                                                // 19 open
    virtual LONG registerForAlertsPrinter(DcsHandle handle, DcsValue v1, DcsValue v2);         // 20 handle
    virtual LONG registerForNotificationsPrinter(DcsHandle handle, DcsValue v1, DcsValue v2);  // 21 handle
    virtual LONG setByteArrayPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4);      // 22 global
    virtual LONG setDiscoveryDefaults(DcsValue v1, DcsValue v2);                               // 23 global
    virtual LONG setClientInfo(DcsValue v1, DcsValue v2);                                      // 24 global
    virtual LONG setLongPrinter(DcsValue v1, DcsValue v2, DcsValue v3);                        // 25 global
    virtual LONG setStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4);         // 26 global
    virtual LONG startJobPrinter(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                 DcsValue v5);                                                 // 27 handle
    virtual LONG startJobPrinterW(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                  DcsValue v5);                                                // 28 handle
    virtual LONG enumHids(const char* transport, const char* second, EnumCallback callback);   // 29 global
    virtual LONG enumSpecificHid(const char* portName, DcsHandle* handle);                     // 30 global
    virtual LONG getStringHid(DcsHandle handle, const char* descriptor, char* buffer, uint32_t bufferSize,
                              uint32_t* length);                                               // 31 global
    virtual LONG getLongHid(DcsHandle handle, const char* descriptor, int32_t* value);         // 32 global
    virtual LONG openHid(DcsHandle handle);                                                    // 33 open
    virtual LONG registerForReportsHid(DcsHandle handle, ReportCallback callback);             // 34 handle
    virtual LONG unregisterForReportsHid(DcsHandle handle);                                    // 35 handle
    virtual LONG registerForNotificationsHid(DcsHandle handle, NotificationCallback callback); // 36 handle
    virtual LONG unregisterForNotificationsHid(DcsHandle handle);                              // 37 handle
    virtual LONG closeAllHids();                                                               // 38 close-all
    virtual LONG closeHid(DcsHandle handle);                                                   // 39 close
    virtual LONG deleteHid(DcsValue v1);                                                       // 40 global
    virtual LONG getCurrentStateHid(DcsHandle handle, uint32_t* state);                        // 41 global
    virtual LONG enumWindowsHids(DcsValue v1, DcsValue v2, DcsValue v3);                       // 42 global
    virtual LONG enumWindowsScanners(DcsValue v1, DcsValue v2, DcsValue v3);                   // 43 global
    virtual LONG enumWindowsPrinters(DcsValue v1, DcsValue v2, DcsValue v3);                   // 44 global
    virtual LONG closeScanner(DcsHandle handle);                                               // 45 close
    virtual LONG endJobScanner(DcsHandle handle);                                              // 46 handle
    virtual LONG cancelJobScanner(DcsHandle handle);                                           // 47 handle
    virtual LONG enumScanners(DcsValue v1, DcsValue v2, DcsValue v3);                          // 48 global
    virtual LONG enumSpecificScanner(const char* portName, DcsHandle* handle);                 // 49 global
    virtual LONG exchangeDataScanner(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                     DcsValue v5);                                             // 50 handle
    virtual LONG getLongScanner(DcsValue v1, DcsValue v2, DcsValue v3);                        // 51 global
    virtual LONG getStringScanner(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5);  // 52 global
    virtual LONG openScanner(DcsHandle handle);                                                // 53 open
    virtual LONG startJobScanner(DcsHandle handle, DcsValue v1);                               // 54 handle
    virtual LONG registerForAsyncDataScanner(DcsHandle handle, DcsValue v1, DcsValue v2);      // 55 handle
    virtual LONG unregisterForAsyncDataScanner(DcsHandle handle);                              // 56 handle
    virtual LONG getCurrentStateScanner(DcsHandle handle, uint32_t* state);                    // 57 global
    virtual LONG acquireClient();                                                              // 58 special
    virtual LONG releaseClient();                                                              // 59 special
    virtual LONG unregisterForAlertsPrinter(DcsHandle handle);                                 // 60 handle
    virtual LONG unregisterForNotificationsPrinter(DcsHandle handle);                          // 61 handle
    virtual LONG validatePortName(DcsValue v1);                                                // 62 global
    virtual LONG writePrinter(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3);        // 63 handle
    virtual LONG openCardReader(DcsHandle handle);                                             // 64 open
    virtual LONG closeCardReader(DcsHandle handle);                                            // 65 close
    virtual LONG enumSpecificCardReader(DcsValue v1, DcsValue v2);                             // 66 global
    virtual LONG enumCardReaders(DcsValue v1, DcsValue v2, DcsValue v3);                       // 67 global
    virtual LONG exchangeBidiCardReader(DcsHandle handle, DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4,
                                        DcsValue v5);                                          // 68 handle
    virtual LONG registerForReportsCardReader(DcsValue v1);                                    // 69 held
    virtual LONG unregisterForReportsCardReader();                                             // 70 release
    virtual LONG registerForNotificationsCardReader(DcsHandle handle, DcsValue v1);            // 71 handle
    virtual LONG unregisterForNotificationsCardReader(DcsHandle handle);                       // 72 handle
    virtual LONG registerForAsyncDataCardReader(DcsHandle handle, DcsValue v1);                // 73 handle
    virtual LONG unregisterForAsyncDataCardReader(DcsHandle handle);                           // 74 handle
    virtual LONG install();                                                                    // 75 special
    virtual LONG uninstall();                                                                  // 76 library
    virtual LONG resume();                                                                     // 77 library
    virtual LONG suspend();                                                                    // 78 library
    virtual LONG addTransport(DcsValue v1);                                                    // 79 library
    virtual LONG removeTransport(DcsValue v1);                                                 // 80 library
    virtual LONG addMonitor();                                                                 // 81 library
    virtual LONG checkHost();                                                                  // 82 special
    virtual LONG registerForSystemNotifications(DcsValue v1, DcsValue v2);                     // 83 held
    virtual LONG unregisterForSystemNotifications();                                           // 84 release
    virtual LONG cancelDiscovery(DcsValue v1, DcsValue v2);                                    // 85 global
    virtual LONG setJobStringScanner(DcsValue v1, DcsValue v2, DcsValue v3);                   // 86 global
    virtual LONG setJobStringPrinter(DcsValue v1, DcsValue v2, DcsValue v3);                   // 87 global
    virtual LONG getJobStringScanner(DcsValue v1, DcsValue v2, DcsValue v3, DcsValue v4, DcsValue v5);  // 88 global

    // Read-only views for callers and tests (each takes its lock briefly).
    const std::string& libraryFileName() const { return libraryFileName_; }
    const std::string& hostName() const { return hostName_; }
    bool keepLoaded() const { return keepLoaded_; }
    bool isLibraryLoaded() const;
    uint32_t libraryUses() const;
    uint32_t clientId() const;
    uint32_t clientIdUses() const;
    uint32_t openCount(DcsHandle handle) const;  // 0 when the handle is not in the table
    size_t openHandleCount() const;

protected:
    // The 2000 ms wait of writePrinter after a 122 answer goes through here; tests override it.
    virtual void pause(DWORD milliseconds);

private:
    struct OpenHandleRecord {
        DcsHandle handle;
        uint32_t clientId;  // the identity in force at the first open; every per-handle call passes it
        uint32_t openCount;
    };
    using CloseOperation = LONG (DcsClient::*)(DcsHandle);

    // Library and identity uses.
    LONG acquireLibrary();
    void releaseLibrary();
    void unloadLocked();  // caller holds libraryLock_ and a module is loaded
    LONG acquireClientId(uint32_t* clientId);
    void releaseClientId();
    LONG takeUses(uint32_t* clientId);  // acquireLibrary (126) then acquireClientId
    void giveUses();                    // releaseClientId then releaseLibrary
    // Both uses and the entry point; on a failure the uses are back and its code is returned.
    template <typename Fn>
    LONG takeUsesFor(const char* entryPoint, uint32_t& clientId, Fn& fn);
    LONG checkHostName() const;

    // The loaded module's entry point by name, or nullptr (no module loaded or no such export).
    void* resolve(const char* name) const;
    // The recorded identity of an open handle; false when the handle is not in the table.
    bool findRecord(DcsHandle handle, uint32_t* clientId) const;

    // The families.
    template <typename... Values>
    LONG callGlobal(const char* entryPoint, Values... values);
    template <typename... Values>
    LONG callLibrary(const char* entryPoint, Values... values);
    LONG callOpen(const char* entryPoint, DcsHandle handle);
    template <typename... Values>
    LONG callHandle(const char* entryPoint, CloseOperation onMissing, DcsHandle handle, Values... values);
    LONG callClose(const char* entryPoint, DcsHandle handle);
    LONG callCloseAll(CloseOperation close);
    template <typename... Values>
    LONG callHeld(const char* entryPoint, bool keepOnFailure, Values... values);
    LONG callRelease(const char* entryPoint);
    HMODULE loadLibrary() const;

    // Fields in the declared order.
    uint32_t clientId_ = 0;
    const std::string hostName_;
    const std::string libraryFileName_;
    const HMODULE home_ = nullptr;  // the folder of a bare library name; null: the program's
    std::map<DcsHandle, std::unique_ptr<OpenHandleRecord>> openHandles_;
    uint32_t clientIdUses_ = 0;
    mutable CriticalSection clientIdLock_;  // clientId_, clientIdUses_
    mutable CriticalSection handleLock_;    // openHandles_
    mutable CriticalSection libraryLock_;   // libraryModule_, libraryUses_
    UniqueModule libraryModule_;
    uint32_t libraryUses_ = 0;
    const bool keepLoaded_;
};
