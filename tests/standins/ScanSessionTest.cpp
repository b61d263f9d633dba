#include "ScanSession.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
// The scan-session stand-in under another name in a folder of its own, with its journal.
class ScxCopy {
public:
    explicit ScxCopy(const std::string& options = "") {
        dll_ = folder_.file("ssn1scx.dll");
        CopyFileA((ownFolder() + "kvabscx.dll").c_str(), dll_.c_str(), FALSE);
        if (!options.empty()) writeFile(folder_.file("ssn1scx.txt"), "options=" + options + "\n");
    }
    const std::string& dll() const { return dll_; }
    std::string journal() const { return readFile(folder_.file("ssn1scx.journal")); }

private:
    TempFolder folder_;
    std::string dll_;
};

}  // namespace

TEST(ScanSessionLibrary, CallsEachSlotWithItsArgumentsAndKeepsTheStackBalanced) {
    ScxCopy copy("0x80");
    {
        ScanSessionLibrary library(copy.dll());
        ASSERT_TRUE(library.loaded());
        void* options = library.create(kScanObjectOptions);
        void* session = library.create(kScanObjectSession);
        void* list = library.create(kScanObjectList);
        ASSERT_NE(nullptr, options);
        ASSERT_NE(nullptr, session);
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(nullptr, library.create(7)) << "unknown kinds are refused";

        // Repeated calls: a callee that removed the wrong number of bytes would corrupt the stack.
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(scx::setPortText(session, "<PortName>USB001</PortName>"));
            uint8_t answer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
            EXPECT_TRUE(scx::queryOptions(options, answer, session));
            EXPECT_EQ(0x80, answer[0]);
            EXPECT_EQ(0, answer[7]);
        }
        const wchar_t name[] = L"Photo Editor";
        EXPECT_TRUE(scx::addName(list, name, 12, 5));
        EXPECT_TRUE(scx::setDefaultName(list, L"Photo Editor"));
        // A missing session or list object is never handed to the library.
        uint8_t untouched[8] = {9};
        EXPECT_FALSE(scx::queryOptions(options, untouched, nullptr));
        EXPECT_EQ(9, untouched[0]);
        EXPECT_FALSE(scx::sendList(options, nullptr, list));
        EXPECT_FALSE(scx::sendList(options, session, nullptr));
        EXPECT_TRUE(scx::sendList(options, session, list));
        EXPECT_TRUE(library.destroy(kScanObjectList, list));
        EXPECT_TRUE(library.destroy(kScanObjectSession, session));
        EXPECT_TRUE(library.destroy(kScanObjectOptions, options));
    }
    const std::string journal = copy.journal();
    EXPECT_TRUE(contains(journal, "portText <PortName>USB001</PortName>\r\n")) << journal;
    EXPECT_TRUE(contains(journal, "answer=128")) << journal;
    EXPECT_TRUE(contains(journal, "addName name=Photo Editor length=12 value=5\r\n")) << journal;
    EXPECT_TRUE(contains(journal, "setDefault name=Photo Editor\r\n")) << journal;
    EXPECT_EQ(1, countLines(journal, "sendList session=")) << journal;
    EXPECT_EQ(3, countLines(journal, "answer=128")) << journal;
    EXPECT_TRUE(contains(journal, "destroy kind=0")) << journal;
}

TEST(ScanSessionLibrary, MissingLibraryOrObjectsCallNothing) {
    ScanSessionLibrary missing("C:\\no such folder\\zzzzscx.dll");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(nullptr, missing.create(kScanObjectSession));
    int object = 0;
    EXPECT_FALSE(missing.destroy(kScanObjectSession, &object));
    uint8_t answer[8] = {9};
    EXPECT_FALSE(scx::setPortText(nullptr, "x"));
    EXPECT_FALSE(scx::queryOptions(nullptr, answer, nullptr));
    EXPECT_EQ(9, answer[0]) << "the answer stays untouched";
    EXPECT_FALSE(scx::addName(nullptr, L"x", 1, 5));
    EXPECT_FALSE(scx::setDefaultName(nullptr, L"x"));
    EXPECT_FALSE(scx::sendList(nullptr, nullptr, nullptr));
}

TEST(ResourceStandIn, HoldsTheDestinationNamesFaxProgramAndIcons) {
    HMODULE resources = LoadLibraryExA((ownFolder() + "kvabpanelmonr.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, resources) << GetLastError();
    wchar_t text[260] = {};
    for (UINT id = 16; id <= 18; ++id) EXPECT_GT(LoadStringW(resources, id, text, 260), 0) << id;
    char fax[260] = {};
    EXPECT_GT(LoadStringA(resources, 19, fax, 260), 0);
    EXPECT_NE(nullptr, FindResourceA(resources, MAKEINTRESOURCEA(101), RT_GROUP_ICON));
    EXPECT_NE(nullptr, FindResourceA(resources, MAKEINTRESOURCEA(102), RT_GROUP_ICON));
    FreeLibrary(resources);
}
