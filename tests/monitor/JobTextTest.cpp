#include "JobText.h"
#include "UntrustedText.h"

#include <gtest/gtest.h>

TEST(JobText, AppJobForLetterColorUsbIsExactly342Bytes) {
    AppJobValues values;
    values.widthText = "85000";
    values.heightText = "110000";
    values.colorModeText = "color";
    values.portName = "USB001";
    values.ocrFlag = "0";
    values.photoDockPresent = true;
    const std::string bytes = appJobBytes(values);
    EXPECT_EQ(
        "<APP><APPNAME>computer</APPNAME>\r\n<APPNAMEPATH></APPNAMEPATH>\r\n<DEFAULTFILETYPE>JPG</DEFAULTFILETYPE>\r\n"
        "<DIMENSIONX>85000</DIMENSIONX>\r\n<DIMENSIONY>110000</DIMENSIONY>\r\n<DPIX>300</DPIX>\r\n<DPIY>300</DPIY>\r\n"
        "<COLOR_MODE>color</COLOR_MODE>\r\n<DEVICENAME>USB001</DEVICENAME>\r\n<OCR>0</OCR>\r\n"
        "<PDPRESENT>Yes</PDPRESENT>\r\n<PAINTPATH></PAINTPATH>\r\n</APP>",
        bytes);
    EXPECT_EQ(342u, bytes.size());

    values.photoDockPresent = false;
    values.paintPath = "C:\\Windows\\mspaint.exe <&>";
    const std::string other = appJobBytes(values);
    EXPECT_NE(std::string::npos, other.find("<PDPRESENT>No</PDPRESENT>\r\n"));
    EXPECT_NE(std::string::npos, other.find("<PAINTPATH>C:\\Windows\\mspaint.exe <&></PAINTPATH>\r\n</APP>"))
        << "values are written unescaped";
}

TEST(JobText, NamesAreCutToTheirBuffersButPathsNever) {
    AppJobValues values;
    values.portName = std::string(1000, 'P');
    values.paintPath = std::string(260, 'Q');
    EXPECT_NE(std::string::npos, appJobBytes(values).find("<DEVICENAME>" + std::string(259, 'P') + "</DEVICENAME>"));
    EXPECT_NE(std::string::npos, appJobBytes(values).find("<PAINTPATH>" + std::string(260, 'Q') + "</PAINTPATH>"));
    // One more and the path would have been cut into another program's: it is left out.
    values.paintPath += 'Q';
    EXPECT_NE(std::string::npos, appJobBytes(values).find("<PAINTPATH></PAINTPATH>"));

    const std::string folder(300, 'd');
    EXPECT_EQ("\"" + folder + "\\kvablsqx.exe\" -x C:\\temp\\job.xml", lightScanCommand(folder, "kvab", "C:\\temp\\job.xml"));
    EXPECT_EQ("\"" + folder + "\\QuickPrn.exe\" /files=1 /port=U /storageId=2 /printer=P",
              quickPrintCommand(folder + "\\QuickPrn.exe", 1, "U", 2, "P"));
    EXPECT_EQ("", boundedText("abc", 0));
    EXPECT_EQ("ab", boundedText("abc", 3));
    EXPECT_EQ("abc", boundedText("abc", 4));
}

TEST(JobText, CardReportAndCommandLines) {
    EXPECT_EQ("<hid_report><Devmon_Request>LOCAL_CARD_INSERTED</Devmon_Request>\r\n</hid_report>", cardReportBytes());
    EXPECT_EQ(79u, cardReportBytes().size());
    EXPECT_EQ("LightScanXML0.xml", jobFileName(0));
    EXPECT_EQ("LightScanXML32767.xml", jobFileName(32767));
    EXPECT_EQ("\"C:\\Program Files\\Kv\\kvablsqx.exe\" -x C:\\temp\\LightScanXML5.xml",
              lightScanCommand("C:\\Program Files\\Kv", "kvab", "C:\\temp\\LightScanXML5.xml"));
    EXPECT_EQ("\"C:\\kv\\PhotoDock.exe\" -f C:\\temp\\LocalCardReader.kvr",
              photoDockCommand("C:\\kv\\PhotoDock.exe", "C:\\temp\\LocalCardReader.kvr"));
    EXPECT_EQ("\"C:\\kv\\QuickPrn.exe\" /files=12 /port=USB001 /storageId=2 /printer=P1",
              quickPrintCommand("C:\\kv\\QuickPrn.exe", 12, "USB001", 2, "P1"));
    EXPECT_EQ("\"C:\\kv\\photodesk.exe\" -h202 /", photoDeskCommand("C:\\kv\\photodesk.exe", ""))
        << "an empty printer name ends in a space and a slash";

    // A path with a space: its short form, else quoted; a short form with a space is no help.
    EXPECT_EQ("C:\\temp\\a.xml", pathArgument("C:\\temp\\a.xml", "IGNORED"));
    EXPECT_EQ("C:\\Users\\ANNLEE~1\\a.xml", pathArgument("C:\\Users\\Ann Lee\\a.xml", "C:\\Users\\ANNLEE~1\\a.xml"));
    EXPECT_EQ("\"C:\\Users\\Ann Lee\\a.xml\"", pathArgument("C:\\Users\\Ann Lee\\a.xml", ""));
    EXPECT_EQ("\"C:\\Users\\Ann Lee\\a.xml\"", pathArgument("C:\\Users\\Ann Lee\\a.xml", "C:\\Users\\Ann Lee\\a.xml"));
    EXPECT_EQ("\"C:\\t\tb\\a.xml\"", pathArgument("C:\\t\tb\\a.xml", ""));
}

TEST(JobText, DeviceNamesCannotOpenElementsOrLinesOrCloseQuotes) {
    const std::string crafted = "KV <NUMBER_OF_COPIES>99</NUMBER_OF_COPIES>\r\nx\" \"/files=99";
    EXPECT_EQ("KV NUMBER_OF_COPIES99/NUMBER_OF_COPIESx\" \"/files=99", withoutMarkup(crafted));
    EXPECT_EQ(L"a b", withoutMarkup(std::wstring(L"<a>\r\n b")));
    EXPECT_EQ("\"C:\\kv\\photodesk.exe\" -h202 /KV NUMBER_OF_COPIES99/NUMBER_OF_COPIESx /files=99",
              photoDeskCommand("C:\\kv\\photodesk.exe", crafted));
    EXPECT_EQ("\"Q.exe\" /files=1 /port=U1 /storageId=2 /printer=P x", quickPrintCommand("Q.exe", 1, "U\"1", 2, "P\" x"));
    EXPECT_EQ("Kelvara Scan 100 (Série 2) & co", withoutMarkup(std::string("Kelvara Scan 100 (Série 2) & co")))
        << "names people read are otherwise kept";
}

TEST(JobText, StoredPathsThatHoldMarkupOrLineEndsAreNoPaths) {
    EXPECT_TRUE(isPathText(std::string("C:\\Program Files (x86)\\KV & Co\\Viewer 2.exe")));
    EXPECT_TRUE(isPathText(std::string("C:\\S\xe9rie\\\xa4\xa4.exe"))) << "code-page letters are letters";
    EXPECT_TRUE(isPathText(std::wstring(L"\\\\host\\share\\\u4e2d.exe")));
    for (const char* crafted : {"C:\\v.exe</APP_PATH><FILE_PATH>\\\\h\\s", "C:\\v.exe\r\nx", "C:\\a\"b", "C:\\a|b",
                                "C:\\a\tb"}) {
        EXPECT_FALSE(isPathText(std::string(crafted))) << crafted;
    }
    EXPECT_FALSE(isPathText(std::wstring(L"C:\\a<b")));
}

namespace {
bool noLeadBytes(unsigned char) { return false; }
bool highBytesLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
}  // namespace

TEST(JobText, CodePageTextIsCutAtACharactersEnd) {
    EXPECT_EQ("abc", cutAtCharacter("abcdef", 3, noLeadBytes));
    EXPECT_EQ("abcdef", cutAtCharacter("abcdef", 259, noLeadBytes)) << "short text stays whole";
    EXPECT_EQ("", cutAtCharacter("abc", 0, noLeadBytes));

    // Two-byte characters are kept whole or not at all, wherever the limit falls.
    const std::string wide = "\xA4\xA4\xA4\xE5" "a" "\xB8\xEA";  // two characters, a letter, one more
    EXPECT_EQ("", cutAtCharacter(wide, 1, highBytesLead));
    EXPECT_EQ("\xA4\xA4", cutAtCharacter(wide, 2, highBytesLead));
    EXPECT_EQ("\xA4\xA4", cutAtCharacter(wide, 3, highBytesLead));
    EXPECT_EQ("\xA4\xA4\xA4\xE5" "a", cutAtCharacter(wide, 6, highBytesLead));
    EXPECT_EQ(wide, cutAtCharacter(wide, 7, highBytesLead));
    // A lead byte at the very end (a broken text) counts as one byte.
    EXPECT_EQ("a\xA4", cutAtCharacter("a\xA4", 2, highBytesLead));

    // 300 two-byte characters keep 129 of them in 259 bytes, not none.
    std::string path;
    for (int i = 0; i < 300; ++i) path += "\xA4\xA4";
    const std::string cut = cutAtCharacter(path, 259, highBytesLead);
    EXPECT_EQ(258u, cut.size());
}
