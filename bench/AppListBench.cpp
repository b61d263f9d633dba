// The application list: the real library's exports, loaded from a private copy, against bare
// registry calls of the same work. HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE of this process are
// turned to private keys for the whole run, so the library and the bare calls see the same
// private trees and the Wine prefix is left alone.
#include "AppListClient.h"
#include "AppListText.h"
#include "BenchSupport.h"
#include "ReferenceDestinations.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace bench;

namespace {
using ListFn = LONG(WINAPI*)(wchar_t*, uint32_t, uint32_t*);
using VoidFn = LONG(WINAPI*)();

const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring appEntry(int index) {
    const std::wstring n = std::to_wstring(index);
    return testing_support::appEntryText(L"Program " + n, L"C:\\Programs\\app" + n + L".exe", L"JPG", false, L"JPG,BMP,TIF");
}

void setDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void createKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

using PrivateRoots = testing_support::PrivateRegistryRoots;

std::vector<double> batches(int count, int perBatch, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int b = 0; b < count; ++b) {
        const double start = nowMs();
        for (int i = 0; i < perBatch; ++i) work();
        samples.push_back((nowMs() - start) / perBatch);
    }
    return samples;
}

// ---- bare registry work -------------------------------------------------------------------

bool readDefault(HKEY key, std::wstring& text) {
    wchar_t buffer[1024];
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) return false;
    buffer[size / sizeof(wchar_t)] = L'\0';
    text = buffer;
    return true;
}

std::vector<std::wstring> subkeys(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

// Down from one key to its "command" keys, reading each one's text.
void walkCommands(HKEY parent, const std::wstring& name, std::vector<std::wstring>& texts) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (const std::wstring& child : subkeys(key)) {
        if (_wcsicmp(child.c_str(), L"command") == 0) {
            HKEY command = nullptr;
            if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &command) == ERROR_SUCCESS) {
                std::wstring text;
                if (readDefault(command, text)) texts.push_back(text);
                RegCloseKey(command);
            }
        } else {
            walkCommands(key, child, texts);
        }
    }
    RegCloseKey(key);
}

// Every command text below Applications\ and every registered path: the registry reads alone.
std::vector<std::wstring> bareEnumeration() {
    std::vector<std::wstring> texts;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Applications", 0, KEY_READ, &root) == ERROR_SUCCESS) {
        for (const std::wstring& name : subkeys(root)) walkCommands(root, name, texts);
        RegCloseKey(root);
    }
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPaths, 0, KEY_READ, &root) == ERROR_SUCCESS) {
        for (const std::wstring& name : subkeys(root)) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
            std::wstring text;
            if (readDefault(key, text)) texts.push_back(text);
            RegCloseKey(key);
        }
        RegCloseKey(root);
    }
    return texts;
}

// The path of a command text: quoted, or up to its first blank.
std::wstring programOf(const std::wstring& text) {
    if (!text.empty() && text[0] == L'"') return text.substr(1, text.find(L'"', 1) - 1);
    return text.substr(0, text.find(L' '));
}

const wchar_t kStoreKey[] = L"Software\\KelvaraInkjet\\App List Manager";

// A private copy of the real library and the two exports measured.
struct Library {
    HMODULE module = nullptr;
    ListFn list = nullptr;
    VoidFn create = nullptr;
};

Library loadCopy(const Folder& folder) {
    const std::string libraryPath = folder.file("keb4appmgr.dll");
    CopyFileA((ownFolder() + productPrefix() + "appmgr.dll").c_str(), libraryPath.c_str(), FALSE);
    Library library;
    library.module = LoadLibraryA(libraryPath.c_str());
    if (library.module == nullptr) return library;
    library.list = exportOf<ListFn>(library.module, "GetWideAppList");
    library.create = exportOf<VoidFn>(library.module, "CreateAppList");
    return library;
}

// ---- GetWideAppList of 100 entries ---------------------------------------------------------

// What a key object that may create its key builds each time: a descriptor granting Everyone.
void buildEveryoneDescriptor() {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid);
    const DWORD size = sizeof(ACL) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + GetLengthSid(sid);
    std::vector<BYTE> acl(size);
    InitializeAcl(reinterpret_cast<PACL>(acl.data()), size, ACL_REVISION);
    AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, CONTAINER_INHERIT_ACE, GENERIC_ALL, sid);
    SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
    FreeSid(sid);
}

// The list call and the bare registry work it is measured against, over one stored list.
class ListWork {
public:
    ListWork(ListFn list, const std::wstring& stored)
        : list_(list), raw_((stored.size() + 16) * sizeof(wchar_t)), kept_(stored.size() + 64) {
        list_(nullptr, 0, &needed_);
        buffer_.resize(needed_ + 16);
    }
    // True when the library hands out the stored list.
    bool listsTheStore() {
        return list_(buffer_.data(), static_cast<uint32_t>(buffer_.size()), &needed_) == 0 &&
               std::wstring(buffer_.data()).find(L"Program 100") != std::wstring::npos;
    }
    uint32_t needed() const { return needed_; }

    void library() { list_(buffer_.data(), static_cast<uint32_t>(buffer_.size()), &needed_); }
    void bareRead() {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_READ, &key);
        DWORD size = static_cast<DWORD>(raw_.size());
        RegQueryValueExW(key, L"AppList", nullptr, nullptr, raw_.data(), &size);
        RegCloseKey(key);
    }
    void bareSizedRead() {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_READ, &key);
        DWORD size = 0;
        RegQueryValueExW(key, L"AppList", nullptr, nullptr, nullptr, &size);
        std::vector<BYTE> data(size);
        RegQueryValueExW(key, L"AppList", nullptr, nullptr, data.data(), &size);
        RegCloseKey(key);
    }
    // The monitor's way: the size first, then the list.
    void client() {
        uint32_t size = 0;
        list_(nullptr, 0, &size);
        std::vector<wchar_t> into(size + 1);
        list_(into.data(), size, &size);
    }
    // The library's registry calls: open for change, size, read, close.
    void libraryCalls() {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, 0x1F, &key);
        DWORD size = 0, type = 0;
        RegQueryValueExW(key, L"AppList", nullptr, &type, nullptr, &size);
        data_.assign(size + sizeof(wchar_t), 0);
        RegQueryValueExW(key, L"AppList", nullptr, &type, data_.data(), &size);
        RegCloseKey(key);
    }
    // The list's text copied as a reader that builds the document in steps copies it.
    void documentCopies() {
        const wchar_t* chars = reinterpret_cast<const wchar_t*>(data_.data());
        std::wstring text(chars, data_.size() / sizeof(wchar_t) - 1);
        std::wstring document;
        document += L"<APPLIST>";
        document += text;
        document += L"</APPLIST>";
        document.insert(9, L"\r\n");
        std::copy(document.begin(), document.end(), buffer_.begin());
    }
    // One open for reading, one read into a buffer kept from the last call, already after the
    // document's opening tag, and the closing tag written behind it.
    void proposed() {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_QUERY_VALUE, &key);
        const size_t head = 11;
        std::wcsncpy(kept_.data(), L"<APPLIST>\r\n", head);
        DWORD size = static_cast<DWORD>((kept_.size() - head - 12) * sizeof(wchar_t));
        RegQueryValueExW(key, L"AppList", nullptr, nullptr, reinterpret_cast<BYTE*>(kept_.data() + head), &size);
        RegCloseKey(key);
        const size_t length = head + size / sizeof(wchar_t) - 1;
        std::wcsncpy(kept_.data() + length, L"</APPLIST>", 11);
        std::copy(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(length + 11), buffer_.begin());
    }

private:
    ListFn list_;
    uint32_t needed_ = 0;
    std::vector<wchar_t> buffer_;
    std::vector<BYTE> raw_;
    std::vector<wchar_t> kept_;
    std::vector<BYTE> data_;
};

struct ListSamples {
    std::vector<double> library, bare, bareSized, client, same, security, copies, proposed;
    // Page faults per call over the rounds after the first, this process's own.
    double libraryFaults = -1, bareFaults = -1, clientFaults = -1;
};

ListSamples measureList(ListWork& work, int rounds) {
    ListSamples s;
    const PageFaults faults = PageFaults::self();
    const auto batch = [](const std::function<void()>& step) { return batches(1, 20, step)[0]; };
    // Faults counted around each kind's batch; the first round warms up and is not counted.
    long long libraryFaults = 0, bareFaults = 0, clientFaults = 0;
    const auto counted = [&](long long& total, int round, const std::function<void()>& step) {
        const long long before = faults.count();
        const double ms = batch(step);
        const long long after = faults.count();
        if (round > 0 && before >= 0 && after >= before) total += after - before;
        return ms;
    };
    for (int round = 0; round < rounds; ++round) {
        s.library.push_back(counted(libraryFaults, round, [&] { work.library(); }));
        s.bare.push_back(counted(bareFaults, round, [&] { work.bareRead(); }));
        s.bareSized.push_back(batch([&] { work.bareSizedRead(); }));
        s.client.push_back(counted(clientFaults, round, [&] { work.client(); }));
        s.same.push_back(batch([&] { work.libraryCalls(); }));
        s.security.push_back(batch([&] {
            buildEveryoneDescriptor();
            work.libraryCalls();
        }));
        s.copies.push_back(batch([&] {
            buildEveryoneDescriptor();
            work.libraryCalls();
            work.documentCopies();
        }));
        s.proposed.push_back(batch([&] { work.proposed(); }));
    }
    if (faults.known() && rounds > 1) {
        const double calls = 20.0 * (rounds - 1);
        s.libraryFaults = libraryFaults / calls;
        s.bareFaults = bareFaults / calls;
        s.clientFaults = clientFaults / calls;
    }
    return s;
}

void reportList(const ListSamples& s) {
    line("GetWideAppList:                         " + describe(figuresOf(s.library)) + ", " + faultText(s.libraryFaults));
    line("bare open + one read + close:           " + describe(figuresOf(s.bare)) + ", " + faultText(s.bareFaults));
    line("bare open + size + read + close:        " + describe(figuresOf(s.bareSized)));
    line("size call + list call (the monitor's):  " + describe(figuresOf(s.client)) + ", " + faultText(s.clientFaults));
    goal("P4", figuresOf(s.library).median / figuresOf(s.bare).median, 1.2, "GetWideAppList / bare read of the value");
    faultGoal("P4", s.libraryFaults, s.bareFaults, 0.05, "GetWideAppList page faults a call");
    faultGoal("P4", s.clientFaults, s.bareFaults, 0.05, "size call + list call page faults a pair");
    line("where the time goes, rebuilt from bare calls:");
    line("  the library's registry calls (open for change, size, read, close): " + describe(figuresOf(s.same)));
    line("  + a descriptor granting Everyone, built each time:               " + describe(figuresOf(s.security)));
    line("  + the text copied into a document step by step:                  " + describe(figuresOf(s.copies)));
    line("  one open for reading, one read in place, one copy out:           " + describe(figuresOf(s.proposed)) +
         " = " + number(figuresOf(s.proposed).median / figuresOf(s.bare).median, 2) + " x bare");
}

// The stored list in the private machine root, which is then in use.
void storeInPrivateRoot(PrivateRoots& full, const std::wstring& stored) {
    setDefault(HKEY_CURRENT_USER, full.machine(kStoreKey), L"");
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, full.machine(kStoreKey).c_str(), 0, KEY_ALL_ACCESS, &key);
    RegSetValueExW(key, L"AppList", 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                   static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    full.use(KEY_ALL_ACCESS);
}

// Stores 100 entries in the private machine root; false when the library doesn't hand them out.
bool benchList(const Library& library, PrivateRoots& full, int rounds) {
    heading("P4 GetWideAppList of 100 entries, " + std::to_string(rounds) + " batches of 20 calls");
    std::wstring stored;
    for (int i = 1; i <= 100; ++i) stored += appEntry(i);
    storeInPrivateRoot(full, stored);
    ListWork work(library.list, stored);
    if (!work.listsTheStore()) {
        full.release();
        line("FAILED: the library did not hand out the stored list");
        return false;
    }
    line("document " + std::to_string(work.needed()) + " characters (" + std::to_string(stored.size() * 2 + 2) +
         " bytes stored)");
    const ListSamples samples = measureList(work, rounds);
    full.release();
    reportList(samples);
    return true;
}

// ---- discovery over 100 Applications\ and 200 App Paths keys -------------------------------

// The programs' files in the run's folder and their keys in the full roots; the empty roots get
// the two parent keys only.
void registerPrograms(const Folder& folder, const PrivateRoots& full, const PrivateRoots& empty) {
    const std::string programs = folder.file("programs");
    CreateDirectoryA(programs.c_str(), nullptr);
    auto program = [&](const std::string& name) {
        const std::string file = programs + "\\" + name;
        writeFile(file, "MZ");
        return widen(file);
    };
    for (int i = 0; i < 100; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), i == 0 ? "MSPAINT.EXE" : "app%03d.exe", i);
        const std::wstring exe = program(name);
        setDefault(HKEY_CURRENT_USER, full.classes(L"Applications\\" + widen(name) + L"\\shell\\open\\command"),
                   L"\"" + exe + L"\" \"%1\"");
    }
    for (int i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), i == 0 ? "pixedit.EXE" : "tool%03d.exe", i);
        setDefault(HKEY_CURRENT_USER, full.machine(std::wstring(kAppPaths) + L"\\" + widen(name)), program(name));
    }
    createKey(HKEY_CURRENT_USER, empty.classes(L"Applications"));
    createKey(HKEY_CURRENT_USER, empty.machine(kAppPaths));
}

struct DiscoverySamples {
    std::vector<double> withKeys, withoutKeys, bare, bareFiles;
    size_t texts = 0;
    LONG status = 0;
    double createFaults = -1, bareFaults = -1;  // a call, over the rounds after the first
};

DiscoverySamples measureDiscovery(const Library& library, PrivateRoots& full, PrivateRoots& empty, int rounds) {
    DiscoverySamples s;
    const PageFaults faults = PageFaults::self();
    long long createFaults = 0, bareFaults = 0;
    const auto counted = [&](long long& total, int round, const std::function<void()>& step) {
        const long long before = faults.count();
        const double ms = batches(1, 1, step)[0];
        const long long after = faults.count();
        if (round > 0 && before >= 0 && after >= before) total += after - before;
        return ms;
    };
    for (int round = 0; round < rounds; ++round) {
        full.use(KEY_ALL_ACCESS);
        s.withKeys.push_back(counted(createFaults, round, [&] { s.status = library.create(); }));
        s.bare.push_back(counted(bareFaults, round, [&] { s.texts = bareEnumeration().size(); }));
        // The registry reads and the check every found program gets: does its file exist.
        s.bareFiles.push_back(batches(1, 1, [&] {
            for (const std::wstring& text : bareEnumeration()) PathFileExistsW(programOf(text).c_str());
        })[0]);
        full.release();
        empty.use(true);
        s.withoutKeys.push_back(batches(1, 1, [&] { library.create(); })[0]);
        empty.use(false);
    }
    if (faults.known() && rounds > 1) {
        s.createFaults = static_cast<double>(createFaults) / (rounds - 1);
        s.bareFaults = static_cast<double>(bareFaults) / (rounds - 1);
    }
    return s;
}

// The list discovery stored in the full roots.
std::wstring storedList(PrivateRoots& full) {
    full.use(KEY_ALL_ACCESS);
    HKEY storeRoot = nullptr;
    std::wstring found;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_READ, &storeRoot) == 0) {
        std::vector<wchar_t> text(1 << 16);
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t) - 2);
        if (RegQueryValueExW(storeRoot, L"AppList", nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) == 0) {
            found = text.data();
        }
        RegCloseKey(storeRoot);
    }
    full.release();
    return found;
}

void reportDiscovery(const DiscoverySamples& s, const std::wstring& found) {
    line("CreateAppList status " + std::to_string(s.status) + "; " + std::to_string(s.texts) +
         " commands and paths read; " +
         (found.find(L"MSPAINT.EXE") != std::wstring::npos && found.find(L"pixedit.EXE") != std::wstring::npos
              ? "the two known programs among them stored"
              : "the known programs were NOT stored"));
    const Figures a = figuresOf(s.withKeys), b = figuresOf(s.withoutKeys), c = figuresOf(s.bare),
                  d = figuresOf(s.bareFiles);
    line("CreateAppList with the 300 keys:        " + describe(a) + ", " + faultText(s.createFaults));
    line("CreateAppList with both keys empty:     " + describe(b) + " (file associations, the store)");
    line("the keys' part (difference of medians): " + number(a.median - b.median) + " ms");
    line("bare enumeration of the same keys:      " + describe(c) + ", " + faultText(s.bareFaults));
    line("bare enumeration + file checks:         " + describe(d));
    goal("P4", (a.median - b.median) / c.median, 3.0, "discovery over the keys / bare enumeration");
    // Discovery builds its list anew each time: some faults are its work, not a steady state.
    line("page faults a discovery: " + faultText(s.createFaults) + " against " + faultText(s.bareFaults) +
         " for the bare enumeration (printed, not judged: discovery is occasional work)");
    line("(whole CreateAppList / bare enumeration: " + number(a.median / c.median, 2) +
         "; the keys' part / bare enumeration with the file checks: " + number((a.median - b.median) / d.median, 2) + ")");
}

void benchDiscovery(const Library& library, const Folder& folder, PrivateRoots& full, PrivateRoots& empty, int rounds) {
    const int discoveryRounds = rounds / 2 + 1;
    heading("P4 discovery (CreateAppList) over 100 Applications\\ and 200 App Paths keys, " +
            std::to_string(discoveryRounds) + " rounds");
    registerPrograms(folder, full, empty);
    // Discovery's probe files go to TEMP: a folder of this run.
    SetEnvironmentVariableA("TEMP", folder.path().c_str());
    const DiscoverySamples samples = measureDiscovery(library, full, empty, discoveryRounds);
    reportDiscovery(samples, storedList(full));
}

// ---- the monitor's reading of a very large list ---------------------------------------------

// An 18 MB list of 40 000 entries (in short form a tenth of it): the old reading, which searched
// from the start and erased at the front for every entry, against the linear one; and the
// library's export of the same list, which the monitor's client refuses over its limit.
void benchLargeList(const Library& library, PrivateRoots& full, bool quick) {
    const int entries = quick ? 4000 : 40000;
    std::wstring stored;
    for (int i = 0; i < entries; ++i) {
        const std::wstring n = std::to_wstring(i);
        stored += testing_support::appEntryText(L"Program " + n, L"C:\\Apps\\app" + n + L".exe", L"JPG", false, L"JPG");
    }
    const std::wstring document = L"<APPLIST>\r\n" + stored + L"</APPLIST>";
    heading("the monitor's reading of a list of " + std::to_string(entries) + " entries, " +
            number(document.size() * 2.0 / 1e6, 1) + " MB");
    const FixedDestinations fixed{L"E-mail", L"Fax", L"File"};
    DestinationTable linear, quadratic;
    std::optional<std::wstring> paint;
    const double linearMs = batches(1, 1, [&] { fillDestinations(linear, document, fixed, true, true, paint); })[0];
    const double quadraticMs =
        batches(1, 1, [&] { reference::quadraticFill(quadratic, document, fixed, true, true, paint); })[0];
    line("before (search from the start, erase at the front): " + number(quadraticMs, 1) + " ms, " +
         std::to_string(quadratic.size()) + " destinations");
    line("after (one linear pass):                            " + number(linearMs, 1) + " ms, " +
         std::to_string(linear.size()) + " destinations (" + (reference::readsAlike(document) ? "the same" : "NOT the same") +
         " records)");

    storeInPrivateRoot(full, stored);
    uint32_t needed = 0;
    const double sizeMs = batches(1, 1, [&] { library.list(nullptr, 0, &needed); })[0];
    std::vector<wchar_t> buffer(needed);
    const double listMs = batches(1, 1, [&] { library.list(buffer.data(), needed, &needed); })[0];
    full.release();
    line("GetWideAppList, size call: " + number(sizeMs, 1) + " ms (" + std::to_string(needed) +
         " characters needed); list call: " + number(listMs, 1) + " ms");
    line(std::string("the monitor's client ") +
         (needed > kMaxListCharacters ? "refuses it after the size call" : "reads it whole") + " (limit " +
         std::to_string(kMaxListCharacters) + " characters)");
}
}  // namespace

int main(int argc, char** argv) {
    const bool quick = shortForm(argc, argv);
    const int rounds = quick ? 5 : 60;
    Folder folder;
    PrivateRoots full, empty;
    const Library library = loadCopy(folder);
    if (library.module == nullptr) {
        line("FAILED: the library did not load");
        return 1;
    }
    if (!benchList(library, full, rounds)) return 1;
    benchDiscovery(library, folder, full, empty, rounds);
    benchLargeList(library, full, quick);
    FreeLibrary(library.module);
    return 0;
}
