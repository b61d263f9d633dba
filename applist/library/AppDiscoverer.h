// Finds the installed image and document programs: the programs associated with the probe file
// types, the commands registered below "Applications\" and the registered application paths.
// A table of known programs names them, gives their file types and, when only known programs
// are wanted, filters and orders the result.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct KnownApp {
    std::wstring executable;
    std::wstring friendlyName;
    std::wstring supportedTypes;
    std::wstring defaultType;
};

// The file types whose associated programs are looked up, in lookup order (".bmp" ... ".lss").
constexpr size_t kAssociationTypeCount = 22;
extern const wchar_t* const kAssociationTypes[kAssociationTypeCount];

// Text ids 122.. of the localised names and the executable, matched exactly, each one renames.
constexpr UINT kFirstLocalisedNameId = 122;
constexpr size_t kLocalisedNameCount = 12;
extern const wchar_t* const kLocalisedExecutables[kLocalisedNameCount];

// The table logic, free of system calls.
namespace discovery {

// The 4 characters before the first "appmgr.dll" (exact case) of a module file name; fewer when
// the name starts sooner, empty when it is not there.
std::wstring tablePrefix(const std::wstring& moduleFileName);
// Rows 36-71 for a prefix starting with "nr" or "nv" in any case, else rows 0-35.
std::vector<KnownApp> knownAppSet(const std::wstring& tablePrefix);
// Every row whose executable equals `executable` exactly gets `name`.
void renameRows(std::vector<KnownApp>& table, const std::wstring& executable, const std::wstring& name);
// The text after the last backslash, or the whole text.
std::wstring fileNamePart(const std::wstring& path);
// The first row whose executable equals the path's file name ignoring A-Z case, else -1.
int findKnownApp(const std::vector<KnownApp>& table, const std::wstring& path);
// For each row in order, the first entry whose text contains the row's executable (A-Z case
// ignored); an entry matching several rows is taken once per row.
std::vector<std::wstring> reorderByTable(const std::vector<KnownApp>& table, const std::vector<std::wstring>& entries);

// The system services a command clean-up needs, replaceable so the text rules run alone.
struct CommandServices {
    // The text with environment references expanded; the text itself when that fails.
    std::function<std::wstring(const std::wstring&)> expand;
    // True with the long form of a path that has one.
    std::function<bool(const std::wstring&, std::wstring&)> longForm;
};
std::wstring cleanCommand(const std::wstring& text, const CommandServices& services);

}  // namespace discovery

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
    DWORD searchCommands(HKEY parent, const std::wstring& name);
    DWORD scanAppPaths();

    std::vector<KnownApp> table_;
    std::wstring probePrefix_;
    std::vector<std::wstring> discovered_;
    bool onlyKnown_ = false;
};

// The program's version-information file description, empty when it has none.
std::wstring fileDescription(const std::wstring& path);
