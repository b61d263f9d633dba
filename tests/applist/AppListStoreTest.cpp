#include "AppEntry.h"
#include "AppListStore.h"
#include "BrandKey.h"
#include "Exception.h"

#include "ListTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
std::wstring entry(const std::wstring& name, const std::wstring& path, bool isDefault = false) {
    return makeAppEntry(name, path, L"JPG", L"JPG,BMP", isDefault);
}

std::wstring names(const AppListStore& store) {
    std::wstring out;
    for (const std::wstring& e : store.entries()) out += entryValue(e, L"FRIENDLY_NAME") + L";";
    return out;
}
}  // namespace

TEST(AppEntry, LayoutDefaultLineAndSplitting) {
    EXPECT_EQ(L"     <APP>\r\n"
              L"          <FRIENDLY_NAME>Viewer</FRIENDLY_NAME>\r\n"
              L"          <PATH>C:\\v.exe</PATH>\r\n"
              L"          <DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n"
              L"          <SUPPORTED_FILE_TYPES>JPG,BMP</SUPPORTED_FILE_TYPES>\r\n"
              L"     </APP>\r\n",
              entry(L"Viewer", L"C:\\v.exe"));
    const std::wstring marked = entry(L"Viewer", L"C:\\v.exe", true);
    EXPECT_EQ(marked, withDefaultMark(entry(L"Viewer", L"C:\\v.exe"))) << "the line goes right after the PATH line";
    EXPECT_EQ(entry(L"Viewer", L"C:\\v.exe"), withoutDefaultMark(marked));
    EXPECT_EQ(marked, withDefaultMark(marked)) << "an entry already marked is marked once";
    EXPECT_EQ(L"<APP>no path</APP>", withDefaultMark(L"<APP>no path</APP>"));
    // Only the exact line is recognised.
    const std::wstring edited = L"<PATH>x</PATH>\r\n <DEFAULT_AIO_APP>true</DEFAULT_AIO_APP>\r\n";
    EXPECT_EQ(edited, withoutDefaultMark(edited));

    // Splitting keeps complete entries only.
    const std::wstring a = entry(L"A", L"C:\\a.exe");
    const std::wstring b = entry(L"B", L"C:\\b.exe");
    EXPECT_EQ((std::vector<std::wstring>{a, b}), splitEntries(a + b + L"     <APP>\r\n  trailing"));
    EXPECT_TRUE(splitEntries(L"").empty());
    // A close tag at the very end: the entry is cut at the text's end.
    EXPECT_EQ(std::vector<std::wstring>{L"x</APP>"}, splitEntries(L"x</APP>"));
}

TEST(BrandKey, ChosenByTheFirstTwoLettersOfTheFileName) {
    EXPECT_EQ(L"KelvaraLaser", brandKeyFor(L"kvabappmgr.dll"));
    EXPECT_EQ(L"DcsLaser", brandKeyFor(L"gnxxappmgr.dll"));
    EXPECT_EQ(L"DcsLaser", brandKeyFor(L"GNXXAPPMGR.DLL"));
    EXPECT_EQ(L"IbrexLaser", brandKeyFor(L"ebabappmgr.dll")) << "the first of two rows wins";
    EXPECT_EQ(L"NorvikInkJet", brandKeyFor(L"nvabappmgr.dll"));
    EXPECT_EQ(L"OemInkjet", brandKeyFor(L"wbzzappmgr.dll"));
    EXPECT_EQ(L"Kelvara Tools", brandKeyFor(L"zzzzappmgr.dll"));
    EXPECT_EQ(L"Kelvara Tools", brandKeyFor(L"k"));
    EXPECT_EQ(L"Software\\T-NovaInkjet\\App List Manager\\", appListKeyPath(L"ntabappmgr.dll"));
}

TEST(AppListStore, AddRefusesDuplicateNamesAndPathsCaseSensitively) {
    TestRegistryKey key;
    AppListStore store(key.path());
    EXPECT_EQ(0u, store.add(entry(L"Viewer", L"C:\\v.exe")));
    EXPECT_EQ(52u, store.add(entry(L"Viewer", L"C:\\other.exe")));
    EXPECT_EQ(52u, store.add(entry(L"New name", L"C:\\v.exe")));
    EXPECT_EQ(0u, store.add(entry(L"VIEWER", L"C:\\V2.exe"))) << "names differing in case are different";
    EXPECT_EQ(0u, store.add(entry(L"Third", L"C:\\V.EXE"))) << "so are paths";
    EXPECT_EQ(L"Viewer;VIEWER;Third;", names(store));

    EXPECT_EQ(0u, store.save());
    std::vector<std::wstring> copy;
    AppListStore other(key.path());
    other.load(copy);
    EXPECT_EQ(store.entries(), copy);
    EXPECT_EQ(store.entries()[0] + store.entries()[1] + store.entries()[2], other.readStoredText());
}

TEST(AppListStore, ReplaceMoveRemoveAndDefaults) {
    TestRegistryKey key;
    AppListStore store(key.path());
    store.add(entry(L"A", L"C:\\a.exe"));
    store.add(entry(L"B", L"C:\\b.exe"));
    store.add(entry(L"C", L"C:\\c.exe"));

    EXPECT_EQ(0u, store.replaceByPath(entry(L"B2", L"C:\\b.exe")));
    EXPECT_EQ(L"A;B2;C;", names(store));
    EXPECT_EQ(0u, store.replaceByPath(entry(L"X", L"C:\\none.exe"))) << "nothing matched, still saved";
    std::vector<std::wstring> copy;
    AppListStore reread(key.path());
    reread.load(copy);
    EXPECT_EQ(L"A;B2;C;", names(reread));

    // Refused moves change nothing.
    const struct {
        int button, from;
        DWORD status;
        int to;
        const wchar_t* names;
    } moves[] = {{kMoveUpButton, 0, 50, 0, L"A;B2;C;"},   {kMoveDownButton, 2, 50, 2, L"A;B2;C;"},
                 {kMoveDownButton, -1, 87, -1, L"A;B2;C;"}, {kMoveUpButton, 2, 0, 1, L"A;C;B2;"},
                 {kMoveDownButton, 0, 0, 1, L"C;A;B2;"}};
    for (const auto& move : moves) {
        int position = move.from;
        EXPECT_EQ(move.status, store.move(move.button, position)) << move.button << " from " << move.from;
        EXPECT_EQ(move.to, position) << move.button << " from " << move.from;
        EXPECT_EQ(move.names, names(store)) << move.button << " from " << move.from;
    }

    EXPECT_EQ(0u, store.setDefault(store.entryAt(1)));
    EXPECT_NE(std::wstring::npos, store.entryAt(1).find(kDefaultAioLine));
    EXPECT_NE(std::wstring::npos, store.readStoredText().find(kDefaultAioLine)) << "set default saves";
    EXPECT_EQ(0u, store.clearDefault(store.entryAt(1)));
    EXPECT_EQ(std::wstring::npos, store.readStoredText().find(L"DEFAULT_AIO_APP"));

    EXPECT_EQ(0u, store.removeAt(0));
    EXPECT_EQ(87u, store.removeAt(5));
    EXPECT_EQ(L"A;B2;", names(store));
    EXPECT_EQ(L"", store.entryAt(9));
}

TEST(AppListStore, AReplacementThatCannotBeSavedIsUndone) {
    // A volatile key takes no lasting subkey: the store below it can't be created.
    TestRegistryKey key;
    HKEY volatileKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
    RegCloseKey(volatileKey);
    AppListStore store(key.path() + L"\\App List Manager\\");
    store.add(entry(L"A", L"C:\\a.exe"));
    store.add(entry(L"B", L"C:\\b.exe"));
    EXPECT_THROW(store.replaceByPath(entry(L"A2", L"C:\\a.exe")), Win32Exception);
    EXPECT_EQ(L"A;B;", names(store)) << "the list in memory is the one before the failed save";
    EXPECT_EQ(0u, store.add(entry(L"A2", L"C:\\a2.exe"))) << "the name that was not saved is free";
}

TEST(AppListStore, ReadingToleratesMissingAndForeignValues) {
    TestRegistryKey key;
    AppListStore store(key.path() + L"\\App List Manager\\");
    const auto document = [](const std::wstring& stored) { return L"<APPLIST>\r\n" + stored + L"</APPLIST>"; };
    EXPECT_EQ(L"", store.readStoredText()) << "missing key and value";
    EXPECT_EQ(document(L""), store.readDocument());
    storeList(key.path(), entry(L"A", L"C:\\a.exe"), REG_EXPAND_SZ);
    AppListStore direct(key.path());
    EXPECT_EQ(entry(L"A", L"C:\\a.exe"), direct.readStoredText());
    EXPECT_EQ(document(entry(L"A", L"C:\\a.exe")), direct.readDocument());
    const DWORD number = 5;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.path().c_str(), L"AppList", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(L"", direct.readStoredText()) << "a value of another type reads as empty";
    EXPECT_EQ(document(L""), direct.readDocument());

    // A long stored text of hand-edited entries loads without trouble.
    std::wstring big;
    for (int i = 0; i < 200; ++i) big += entry(std::wstring(500, L'n') + std::to_wstring(i), L"C:\\" + std::to_wstring(i));
    storeList(key.path(), big + L"tail</AP");
    EXPECT_EQ(document(big + L"tail</AP"), direct.readDocument()) << "far larger than the text read before";
    EXPECT_EQ(document(big + L"tail</AP"), direct.readDocument());
    std::vector<std::wstring> copy;
    direct.load(copy);
    EXPECT_EQ(200u, copy.size());
}

TEST(AppListStore, RemoveMissingDropsEntriesWhoseProgramIsGone) {
    TestRegistryKey key;
    TempFolder folder;
    const std::string present = folder.file("present.exe");
    writeFile(present, "MZ");
    const std::wstring presentPath(present.begin(), present.end());
    storeList(key.path(), entry(L"Gone", L"C:\\nowhere\\gone.exe") + entry(L"Here", presentPath) +
                      entry(L"NotExe", presentPath.substr(0, presentPath.size() - 4) + L".txt") +
                      entry(L"Gone2", L"C:\\nowhere\\gone2.exe"));
    AppListStore store(key.path());
    store.removeMissing();
    EXPECT_EQ(L"Here;", names(store));
    EXPECT_EQ(4u, splitEntries(store.readStoredText()).size()) << "nothing is saved here";
}
