// Stored lists mangled every way a broken installer or a hand edit could leave them, read through
// the real library's exports and the monitor's reading of the document into destinations.
#include "AppListClient.h"
#include "BasicLogger.h"

#include "FuzzInput.h"
#include "ListTestSupport.h"
#include "MangledLists.h"
#include "ProcessMemory.h"
#include "ReferenceDestinations.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <vector>

using namespace testing_support;

namespace {
using ListFn = LONG(WINAPI*)(wchar_t*, uint32_t, uint32_t*);
using NarrowListFn = LONG(WINAPI*)(char*, uint32_t, uint32_t*);

// The brand key of "ke" libraries; no other test uses it.
const wchar_t kListKey[] = L"Software\\KelvaraInkjet\\App List Manager";

// The library under a "ke" name beside this program, where the monitor's client finds it.
class LibraryBeside {
public:
    LibraryBeside() : path_(ownFolder() + "kemlappmgr.dll") {
        CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), path_.c_str(), FALSE);
        deleteKeyTree(HKEY_LOCAL_MACHINE, _T("Software\\KelvaraInkjet"));
        module_ = LoadLibraryA(path_.c_str());
    }
    ~LibraryBeside() {
        if (module_ != nullptr) FreeLibrary(module_);
        deleteKeyTree(HKEY_LOCAL_MACHINE, _T("Software\\KelvaraInkjet"));
        DeleteFileA(path_.c_str());
    }
    HMODULE module() const { return module_; }

private:
    std::string path_;
    HMODULE module_ = nullptr;
};
}  // namespace

TEST(MalformedList, AHundredThousandMangledListsReadWithoutCrashHangOrGrowth) {
    LibraryBeside library;
    ASSERT_NE(nullptr, library.module());
    auto wide = exportOf<ListFn>(library.module(), "GetWideAppList");
    auto narrow = exportOf<NarrowListFn>(library.module(), "GetAppList");
    ASSERT_NE(nullptr, wide);
    ASSERT_NE(nullptr, narrow);
    AppListClient client("keml");
    client.setFixedDestinations({L"E-mail", L"Fax", L"File"});

    const int rounds = 100000;
    uint32_t state = 20261209;
    unsigned long long before = 0, highest = 0;
    int notSupported = 0, built = 0;
    size_t destinations = 0;
    std::wstring buffer;
    std::string narrowBuffer;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring text = mangledList(state, static_cast<uint64_t>(round));
        storeList(kListKey, text);
        // The stored text up to its first NUL, between the document's tags.
        const std::wstring kept = text.substr(0, text.find(L'\0'));
        uint32_t needed = 0;
        ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(nullptr, 0, &needed)) << round;
        ASSERT_EQ(kept.size() + 22, needed) << round;
        buffer.assign(needed, L'\0');
        ASSERT_EQ(0, wide(&buffer[0], needed, &needed)) << round;
        ASSERT_EQ(L"<APPLIST>\r\n" + kept + L"</APPLIST>", buffer.substr(0, needed - 1)) << round;

        // The 8-bit form: the size first, then the text, refused (50, nothing needed) when a
        // character doesn't fit in 8 bits.
        needed = 0;
        ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, narrow(nullptr, 0, &needed)) << round;
        ASSERT_EQ(kept.size() + 22, needed) << round;
        narrowBuffer.assign(needed, '\0');
        const LONG narrowResult = narrow(&narrowBuffer[0], needed, &needed);
        const bool wideOnly = std::any_of(kept.begin(), kept.end(), [](wchar_t c) { return c > 0xFF; });
        if (wideOnly) {
            ++notSupported;
            ASSERT_EQ(ERROR_NOT_SUPPORTED, narrowResult) << round;
            ASSERT_EQ(0u, needed);
        } else {
            ASSERT_EQ(0, narrowResult) << round;
            ASSERT_EQ(kept.size() + 21, std::strlen(narrowBuffer.c_str())) << round;
        }

        // The monitor's reading: every 10th round, since the export calls above dominate anyway.
        if (round % 10 == 0) {
            if (client.buildDestinations()) ++built;
            const DestinationTable table = client.destinations();
            ASSERT_GE(table.size(), 2u) << "the fixed destinations are always there";
            destinations += table.size();
            for (int index = 0; index < 16; ++index) client.findDestination(index);
        }
        if (round == 1000) before = standin::committedPrivateBytes();
        if (round > 1000 && round % 5000 == 0) highest = std::max(highest, standin::committedPrivateBytes());
    }
    const unsigned long long after = standin::committedPrivateBytes();
    std::cout << "[ figures  ] " << rounds << " mangled lists: " << notSupported << " refused by GetAppList (text above U+00FF), "
              << built << " tables built, " << destinations << " destinations; private bytes after 1000 rounds " << before
              << ", highest later " << highest << ", at the end " << after << "\n";
    EXPECT_EQ(rounds / 10, built);
    EXPECT_LE(highest, before + 8 * 1024 * 1024) << "memory stays bounded";
}

namespace {
std::wstring appText(int index) {
    const std::wstring n = std::to_wstring(index);
    return mangledEntry(L"Program " + n, L"C:\\Programs\\app" + n + L".exe", index == 7);
}

// The documents the fuzz target starts from, as it reads them: both forms of each.
std::vector<std::wstring> corpusDocuments() {
    std::vector<std::wstring> documents;
    std::string folder = FUZZ_CORPUS;
    std::replace(folder.begin(), folder.end(), '/', '\\');
    folder = "Z:" + folder + "\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return documents;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string bytes = readFile(folder + found.cFileName);
        FuzzInput input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        input.byte();
        input.text();
        input.text();
        const std::wstring document = input.wideRest();
        documents.push_back(document);
        documents.push_back(L"<APPLIST>\r\n" + document + L"</APPLIST>");
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return documents;
}
}  // namespace

TEST(MalformedList, TheLinearReadingGivesTheOldReadingsRecordsForEveryList) {
    const std::vector<std::wstring> corpus = corpusDocuments();
    EXPECT_GE(corpus.size(), 16u) << "the fuzz corpus is found at " << FUZZ_CORPUS;
    std::string why;
    for (const std::wstring& document : corpus) {
        EXPECT_TRUE(reference::readsAlike(document, &why)) << why << " for corpus document of " << document.size();
    }
    // Tags that only form once a removal joins the text around them, close tags before open
    // ones, entries without an end, and the old destination form.
    for (const wchar_t* odd :
         {L"<APPLIST><AP<APP><FRIENDLY_NAME>a</FRIENDLY_NAME></APP>P>b</AP</APP>P></APP>", L"<APPLIST></APP>x<APP>y</APP>",
          L"<APPLIST><<APP></APP>APP>z</APP>", L"<APPLIST><APP>unended", L"<APPLIST></APP></APP><APP>",
          L"<DESTINA<DESTINATION></DESTINATION>TION><FOLDER><PATH>f</PATH></FOLDER></DESTINATION>",
          L"</DESTINATION><DESTINATION><APP>x</APP></DESTINATION>"}) {
        EXPECT_TRUE(reference::readsAlike(odd, &why)) << why << " for " << std::string(odd, odd + wcslen(odd));
    }
    uint32_t state = 20250101;
    for (int round = 0; round < 20000; ++round) {
        const std::wstring text = mangledList(state, static_cast<uint64_t>(round));
        ASSERT_TRUE(reference::readsAlike(text, &why)) << why << " in round " << round;
        ASSERT_TRUE(reference::readsAlike(L"<APPLIST>\r\n" + text + L"</APPLIST>", &why)) << why << " in round " << round;
    }
}

TEST(MalformedList, AListOverTheLimitIsRefusedLoggedAndLeavesTheFixedDestinations) {
    // The library under a name of its own, on private registry roots: the test beside this one
    // stores its lists under the same brand key.
    const std::string libraryPath = ownFolder() + "kelmappmgr.dll";
    ASSERT_TRUE(CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), libraryPath.c_str(), FALSE));
    PrivateRegistryRoots roots;
    ASSERT_EQ(0, roots.use(KEY_ALL_ACCESS));
    TempFolder folder;
    const std::string log = folder.file("refusals.log");
    writeFile(log, "");
    ASSERT_TRUE(installLogger(new BasicLogger(log, 25)));
    AppListClient client("kelm");
    client.setFixedDestinations({L"E-mail", L"Fax", L"File"});

    // Entries up to just under the limit are all read; one more and the list is refused whole.
    std::wstring stored;
    int entries = 0;
    const size_t frame = 22;  // the document's tags and its terminator
    while (stored.size() + appText(entries).size() + frame <= kMaxListCharacters) stored += appText(entries++);
    storeList(kListKey, stored);
    ASSERT_TRUE(client.buildDestinations());
    EXPECT_EQ(static_cast<size_t>(entries) + 2, client.destinations().size());
    EXPECT_EQ(L"true", client.destinations().at(9).defaultAioApp);

    const std::wstring over = stored + appText(entries);
    storeList(kListKey, over);
    client.clearDestinations();
    ASSERT_TRUE(client.buildDestinations());
    const DestinationTable table = client.destinations();
    ASSERT_EQ(2u, table.size()) << "only the fixed destinations";
    EXPECT_EQ(L"E-mail", table.at(0).friendlyName);
    EXPECT_EQ(L"File", table.at(1).friendlyName);
    uninstallLogger();
    const std::string expected = "AppListClient::fetchDocument() application list refused: " +
                                 std::to_string(over.size() + frame) + " characters, limit " +
                                 std::to_string(kMaxListCharacters);
    EXPECT_NE(std::string::npos, readFile(log).find(expected)) << readFile(log);
    EXPECT_EQ(1, countLines(readFile(log), "refused"));
    roots.release();
}
