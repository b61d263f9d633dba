#include "AppListText.h"
#include "DestinationTable.h"
#include "TagText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
const FixedDestinations kFixed{L"E-mail", L"Fax", L"File"};

std::wstring app(const std::wstring& name, const std::wstring& type, bool isDefault = false,
                 const std::wstring& path = L"C:\\a.exe") {
    return testing_support::appEntryText(name, path, type, isDefault);
}

std::wstring list(const std::wstring& entries) { return testing_support::appListText(entries); }

DestinationTable fill(const std::wstring& document, bool fax, bool ocr, std::optional<std::wstring>* paint = nullptr) {
    DestinationTable table;
    std::optional<std::wstring> found;
    fillDestinations(table, document, kFixed, fax, ocr, found);
    if (paint != nullptr) *paint = found;
    return table;
}
}  // namespace

TEST(TagText, FindsRemovesAndAppendsInBothWidths) {
    std::string text = "<A>1</A><B>2</B><A>3</A>";
    std::string value = "unchanged";
    EXPECT_FALSE(tagtext::getElement(text, "C", value));
    EXPECT_EQ("unchanged", value);
    EXPECT_TRUE(tagtext::getElement(text, "A", value));
    EXPECT_EQ("1", value);
    EXPECT_TRUE(tagtext::removeElement(text, "A"));
    EXPECT_EQ("<B>2</B><A>3</A>", text);
    tagtext::setElement(text, "B", std::string("x"));
    EXPECT_EQ("<A>3</A><B>x</B>", text) << "the new element goes to the end";
    tagtext::setElement(text, "", std::string("y"));
    EXPECT_EQ("<A>3</A><B>x</B>", text) << "an empty name does nothing";

    std::wstring wide = L"<APP>\x4E2D\x6587</APP>";
    std::wstring wideValue;
    EXPECT_TRUE(tagtext::getElement(wide, L"APP", wideValue));
    EXPECT_EQ(L"\x4E2D\x6587", wideValue);

    // A close tag before its open tag: an empty value, and removal still makes progress.
    std::string backwards = "</A>junk<A>";
    EXPECT_TRUE(tagtext::getElement(backwards, "A", value));
    EXPECT_EQ("", value);
    EXPECT_TRUE(tagtext::removeElement(backwards, "A"));
    EXPECT_EQ("", backwards);
}

TEST(TagText, DrainingGivesWhatTheRemoveLoopGaveIncludingTagsFormedByARemoval) {
    auto drained = [](const std::string& text) {
        std::vector<std::string> values;
        tagtext::drainElements(text, "APP", [&](const std::string& value) { values.push_back(value); });
        return values;
    };
    using Values = std::vector<std::string>;
    EXPECT_EQ((Values{"1", "2"}), drained("<APPLIST><APP>1</APP>\r\n<APP>2</APP></APPLIST>"));
    EXPECT_EQ((Values{"x", "y"}), drained("<AP<APP>x</APP>P>y</APP>")) << "the removal joins <AP and P>";
    EXPECT_EQ((Values{"", "z"}), drained("<<APP></APP>APP>z</APP>")) << "an empty value, then a joined tag";
    EXPECT_EQ((Values{""}), drained("</APP>a<APP>b</APP>")) << "close first: empty, and the span goes";
    EXPECT_EQ((Values{"a</AP"}), drained("<APP>a</AP</APP>P>")) << "a value runs to the first close tag";
    EXPECT_EQ(Values{}, drained("<APP>unended"));
    EXPECT_EQ(Values{}, drained(""));
}

TEST(AppListClient, FixedDestinationsComeFirstAndTheFaxOnlyWithItsProgram) {
    const std::wstring document = list(app(L"Paint", L"BMP"));
    DestinationTable table = fill(document, false, false);
    ASSERT_EQ(3u, table.size());
    EXPECT_EQ(L"E-mail", table[0].friendlyName);
    EXPECT_EQ(L"JPG", table[0].defaultFileType);
    EXPECT_EQ(L"File", table[1].friendlyName);
    EXPECT_EQ(L"Paint", table[2].friendlyName) << "the first entry gets index 2 without a fax program";
    EXPECT_EQ(L"C:\\a.exe", table[2].path);
    EXPECT_EQ(L"BMP", table[2].supportedFileTypes);

    table = fill(document, true, false);
    ASSERT_EQ(4u, table.size());
    EXPECT_EQ(L"Fax", table[1].friendlyName);
    EXPECT_EQ(L"Paint", table[3].friendlyName) << "and index 3 with one";

    EXPECT_EQ(2u, fill(L"<APPLIST>\r\n</APPLIST>", false, false).size()) << "an empty list gives the fixed ones";
}

TEST(AppListClient, TextTypesNeedAnOcrProgram) {
    const std::wstring document =
        list(app(L"none", L"") + app(L"txt", L"TXT") + app(L"rtf", L"Rtf") + app(L"t", L"t") + app(L"jpg", L"JPG") +
             app(L"text", L"TEXT"));
    DestinationTable without = fill(document, false, false);
    ASSERT_EQ(4u, without.size());
    EXPECT_EQ(L"jpg", without[2].friendlyName);
    EXPECT_EQ(L"text", without[3].friendlyName) << "TEXT is longer than txt, so it is no text type";

    DestinationTable with = fill(document, false, true);
    ASSERT_EQ(8u, with.size());
    EXPECT_EQ(L"none", with[2].friendlyName);
    EXPECT_EQ(L"t", with[5].friendlyName);
}

TEST(AppListClient, DefaultMarkPaintCaptureAndStaleEntries) {
    std::optional<std::wstring> paint;
    DestinationTable table =
        fill(list(app(L"A", L"JPG", true) + app(L"MS Paint", L"BMP", false, L"C:\\p.exe") + app(L"B", L"JPG", true)),
             false, false, &paint);
    EXPECT_EQ(L"true", table[2].defaultAioApp);
    EXPECT_EQ(L"", table[3].defaultAioApp);
    EXPECT_EQ(L"true", table[4].defaultAioApp);
    ASSERT_TRUE(paint.has_value());
    EXPECT_EQ(L"C:\\p.exe", *paint);

    // A rebuild overwrites indexes; records above the new end stay until the table is cleared.
    std::optional<std::wstring> none;
    fillDestinations(table, list(app(L"C", L"JPG")), kFixed, false, false, none);
    EXPECT_EQ(5u, table.size());
    EXPECT_EQ(L"C", table[2].friendlyName);
    EXPECT_EQ(L"B", table[4].friendlyName);
    EXPECT_FALSE(none.has_value());
}

TEST(AppListClient, DestinationFormMarksFoldersAndMalformedDocumentsEnd) {
    const std::wstring document =
        L"<DESTINATION><APP><FRIENDLY_NAME>Viewer</FRIENDLY_NAME><PATH>C:\\v.exe</PATH></APP></DESTINATION>"
        L"<DESTINATION><FOLDER><FRIENDLY_NAME>Scans</FRIENDLY_NAME><PATH>C:\\Scans</PATH>"
        L"<DEFAULT_FILE_TYPE>TXT</DEFAULT_FILE_TYPE><DEFAULT_AIO_APP>true</DEFAULT_AIO_APP></FOLDER></DESTINATION>";
    DestinationTable table = fill(document, false, false);
    ASSERT_EQ(4u, table.size());
    EXPECT_FALSE(table[2].isFolder);
    EXPECT_TRUE(table[3].isFolder);
    EXPECT_EQ(L"C:\\Scans", table[3].path);
    EXPECT_EQ(L"", table[3].defaultAioApp) << "this form has no default flag and no text filter";

    // Unbalanced and nested elements still end, with every entry given an index.
    for (const wchar_t* broken : {L"<APPLIST></APP><APP></APP><APP>", L"<APPLIST><APP><APP>x</APP></APP>",
                                  L"</DESTINATION><DESTINATION>", L"<APPLIST><APP>"}) {
        EXPECT_LE(fill(broken, false, true).size(), 6u) << "document " << std::wstring(broken).size();
    }
}
