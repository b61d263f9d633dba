// The table of known programs and the text rules of discovery, free of system calls so that
// they build for any host.
#pragma once

#include "AsciiText.h"

#include <functional>
#include <string>
#include <vector>

struct KnownApp {
    std::wstring executable;
    std::wstring friendlyName;
    std::wstring supportedTypes;
    std::wstring defaultType;
};

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
