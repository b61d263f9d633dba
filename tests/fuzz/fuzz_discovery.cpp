// Registered command lines and paths as discovery reads them: the clean-up into an executable's
// path, and the known-program table's lookups and ordering.
#include "FuzzInput.h"
#include "KnownApps.h"

#include <cstdlib>

namespace {
// Stand-ins for the system: expansion can lengthen the text a lot, the long form too.
std::wstring expand(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, L"%A%") == 0) {
            out.append(300, L'a');
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool longForm(const std::wstring& path, std::wstring& longPath) {
    if (path.size() > 2000) return false;
    longPath = path + L"\\Long Name";
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.byte();
    const std::string module = input.text();
    const std::wstring text = input.wideRest();

    const discovery::CommandServices services{(flags & 1) ? expand : nullptr, (flags & 2) ? longForm : nullptr};
    const std::wstring path = discovery::cleanCommand(text, services);
    if (path.find(L'"') != std::wstring::npos) std::abort();
    if (!(flags & 3) && path.size() > text.size()) std::abort();

    // The two sets are built once; a renamed copy only now and then, it is the slow part.
    static const std::vector<KnownApp> general = discovery::knownAppSet(L"kvab");
    static const std::vector<KnownApp> alternate = discovery::knownAppSet(L"nvab");
    const std::wstring prefix = discovery::tablePrefix(std::wstring(module.begin(), module.end()));
    const bool nv = prefix.size() >= 2 && (prefix[0] | 0x20) == L'n' && ((prefix[1] | 0x20) == L'r' || (prefix[1] | 0x20) == L'v');
    std::vector<KnownApp> renamed;
    if ((flags & 12) == 12) {
        renamed = discovery::knownAppSet(prefix);
        if (renamed.size() != 36 || renamed[0].executable != (nv ? alternate : general)[0].executable) std::abort();
        discovery::renameRows(renamed, discovery::fileNamePart(path), path);
    }
    const std::vector<KnownApp>& table = (flags & 12) == 12 ? renamed : nv ? alternate : general;
    const int found = discovery::findKnownApp(table, path);
    if (found < -1 || found >= static_cast<int>(table.size())) std::abort();

    std::vector<std::wstring> entries;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = text.find(L'|', start);
        entries.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (discovery::reorderByTable(table, entries).size() > table.size()) std::abort();
    return 0;
}
