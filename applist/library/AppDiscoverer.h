// Finds the installed image and document programs: the programs associated with the probe file
// types, the commands registered below "Applications\" and the registered application paths.
// A table of known programs names them, gives their file types and, when only known programs
// are wanted, filters and orders the result.
#pragma once

#include "KnownApps.h"

#include <windows.h>

#include <string>
#include <vector>


// The file types whose associated programs are looked up, in lookup order (".bmp" ... ".lss").
constexpr size_t kAssociationTypeCount = 22;
extern const wchar_t* const kAssociationTypes[kAssociationTypeCount];

// Text ids 122.. of the localised names and the executable, matched exactly, each one renames.
constexpr UINT kFirstLocalisedNameId = 122;
constexpr size_t kLocalisedNameCount = 12;
extern const wchar_t* const kLocalisedExecutables[kLocalisedNameCount];


// A registered command line or path turned into the executable's path: quotes removed,
// environment references expanded, argument placeholders and switches cut, short names made long.
std::wstring cleanCommand(const std::wstring& text);
// The path, upper-cased, contains ".EXE" and the file exists.
bool isUsableExe(const std::wstring& path);

class AppDiscoverer {
public:
    // Builds the table for the library's prefix with its localised names; throws the platform
    // error "GetModuleFileName failed" (code 0) when the library's path can't be read.
    AppDiscoverer();

    // Fills the discovered list; 0 or the system error code of the registry scans.
    DWORD discover(bool onlyKnown);
    const std::vector<std::wstring>& discovered() const { return discovered_; }

    const std::vector<KnownApp>& knownApps() const { return table_; }
    int findKnownApp(const std::wstring& path) const { return discovery::findKnownApp(table_, path); }
    // The APP entry of a known row, or of an unknown program (index -1) under its file description.
    std::wstring buildEntry(int index, const std::wstring& path) const;
    // Appends unless an entry already has the same friendly name (exact): 0 or ERROR_DUP_NAME.
    DWORD addDiscovered(const std::wstring& entry);

private:
    bool offerCandidate(const std::wstring& path);
    void scanAssociations();
    DWORD scanApplications();
    DWORD searchCommands(HKEY parent, const std::wstring& name, int depth = 0);
    DWORD scanAppPaths();

    std::vector<KnownApp> table_;
    std::wstring probePrefix_;
    std::vector<std::wstring> discovered_;
    bool onlyKnown_ = false;
};

// The program's version-information file description, empty when it has none.
std::wstring fileDescription(const std::wstring& path);
