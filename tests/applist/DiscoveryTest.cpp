// Discovery on Wine's registry, file associations and version information, with programs
// built for the tests and registered under unique names. Discovery sees the whole machine, so
// the checks look at the tests' own programs only. Every discovery runs in a copy of the library
// under a prefix of its own, so that its probe files meet no other test's.
#include "AppDiscoverer.h"
#include "AppEntry.h"
#include "Exception.h"
#include "LibraryModule.h"

#include "ListTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>

using namespace testing_support;

namespace {

std::atomic<unsigned> g_counter{0};

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

// A name no other process uses, without "-" (a registered path is cut there).
std::wstring uniqueName() {
    return L"kvabdisc" + std::to_wstring(GetCurrentProcessId()) + L"n" + std::to_wstring(++g_counter);
}

// A copy of the built library under `fileName`, loaded and made the library's module for the
// code linked into the test; the previous module comes back afterwards.
class LibraryCopy {
public:
    explicit LibraryCopy(const std::wstring& fileName) : previous_(libraryInstance()) {
        const std::wstring path = widen(folder_.file("")) + fileName;
        const std::wstring source = widen(ownFolder()) + L"kvabappmgr.dll";
        EXPECT_TRUE(CopyFileW(source.c_str(), path.c_str(), FALSE)) << GetLastError();
        module_ = LoadLibraryW(path.c_str());
        EXPECT_NE(nullptr, module_) << GetLastError();
        setLibraryInstance(module_);
    }
    ~LibraryCopy() {
        setLibraryInstance(previous_);
        if (module_ != nullptr) FreeLibrary(module_);
    }

private:
    TempFolder folder_;
    HINSTANCE previous_;
    HMODULE module_ = nullptr;
};

void setValue(HKEY root, const std::wstring& path, const std::wstring& value, DWORD type = REG_SZ) {
    writeString(root, path, nullptr, value, type);
}

// Creates a key without values; false when the system refuses the name.
bool createKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Keys created for one test below HKCR, HKLM or a private key; their trees are deleted at the
// end, denied keys opened up again first.
class KeyCleanup {
public:
    KeyCleanup() = default;
    ~KeyCleanup() {
        for (auto it = denied_.rbegin(); it != denied_.rend(); ++it) setKeyDacl(it->first, it->second, L"D:(A;;KA;;;WD)");
        for (const auto& tree : trees_) deleteKeyTree(tree.first, tree.second);
    }
    KeyCleanup(const KeyCleanup&) = delete;
    KeyCleanup& operator=(const KeyCleanup&) = delete;

    void tree(HKEY root, const std::wstring& path) { trees_.emplace_back(root, path); }
    void deny(HKEY root, const std::wstring& path) {
        ASSERT_TRUE(createKey(root, path));
        ASSERT_TRUE(setKeyDacl(root, path, L"D:(D;;KA;;;WD)"));
        denied_.emplace_back(root, path);
    }

private:
    std::vector<std::pair<HKEY, std::wstring>> trees_;
    std::vector<std::pair<HKEY, std::wstring>> denied_;
};

// The discovered entries whose path lies in `folder`, in discovery order.
std::vector<std::wstring> entriesIn(const std::vector<std::wstring>& entries, const std::wstring& folder) {
    std::vector<std::wstring> mine;
    const std::wstring prefix = lower(folder + L"\\");
    for (const std::wstring& entry : entries) {
        if (lower(entryValue(entry, L"PATH")).compare(0, prefix.size(), prefix) == 0) mine.push_back(entry);
    }
    return mine;
}

std::vector<std::wstring> pathsOf(const std::vector<std::wstring>& entries) {
    std::vector<std::wstring> paths;
    for (const std::wstring& entry : entries) paths.push_back(lower(entryValue(entry, L"PATH")));
    return paths;
}

bool listsPath(const std::vector<std::wstring>& entries, const std::wstring& path) {
    const std::vector<std::wstring> paths = pathsOf(entries);
    return std::find(paths.begin(), paths.end(), lower(path)) != paths.end();
}

std::string narrow(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

std::string describe(const std::vector<std::wstring>& entries) {
    std::string text;
    for (const std::wstring& entry : entries) {
        text += narrow(entryValue(entry, L"FRIENDLY_NAME")) + " = " + narrow(entryValue(entry, L"PATH")) + "\n";
    }
    return text;
}

}  // namespace

TEST(Discovery, TableSetAndNamesFollowTheLibraryFileName) {
    {
        LibraryCopy library(L"kvdtappmgr.dll");
        AppDiscoverer finder;
        const std::vector<KnownApp>& table = finder.knownApps();
        ASSERT_EQ(36u, table.size());
        EXPECT_EQ(L"PrestoPM.EXE", table[0].executable);
        // Localised by the library's texts; ids the library lacks keep the row's own name.
        EXPECT_EQ(L"KVR 相片編輯", table[2].friendlyName);
        EXPECT_EQ(L"KVR 相片中心", table[3].friendlyName);
        EXPECT_EQ(L"Kodak Imaging", table[10].friendlyName);
        EXPECT_EQ(L"KVR 文件分送器", table[11].friendlyName);
        EXPECT_EQ(L"小畫家", table[13].friendlyName);
        EXPECT_EQ(L"BMP", table[13].defaultType);
        EXPECT_EQ(L"記事本", table[22].friendlyName);
        EXPECT_EQ(L"Paintshop Pro", table[23].friendlyName);
        EXPECT_EQ(L"Wordpad", table[25].friendlyName);
        EXPECT_EQ(L"JPG,TIF,PCX,PNG,BMP,CMP", table[34].supportedTypes);
        EXPECT_EQ(L"HWP.EXE", table[35].executable);
    }
    for (const wchar_t* name : {L"nvdtappmgr.dll", L"NRDTappmgr.dll"}) {
        LibraryCopy library(name);
        AppDiscoverer finder;
        const std::vector<KnownApp>& table = finder.knownApps();
        ASSERT_EQ(36u, table.size()) << narrow(name);
        EXPECT_EQ(L"WindowsPhotoGallery.exe", table[0].executable);
        EXPECT_EQ(L"JPG, BMP, JFIF, TIFF, PNG", table[0].supportedTypes);
        EXPECT_EQ(L"小畫家", table[2].friendlyName);
        EXPECT_EQ(L"JPG", table[2].defaultType);
        EXPECT_EQ(L"記事本", table[19].friendlyName);
        EXPECT_EQ(L"RTF,TXT,DOC,XLS", table[21].supportedTypes);
        EXPECT_EQ(L"JPG", table[21].defaultType);
        // "psp.exe" is not the exact executable of text 132.
        EXPECT_EQ(L"Paintshop Pro", table[33].friendlyName);
        EXPECT_EQ(L"pspa.exe", table[35].executable);
    }
    {
        // "appmgr.dll" is looked for in its exact case: without it the general set is used.
        LibraryCopy library(L"NVDTAPPMGR.DLL");
        AppDiscoverer finder;
        EXPECT_EQ(L"PrestoPM.EXE", finder.knownApps()[0].executable);
    }
    {
        // The test program itself as the module: general set, no texts to localise with.
        LibraryCopy library(L"kvdtappmgr.dll");
        setLibraryInstance(nullptr);
        AppDiscoverer finder;
        EXPECT_EQ(L"PrestoPM.EXE", finder.knownApps()[0].executable);
        EXPECT_EQ(L"MS Paint", finder.knownApps()[13].friendlyName);
        EXPECT_EQ(L"Kel Photo Edit", finder.knownApps()[2].friendlyName);
    }
    {
        LibraryCopy library(L"kvdtappmgr.dll");
        setLibraryInstance(reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(0x10)));
        try {
            AppDiscoverer finder;
            ADD_FAILURE() << "a module without a path still built the table";
        } catch (const Win32Exception& failure) {
            EXPECT_EQ(L"GetModuleFileName failed", failure.getMessage());
            EXPECT_EQ(0, failure.getCode());
            EXPECT_EQ(L".\\AppDiscoverer.cpp", failure.file());
        }
    }
}

TEST(Discovery, TableLookupsAndReorderWorkOnTextAlone) {
    EXPECT_EQ(L"kvab", discovery::tablePrefix(L"kvabappmgr.dll"));
    EXPECT_EQ(L"NVAB", discovery::tablePrefix(L"NVABappmgr.dll"));
    EXPECT_EQ(L"ab", discovery::tablePrefix(L"abappmgr.dll"));
    EXPECT_EQ(L"", discovery::tablePrefix(L"appmgr.dll"));
    EXPECT_EQ(L"", discovery::tablePrefix(L"kvabAppMgr.dll"));
    EXPECT_EQ(L"", discovery::tablePrefix(L""));
    EXPECT_EQ(L"xyzw", discovery::tablePrefix(L"xxxyzwappmgr.dll"));

    const std::vector<KnownApp> general = discovery::knownAppSet(L"kvab");
    const std::vector<KnownApp> alternate = discovery::knownAppSet(L"nVxx");
    EXPECT_EQ(L"WindowsPhotoGallery.exe", alternate[0].executable);
    EXPECT_EQ(L"WindowsPhotoGallery.exe", discovery::knownAppSet(L"NR")[0].executable);
    for (const wchar_t* prefix : {L"", L"n", L"nx", L"vn", L"kvnv"}) {
        EXPECT_EQ(L"PrestoPM.EXE", discovery::knownAppSet(prefix)[0].executable) << narrow(prefix);
    }

    // Renaming matches the executable exactly: "psp.EXE" is a general row, the other set has "psp.exe".
    std::vector<KnownApp> renamed = general;
    discovery::renameRows(renamed, L"psp.EXE", L"X");
    EXPECT_EQ(L"X", renamed[23].friendlyName);
    EXPECT_EQ(L"PaintshopPro", renamed[24].friendlyName);
    std::vector<KnownApp> untouched = alternate;
    discovery::renameRows(untouched, L"psp.EXE", L"X");
    EXPECT_EQ(L"Paintshop Pro", untouched[33].friendlyName);

    // The file name after the last backslash, compared ignoring case.
    EXPECT_EQ(2, discovery::findKnownApp(general, L"C:\\Tools\\PIXEDIT.exe"));
    EXPECT_EQ(2, discovery::findKnownApp(general, L"pixedit.exe"));
    EXPECT_EQ(-1, discovery::findKnownApp(general, L"C:\\pixedit.exe\\viewer.exe"));
    EXPECT_EQ(-1, discovery::findKnownApp(general, L"C:\\Tools\\pixedit.exe.bak"));
    EXPECT_EQ(-1, discovery::findKnownApp(general, L"C:\\Tools\\ pixedit.exe"));
    EXPECT_EQ(-1, discovery::findKnownApp(general, L""));
    EXPECT_EQ(-1, discovery::findKnownApp(general, L"C:\\Tools\\"));
    // The same program has another row in the other set.
    EXPECT_EQ(2, discovery::findKnownApp(alternate, L"C:\\Windows\\mspaint.exe"));
    EXPECT_EQ(-1, discovery::findKnownApp(alternate, L"C:\\Tools\\pixedit.exe"));
    EXPECT_EQ(1, discovery::findKnownApp(alternate, L"C:\\x\\photoshop album starter edition.EXE"));

    // Reorder: table order, one entry per row, the first matching entry each time.
    const std::wstring paint = makeAppEntry(L"P", L"C:\\A\\MSPaint.exe", L"", L"");
    const std::wstring paint2 = makeAppEntry(L"P2", L"C:\\B\\mspaint.exe", L"", L"");
    const std::wstring unknown = makeAppEntry(L"U", L"C:\\A\\viewer.exe", L"", L"");
    const std::wstring edit = makeAppEntry(L"E", L"C:\\A\\PIXEDIT.EXE", L"", L"");
    // Its folder name holds another row's executable: taken for both rows.
    const std::wstring twice = makeAppEntry(L"T", L"C:\\notepad.exe.d\\wordpad.exe", L"", L"");
    const std::vector<std::wstring> ordered =
        discovery::reorderByTable(general, {twice, paint, unknown, paint2, edit});
    EXPECT_EQ((std::vector<std::wstring>{edit, paint, twice, twice}), ordered);
    EXPECT_TRUE(discovery::reorderByTable(general, {}).empty());
    EXPECT_TRUE(discovery::reorderByTable(general, {unknown}).empty());
}

TEST(Discovery, CleanCommandRulesWithReplacedServices) {
    std::vector<std::wstring> expanded, lengthened;
    const discovery::CommandServices services{
        [&](const std::wstring& text) {
            expanded.push_back(text);
            std::wstring out = text;
            const std::map<std::wstring, std::wstring> vars{{L"%DIR%", L"C:\\Apps"}, {L"%DASH%", L"C:\\my-apps"}};
            for (const auto& var : vars) {
                for (size_t at; (at = out.find(var.first)) != std::wstring::npos;) out.replace(at, var.first.size(), var.second);
            }
            return out;
        },
        [&](const std::wstring& path, std::wstring& longPath) {
            lengthened.push_back(path);
            if (path != L"C:\\PROGRA~1\\app.exe") return false;
            longPath = L"C:\\Program Files\\app.exe";
            return true;
        }};
    auto clean = [&](const std::wstring& text) { return discovery::cleanCommand(text, services); };

    EXPECT_EQ(L"C:\\Program Files\\App\\app.exe", clean(L"\"C:\\Program Files\\App\\app.exe\" /s /t"));
    EXPECT_EQ(L"C:\\Apps\\app.exe", clean(L"C:\\Apps\\app.exe -n -x"));
    EXPECT_EQ(L"C:\\Apps\\app.exe", clean(L"C:\\Apps\\app.exe"));
    EXPECT_TRUE(expanded.empty()) << "expanded without a %";
    EXPECT_EQ(L"C:\\Apps\\app.exe", clean(L"\"C:\\Apps\\app.exe\" \"%1\""));
    EXPECT_EQ(L"C:\\Apps\\app.exe", clean(L"\"%DIR%\\app.exe\" %1"));
    EXPECT_EQ(L"C:\\Apps\\app.exe", clean(L"%DIR%\\app.exe /dde"));
    // An unknown reference stays and is cut; the expanded text is cut at its "-" too.
    EXPECT_EQ(L"C:\\Apps\\app.ex", clean(L"C:\\Apps\\app.exe%UNSET%"));
    EXPECT_EQ(L"", clean(L"%UNSET%\\app.exe"));
    EXPECT_EQ(L"C:\\m", clean(L"%DASH%\\app.exe"));
    EXPECT_EQ(L"", clean(L"-embedding"));
    EXPECT_EQ(L"C:\\Apps\\app.exe/x", clean(L"C:\\Apps\\app.exe/x"));
    EXPECT_EQ(L"", clean(L" /x"));
    EXPECT_EQ(L"", clean(L""));
    EXPECT_EQ(L"", clean(L"\"\"\""));
    EXPECT_TRUE(lengthened.empty()) << "asked for a long form without a ~";

    EXPECT_EQ(L"C:\\Program Files\\app.exe", clean(L"\"C:\\PROGRA~1\\app.exe\" /open"));
    EXPECT_EQ(L"C:\\OTHER~1\\app.exe", clean(L"C:\\OTHER~1\\app.exe"));
    lengthened.clear();
    EXPECT_EQ(L"~app.exe", clean(L"~app.exe"));
    EXPECT_TRUE(lengthened.empty()) << "a ~ in first position asked for a long form";

    // Any length, and no services at all.
    const std::wstring longPath = L"C:\\" + std::wstring(1000, L'a') + L"\\app.exe";
    EXPECT_EQ(longPath, clean(L"\"" + longPath + L"\" /x " + std::wstring(5000, L'%')));
    const discovery::CommandServices none{};
    EXPECT_EQ(L"C:\\Apps\\app.ex", discovery::cleanCommand(L"C:\\Apps\\app.exe%1", none));
    EXPECT_EQ(L"C:\\A~1\\app.exe", discovery::cleanCommand(L"C:\\A~1\\app.exe", none));
}

TEST(Discovery, CleanCommandAndUsableExeOnTheSystem) {
    ProgramFolder folder;
    const std::wstring program = folder.add(L"discoveryplain", L"Some Long Program Name.exe");
    const std::wstring upper = folder.add(L"discoveryplain", L"UPPER.EXE");
    const std::wstring text = folder.file(L"notes.txt");
    writeFile(narrow(text), "x");
    const std::wstring exeFolder = folder.file(L"tools.exe");
    ASSERT_TRUE(CreateDirectoryW(exeFolder.c_str(), nullptr));

    const std::wstring variable = uniqueName();
    ASSERT_TRUE(SetEnvironmentVariableW(variable.c_str(), folder.path().c_str()));
    EXPECT_EQ(program, cleanCommand(L"\"%" + variable + L"%\\Some Long Program Name.exe\" \"%1\""));
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    EXPECT_EQ(L"", cleanCommand(L"%" + variable + L"%\\Some Long Program Name.exe"));

    wchar_t shortForm[1024] = {};
    const DWORD shortLength = GetShortPathNameW(program.c_str(), shortForm, 1024);
    ASSERT_GT(shortLength, 0u) << GetLastError();
    if (std::wstring(shortForm).find(L'~', 1) == std::wstring::npos) {
        ADD_FAILURE() << "no short form with a ~ for " << narrow(program);
    } else {
        EXPECT_EQ(lower(program), lower(cleanCommand(std::wstring(L"\"") + shortForm + L"\" /p")));
    }
    // A ~ path that does not exist stays as it is.
    EXPECT_EQ(folder.file(L"NOSUCH~1.EXE"), cleanCommand(folder.file(L"NOSUCH~1.EXE")));

    EXPECT_TRUE(isUsableExe(program));
    EXPECT_TRUE(isUsableExe(lower(program)));
    EXPECT_TRUE(isUsableExe(upper));
    EXPECT_FALSE(isUsableExe(text));
    // Only ".EXE" somewhere in the path and existence count, so an existing folder passes.
    EXPECT_TRUE(isUsableExe(exeFolder));
    EXPECT_FALSE(isUsableExe(folder.file(L"missing.exe")));
    EXPECT_FALSE(isUsableExe(folder.file(L"Some Long Program Name.ex")));
    EXPECT_FALSE(isUsableExe(L""));
    EXPECT_FALSE(isUsableExe(folder.path() + L"\\" + std::wstring(1000, L'x') + L".exe"));
    EXPECT_FALSE(isUsableExe(std::wstring(L"C:\\windows\\notepad.exe\0junk", 27) + L".exe"));
}

TEST(Discovery, EntriesCarryTheRowOrTheFileDescription) {
    LibraryCopy library(L"kvdtappmgr.dll");
    ProgramFolder folder;
    const std::wstring viewer = folder.add(L"discoveryviewer", L"viewer.exe");
    const std::wstring blank = folder.add(L"discoveryblank", L"blank.exe");
    const std::wstring plain = folder.add(L"discoveryplain", L"plain.exe");
    AppDiscoverer finder;

    EXPECT_EQ(makeAppEntry(L"KVR 相片編輯", viewer, L"JPG", L"JPG,TIF,PCX,PNG,BMP"), finder.buildEntry(2, viewer));
    EXPECT_EQ(makeAppEntry(L"MS Excel", plain, L"XLS", L"XLS,TXT,XLSX"), finder.buildEntry(12, plain));
    // The description of the first listed translation, not of the first block.
    EXPECT_EQ(makeAppEntry(L"範例影像檢視器", viewer, L"", L""), finder.buildEntry(-1, viewer));
    EXPECT_EQ(L"範例影像檢視器", fileDescription(viewer));
    EXPECT_EQ(makeAppEntry(L"blank.exe", blank, L"", L""), finder.buildEntry(-1, blank));
    EXPECT_EQ(makeAppEntry(L"plain.exe", plain, L"", L""), finder.buildEntry(-1, plain));
    EXPECT_EQ(makeAppEntry(L"gone.exe", folder.file(L"gone.exe"), L"", L""), finder.buildEntry(-1, folder.file(L"gone.exe")));
    EXPECT_EQ(makeAppEntry(L"", L"C:\\", L"", L""), finder.buildEntry(-1, L"C:\\"));
    EXPECT_EQ(L"", fileDescription(plain));
    EXPECT_EQ(L"", fileDescription(L""));

    // The list refuses a second entry of the same name only; case counts.
    EXPECT_EQ(0u, finder.addDiscovered(finder.buildEntry(-1, viewer)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DUP_NAME), finder.addDiscovered(makeAppEntry(L"範例影像檢視器", plain, L"", L"")));
    EXPECT_EQ(0u, finder.addDiscovered(makeAppEntry(L"PLAIN.exe", plain, L"", L"")));
    EXPECT_EQ(0u, finder.addDiscovered(makeAppEntry(L"plain.exe", plain, L"", L"")));
    EXPECT_EQ(3u, finder.discovered().size());
}

TEST(Discovery, ADescriptionCraftedToBreakOutOfItsEntryStaysItsName) {
    LibraryCopy library(L"kvdtappmgr.dll");
    ProgramFolder folder;
    const std::wstring crafted = folder.add(L"discoverycrafted", L"crafted.exe");
    AppDiscoverer finder;
    const std::wstring entry = finder.buildEntry(-1, crafted);
    EXPECT_EQ(makeAppEntry(L"Viewer/FRIENDLY_NAMEPATHC:\\evil.exe/PATH", crafted, L"", L""), entry);
    EXPECT_EQ(crafted, entryValue(entry, L"PATH")) << "the program's own path, not the description's";
}

// Associations, "Applications\" commands and registered paths on the machine's registry, through
// a copy of the library whose prefix selects the other set of rows.
TEST(Discovery, RegisteredProgramsAreFoundThroughEverySource) {
    LibraryCopy library(L"nvdtappmgr.dll");
    ProgramFolder folder;
    KeyCleanup keys;
    const std::wstring name = uniqueName();

    // A probe type nothing handles yet, so that our registration is the one found; and its handler.
    std::wstring type;
    for (const wchar_t* candidate : {L".lss", L".jtf", L".exf"}) {
        HKEY existing = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, candidate, 0, KEY_READ, &existing) != ERROR_SUCCESS) {
            type = candidate;
            break;
        }
        RegCloseKey(existing);
    }
    const std::wstring photoEd = folder.add(L"discoveryplain", L"photoed.exe");
    if (!type.empty()) {
        keys.tree(HKEY_CLASSES_ROOT, type);
        keys.tree(HKEY_CLASSES_ROOT, name + L"file");
        setValue(HKEY_CLASSES_ROOT, type, name + L"file");
        setValue(HKEY_CLASSES_ROOT, name + L"file\\shell\\open\\command", L"\"" + photoEd + L"\" \"%1\"");
    }

    // Below "Applications\": the first command found ends the search among its siblings only.
    const std::wstring apps = L"Applications\\" + name;
    for (const wchar_t* app : {L"a.exe", L"b.exe", L"c.exe"}) keys.tree(HKEY_CLASSES_ROOT, apps + app);
    const std::wstring pspx = folder.add(L"discoveryplain", L"Paint Shop Pro X.exe");
    const std::wstring printer = folder.add(L"discoveryblank", L"Printer.exe");
    const std::wstring later = folder.add(L"discoveryplain", L"Later.exe");
    setValue(HKEY_CLASSES_ROOT, apps + L"a.exe\\shell\\open\\command", L"\"" + pspx + L"\" \"%1\"");
    setValue(HKEY_CLASSES_ROOT, apps + L"a.exe\\shell\\open\\ddeexec\\command", folder.add(L"discoveryblank", L"Sibling.exe"));
    setValue(HKEY_CLASSES_ROOT, apps + L"a.exe\\shell\\print\\command", L"\"" + printer + L"\" /p \"%1\"");
    setValue(HKEY_CLASSES_ROOT, apps + L"b.exe\\shell\\open\\command", folder.file(L"missing.exe") + L" %1");
    setValue(HKEY_CLASSES_ROOT, apps + L"b.exe\\shell\\open\\zlater\\command", later);
    // A command key without its value ends the search of its parent.
    ASSERT_TRUE(createKey(HKEY_CLASSES_ROOT, apps + L"c.exe\\shell\\open\\command"));
    setValue(HKEY_CLASSES_ROOT, apps + L"c.exe\\shell\\open\\zafter\\command", folder.add(L"discoveryplain", L"After.exe"));

    // Registered paths: quotes and switches, a shared description, a variable, odd values.
    const std::wstring paths = kAppPathsKey + name;
    for (wchar_t c = L'a'; c <= L'h'; ++c) keys.tree(HKEY_LOCAL_MACHINE, paths + c + L".exe");
    const std::wstring describedOne = folder.add(L"discoveryviewer", L"Described One.exe");
    const std::wstring gallery = folder.add(L"discoveryblank", L"WindowsPhotoGallery.exe");
    const std::wstring longValue = folder.add(L"discoveryplain", L"Long.exe");
    const std::wstring shortNamed = folder.add(L"discoveryplain", L"Short Named Program.exe");
    const std::wstring variable = uniqueName();
    SetEnvironmentVariableW(variable.c_str(), folder.path().c_str());
    setValue(HKEY_LOCAL_MACHINE, paths + L"a.exe", L"\"" + describedOne + L"\" /q");
    setValue(HKEY_LOCAL_MACHINE, paths + L"b.exe", folder.add(L"discoveryviewer", L"Described Two.exe"));
    setValue(HKEY_LOCAL_MACHINE, paths + L"c.exe", L"%" + variable + L"%\\WindowsPhotoGallery.exe", REG_EXPAND_SZ);
    setValue(HKEY_LOCAL_MACHINE, paths + L"d.exe", longValue + L" /" + std::wstring(40000, L'x'));
    const DWORD number = 1;
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, (paths + L"e.exe").c_str(), nullptr, REG_DWORD, &number,
                                             sizeof(number)));
    ASSERT_TRUE(createKey(HKEY_LOCAL_MACHINE, paths + L"f.exe"));
    setValue(HKEY_LOCAL_MACHINE, paths + L"g.exe", folder.file(std::wstring(1000, L'q') + L".exe"));
    wchar_t shortForm[1024] = {};
    ASSERT_GT(GetShortPathNameW(shortNamed.c_str(), shortForm, 1024), 0u);
    setValue(HKEY_LOCAL_MACHINE, paths + L"h.exe", shortForm);

    // Every source's programs in discovery order, with the names and types each one gets.
    AppDiscoverer finder;
    ASSERT_EQ(0u, finder.discover(false)) << describe(finder.discovered());
    const std::vector<std::wstring> everyOne = entriesIn(finder.discovered(), folder.path());
    std::vector<std::wstring> expected;
    if (!type.empty()) expected.push_back(lower(photoEd));
    for (const std::wstring& path : {pspx, printer, later, describedOne, gallery, longValue, shortNamed}) {
        expected.push_back(lower(path));
    }
    EXPECT_EQ(expected, pathsOf(everyOne)) << describe(everyOne);
    const std::map<std::wstring, std::wstring> entries{
        {lower(photoEd), makeAppEntry(L"MS Photo Ed", photoEd, L"JPG", L"JPG,TIF,PCX,PNG,BMP")},
        {lower(pspx), makeAppEntry(L"CorelPSProX", pspx, L"JPG", L"JPG,BMP,TIF,PNG,PCX")},
        {lower(printer), makeAppEntry(L"Printer.exe", printer, L"", L"")},
        {lower(describedOne), makeAppEntry(L"範例影像檢視器", describedOne, L"", L"")},
        {lower(longValue), makeAppEntry(L"Long.exe", longValue, L"", L"")}};
    const std::map<std::wstring, std::wstring> names{{lower(gallery), L"MS Photo Gallery"},
                                                     {lower(shortNamed), L"Short Named Program.exe"}};
    for (const std::wstring& entry : everyOne) {
        const std::wstring path = lower(entryValue(entry, L"PATH"));
        if (entries.count(path) != 0) {
            EXPECT_EQ(entries.at(path), entry);
        }
        if (names.count(path) != 0) {
            EXPECT_EQ(names.at(path), entryValue(entry, L"FRIENDLY_NAME"));
        }
    }

    // Only the table's programs, in table order; the list is rebuilt each time.
    ASSERT_EQ(0u, finder.discover(true)) << describe(finder.discovered());
    expected = {lower(gallery)};
    if (!type.empty()) expected.push_back(lower(photoEd));
    expected.push_back(lower(pspx));
    EXPECT_EQ(expected, pathsOf(entriesIn(finder.discovered(), folder.path()))) << describe(finder.discovered());
    SetEnvironmentVariableW(variable.c_str(), nullptr);
}

namespace {
// The process's HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE turned to two private keys while a
// discovery runs, so that failing keys there disturb no other process.
class PrivateRoots : public PrivateRegistryRoots {
public:
    std::wstring appPaths(const std::wstring& name) const { return machine(kAppPathsKey + name); }
    std::wstring applications(const std::wstring& name) const { return classes(L"Applications\\" + name); }
    void deny(const std::wstring& path) { keys_.deny(HKEY_CURRENT_USER, path); }

    DWORD discover(AppDiscoverer& finder, bool onlyKnown = true) {
        EXPECT_EQ(ERROR_SUCCESS, use());
        const DWORD status = finder.discover(onlyKnown);
        release();
        return status;
    }

private:
    KeyCleanup keys_;  // opened up before the private key's tree is deleted
};

// A known program registered in both places; found only when its scan runs and gets to it.
struct Witnesses {
    explicit Witnesses(ProgramFolder& folder)
        : command(folder.add(L"discoveryplain", L"MSPAINT.EXE")), path(folder.add(L"discoveryplain", L"pixedit.EXE")) {}
    void addCommand(const PrivateRoots& roots, const std::wstring& app) const {
        setValue(HKEY_CURRENT_USER, roots.applications(app) + L"\\shell\\open\\command", L"\"" + command + L"\" %1");
    }
    void addPath(const PrivateRoots& roots, const std::wstring& app) const {
        setValue(HKEY_CURRENT_USER, roots.appPaths(app), path);
    }
    std::wstring command;
    std::wstring path;
};
}  // namespace

TEST(Discovery, StatusOfTheApplicationsAndRegisteredPathsScans) {
    LibraryCopy library(L"kvsaappmgr.dll");
    ProgramFolder folder;
    const Witnesses witness(folder);
    AppDiscoverer finder;
    {
        // No "Applications\" key: not-found counts here, and the registered paths are not read.
        PrivateRoots roots;
        witness.addPath(roots, L"a.exe");
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), roots.discover(finder));
        EXPECT_FALSE(listsPath(finder.discovered(), witness.path));
    }
    {
        // The last name listed fails: its status is the scan's, and the paths are not read.
        PrivateRoots roots;
        witness.addCommand(roots, L"a.exe");
        witness.addPath(roots, L"a.exe");
        roots.deny(roots.applications(L"z.exe"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), roots.discover(finder));
        EXPECT_TRUE(listsPath(finder.discovered(), witness.command)) << describe(finder.discovered());
        EXPECT_FALSE(listsPath(finder.discovered(), witness.path));
    }
    {
        // An earlier name fails: only the last one counts.
        PrivateRoots roots;
        roots.deny(roots.applications(L"a.exe"));
        witness.addCommand(roots, L"z.exe");
        witness.addPath(roots, L"a.exe");
        EXPECT_EQ(0u, roots.discover(finder));
        EXPECT_TRUE(listsPath(finder.discovered(), witness.command));
        EXPECT_TRUE(listsPath(finder.discovered(), witness.path));
    }
    {
        // A failure deeper down stays there; a failing "command" right below the name counts.
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.appPaths(L""));
        roots.deny(roots.applications(L"y.exe\\shell"));
        EXPECT_TRUE(createKey(HKEY_CURRENT_USER, roots.applications(L"z.exe\\command")));  // no value: not-found
        EXPECT_EQ(0u, roots.discover(finder));
        roots.deny(roots.applications(L"z.exe\\command"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), roots.discover(finder));
    }
    {
        // Only the first 100 names are searched.
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.appPaths(L""));
        for (int i = 0; i < 100; ++i) createKey(HKEY_CURRENT_USER, roots.applications(L"n" + std::to_wstring(1000 + i)));
        witness.addCommand(roots, L"n1100");
        roots.deny(roots.applications(L"n1101"));
        EXPECT_EQ(0u, roots.discover(finder));
        EXPECT_FALSE(listsPath(finder.discovered(), witness.command));
        roots.deny(roots.applications(L"n1099"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), roots.discover(finder));
    }
    {
        // The registered paths: an empty "Applications\" lets the paths be read; their missing root counts.
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.applications(L""));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), roots.discover(finder));
    }
    {
        // A registration we may not read, or a missing value, is no failure; the rest is read.
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.applications(L""));
        roots.deny(roots.appPaths(L"a.exe"));
        createKey(HKEY_CURRENT_USER, roots.appPaths(L"b.exe"));
        setValue(HKEY_CURRENT_USER, roots.appPaths(L"c.exe"), L"\"" + witness.command + L"\" /s");
        witness.addPath(roots, L"d.exe");
        EXPECT_EQ(0u, roots.discover(finder));
        // Both, in table order, not registration order.
        EXPECT_EQ((std::vector<std::wstring>{lower(witness.path), lower(witness.command)}),
                  pathsOf(entriesIn(finder.discovered(), folder.path())))
            << describe(finder.discovered());
    }
    {
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.applications(L""));
        roots.deny(roots.appPaths(L""));
        EXPECT_EQ(0u, roots.discover(finder));
    }
    {
        // Only the first 200 names are read.
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.applications(L""));
        for (int i = 0; i < 199; ++i) createKey(HKEY_CURRENT_USER, roots.appPaths(L"p" + std::to_wstring(1000 + i)));
        setValue(HKEY_CURRENT_USER, roots.appPaths(L"p1199"), witness.command);
        witness.addPath(roots, L"p1200");
        EXPECT_EQ(0u, roots.discover(finder));
        EXPECT_TRUE(listsPath(finder.discovered(), witness.command));
        EXPECT_FALSE(listsPath(finder.discovered(), witness.path));
    }
}

TEST(Discovery, ListingFailuresCarryTheirCode) {
    LibraryCopy library(L"kvslappmgr.dll");
    AppDiscoverer finder;
    // Wine accepts a 256-character key name, one more than Windows allows; listing it in a
    // buffer of the system's limit fails with ERROR_MORE_DATA. Where the name is refused,
    // there is no such failure to show.
    const std::wstring tooLong(256, L'k');
    // The tree deletion cannot list that name either, so it goes first, by name.
    struct RemovedFirst {
        std::wstring path;
        ~RemovedFirst() { RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()); }
    };
    {
        PrivateRoots roots;
        const RemovedFirst child{roots.applications(L"z.exe\\" + tooLong)};
        if (!createKey(HKEY_CURRENT_USER, child.path)) GTEST_SKIP() << "256-character key names are refused";
        EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), roots.discover(finder));
    }
    {
        PrivateRoots roots;
        createKey(HKEY_CURRENT_USER, roots.applications(L""));
        const RemovedFirst child{roots.appPaths(tooLong)};
        ASSERT_TRUE(createKey(HKEY_CURRENT_USER, child.path));
        EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), roots.discover(finder, false));
    }
}

namespace {
// The native path of a key below HKEY_CURRENT_USER, as a registry link names its target.
std::wstring currentUserNativePath(const std::wstring& path) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
    BYTE buffer[256];
    DWORD size = 0;
    std::wstring sid;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
            sid = text;
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return sid.empty() ? std::wstring() : L"\\Registry\\User\\" + sid + L"\\" + path;
}

// A registry link: created, and deleted as the link itself, not what it points to.
class RegistryLink {
public:
    RegistryLink(const std::wstring& path, const std::wstring& target) : path_(path) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return;
        }
        made_ = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                               static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!made_) remove();
    }
    ~RegistryLink() { remove(); }
    bool made() const { return made_; }

private:
    void remove() {
        using DeleteKeyFn = LONG(WINAPI*)(HANDLE);
        auto deleteKey = exportOf<DeleteKeyFn>(GetModuleHandleW(L"ntdll"), "NtDeleteKey");
        HKEY key = nullptr;
        if (deleteKey != nullptr &&
            RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &key) == ERROR_SUCCESS) {
            deleteKey(key);
            RegCloseKey(key);
        }
    }
    std::wstring path_;
    bool made_ = false;
};
}  // namespace

TEST(Discovery, ALinkBackToAnAncestorEndsTheCommandSearch) {
    // A key below an application's key that links back to it makes an endless tree; the search
    // goes a bounded depth down and then on to the next application.
    LibraryCopy library(L"kvsbappmgr.dll");
    ProgramFolder folder;
    const Witnesses witness(folder);
    AppDiscoverer finder;
    PrivateRoots roots;
    createKey(HKEY_CURRENT_USER, roots.applications(L"loop.exe\\shell"));
    const std::wstring target = currentUserNativePath(roots.applications(L"loop.exe"));
    ASSERT_FALSE(target.empty());
    const RegistryLink link(roots.applications(L"loop.exe\\shell\\again"), target);
    if (!link.made()) GTEST_SKIP() << "registry links are refused";
    {
        HKEY through = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, roots.applications(L"loop.exe\\shell\\again\\shell").c_str(),
                                               0, KEY_READ, &through))
            << "the link leads back to the application's key";
        RegCloseKey(through);
    }
    witness.addCommand(roots, L"z.exe");
    createKey(HKEY_CURRENT_USER, roots.appPaths(L""));
    EXPECT_EQ(0u, roots.discover(finder));
    EXPECT_TRUE(listsPath(finder.discovered(), witness.command)) << describe(finder.discovered());
}

TEST(Discovery, WithoutATempVariableTheProbesGoToTheSystemsTemporaryFolder) {
    LibraryCopy library(L"kvstappmgr.dll");
    ProgramFolder here;
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    wchar_t temp[32768] = {};
    const DWORD length = GetEnvironmentVariableW(L"TEMP", temp, 32768);
    ASSERT_TRUE(SetCurrentDirectoryW(here.path().c_str()));
    SetEnvironmentVariableW(L"TEMP", nullptr);
    AppDiscoverer finder;
    PrivateRoots roots;
    createKey(HKEY_CURRENT_USER, roots.applications(L""));
    createKey(HKEY_CURRENT_USER, roots.appPaths(L""));
    EXPECT_EQ(0u, roots.discover(finder));
    const DWORD made = GetFileAttributesW((here.path() + L"\\%TEMP%").c_str());
    SetEnvironmentVariableW(L"TEMP", length > 0 ? temp : nullptr);
    SetCurrentDirectoryW(saved);
    RemoveDirectoryW((here.path() + L"\\%TEMP%").c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, made) << "no folder named after the unset variable";
}

TEST(Discovery, AFileAlreadyAtAProbesNameIsNeverTruncatedNorRemoved) {
    LibraryCopy library(L"kvpfappmgr.dll");
    ProgramFolder temp;
    wchar_t saved[32768] = {};
    const DWORD length = GetEnvironmentVariableW(L"TEMP", saved, 32768);
    SetEnvironmentVariableW(L"TEMP", temp.path().c_str());
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    std::vector<std::wstring> planted;
    for (const wchar_t* type : kAssociationTypes) {
        for (const std::wstring& name : {L"kvpfapp" + std::wstring(type), L"kvpfapp" + pid + type}) {
            planted.push_back(temp.path() + L"\\" + name);
            HANDLE file = CreateFileW(planted.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, file);
            DWORD written = 0;
            WriteFile(file, "keep", 4, &written, nullptr);
            CloseHandle(file);
        }
    }
    AppDiscoverer finder;
    PrivateRoots roots;
    createKey(HKEY_CURRENT_USER, roots.applications(L""));
    createKey(HKEY_CURRENT_USER, roots.appPaths(L""));
    EXPECT_EQ(0u, roots.discover(finder));
    SetEnvironmentVariableW(L"TEMP", length > 0 ? saved : nullptr);
    for (const std::wstring& path : planted) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << "removed: " << narrow(path);
        EXPECT_EQ(4u, data.nFileSizeLow) << "truncated: " << narrow(path);
        DeleteFileW(path.c_str());
    }
}
