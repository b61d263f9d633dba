#include "Destinations.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
DestinationValues values() {
    DestinationValues v;
    v.portName = "USB001";
    v.colorModeText = "color";
    v.ocrFlag = "1";
    v.faxProgram = "C:\\Fax\\FaxDesk.exe";
    return v;
}

const char kStamp[] = "2024-03-05 07;08;09";
const std::string kHead = "<SCANJOB><DEST_TYPE>";
const std::string kPort = "<PORT_NAME>USB001</PORT_NAME>";
const std::string kSourceAio = "<SCAN_SOURCE>5</SCAN_SOURCE><MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT>";
const std::string kTail = "<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>";
}  // namespace

TEST(Destinations, FileAndFaxJobs) {
    EXPECT_EQ(kHead + "file</DEST_TYPE>" + kPort + kSourceAio + "<CROPPING>autocrop</CROPPING><OCR>1</OCR>\r\n" + kTail,
              fileJob(values()).bytes());
    EXPECT_EQ(kHead + "fax</DEST_TYPE>" + kPort + kSourceAio +
                  "<APP_PATH>C:\\Fax\\FaxDesk.exe</APP_PATH>\r\n<DPI_X>150</DPI_X>\r\n<DPI_Y>150</DPI_Y>\r\n" + kTail,
              faxJob(values()).bytes())
        << "no OCR element for fax";
}

TEST(Destinations, FolderJobLeavesSourceAndPromptOutOnlyForJpg) {
    for (const char* type : {"jpg", "JPG", "jPg"}) {
        EXPECT_EQ(kHead + "file</DEST_TYPE>" + kPort + "<OCR>1</OCR>\r\n<FILE_PATH>C:\\Scans\\" + kStamp + "." + type +
                      "</FILE_PATH>\r\n" + kTail,
                  folderJob(values(), "C:\\Scans", type, kStamp).bytes())
            << type;
    }
    EXPECT_EQ(kHead + "file</DEST_TYPE>" + kPort + kSourceAio + "<OCR>1</OCR>\r\n<FILE_PATH>C:\\Scans\\" + kStamp +
                  ".tif</FILE_PATH>\r\n" + kTail,
              folderJob(values(), "C:\\Scans", "tif", kStamp).bytes());
    // The extension keeps 4 characters; a longer jpg-like type is no jpg.
    const ScanJob cut = folderJob(values(), "C:\\Scans", "jpegx", kStamp);
    EXPECT_EQ(std::string("C:\\Scans\\") + kStamp + ".jpeg", cut.filePath());
    EXPECT_EQ("5", cut.scanSource());
    EXPECT_EQ("5", folderJob(values(), "C:\\Scans", "jp", kStamp).scanSource());
}

TEST(Destinations, ApplicationJobSourceOnlyForPptAsWritten) {
    for (const char* type : {"PPT", "ppt"}) {
        EXPECT_EQ(kHead + "application</DEST_TYPE>" + kPort + kSourceAio +
                      "<OCR>1</OCR>\r\n<APP_PATH>C:\\Apps\\Show.exe</APP_PATH>\r\n<DEFAULT_FILE_TYPE>" + type +
                      "</DEFAULT_FILE_TYPE>\r\n" + kTail,
                  applicationJob(values(), "C:\\Apps\\Show.exe", type).bytes())
            << type;
    }
    EXPECT_EQ(kHead + "application</DEST_TYPE>" + kPort +
                  "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><OCR>1</OCR>\r\n<APP_PATH>C:\\Apps\\Show.exe</APP_PATH>\r\n"
                  "<DEFAULT_FILE_TYPE>Ppt</DEFAULT_FILE_TYPE>\r\n" +
                  kTail,
              applicationJob(values(), "C:\\Apps\\Show.exe", "Ppt").bytes());
    EXPECT_EQ("", applicationJob(values(), "C:\\Apps\\Show.exe", "PPTX").scanSource());
}

TEST(Destinations, EmailJobIsPdfOnlyWhenBit7IsSet) {
    const std::string pdf = kHead + "email</DEST_TYPE>" + kPort +
                            "<SCAN_SOURCE>3</SCAN_SOURCE><OCR>1</OCR>\r\n<DEFAULT_FILE_TYPE>PDF</DEFAULT_FILE_TYPE>\r\n"
                            "<DPI_X>300</DPI_X>\r\n<DPI_Y>300</DPI_Y>\r\n" +
                            kTail;
    const std::string jpg = kHead + "email</DEST_TYPE>" + kPort +
                            "<SCAN_SOURCE>2</SCAN_SOURCE><MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT>"
                            "<CROPPING>autocrop</CROPPING><OCR>1</OCR>\r\n<DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n"
                            "<DPI_X>150</DPI_X>\r\n<DPI_Y>150</DPI_Y>\r\n" +
                            kTail;
    EXPECT_EQ(pdf, emailJob(values(), 0x80).bytes());
    EXPECT_EQ(pdf, emailJob(values(), 0xFF).bytes());
    EXPECT_EQ(jpg, emailJob(values(), 0x00).bytes());
    EXPECT_EQ(jpg, emailJob(values(), 0x7F).bytes()) << "the other bits do not matter";
}

TEST(Destinations, PrintJobCopiesAndColourNumber) {
    const std::string head = kHead + "printer</DEST_TYPE>" + kPort + "<PRINTER_NAME>KV Printer</PRINTER_NAME>\r\n";
    EXPECT_EQ(head + "<NUMBER_OF_COPIES>3</NUMBER_OF_COPIES>\r\n<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>",
              printJob("USB001", "KV Printer", 3, 2).bytes());
    EXPECT_EQ(head + "<NUMBER_OF_COPIES>1</NUMBER_OF_COPIES>\r\n<COLOR_MODE>grayscale</COLOR_MODE>\r\n</SCANJOB>",
              printJob("USB001", "KV Printer", 1, 1).bytes());
    EXPECT_EQ("1234", printJob("USB001", "KV Printer", 123456, 0).numberOfCopies());
    EXPECT_EQ("9999", printJob("USB001", "KV Printer", 9999, 0).numberOfCopies());
}

TEST(Destinations, TextsAreCutToTheirRoomButPathsNever) {
    DestinationValues v = values();
    v.faxProgram = std::string(1000, 'f');
    EXPECT_EQ(std::string(260, 'f'), faxJob(v).appPath());
    // A cut path would name another program or file: paths stay whole, for the caller to refuse.
    EXPECT_EQ(std::string(1000, 'a'), applicationJob(v, std::string(1000, 'a'), "bmp").appPath());
    const std::string path = std::string(240, 'd') + "\\" + kStamp + ".tiff";
    EXPECT_EQ(path, folderFilePath(std::string(240, 'd'), kStamp, "tiffany"));
    EXPECT_EQ(path, folderJob(v, std::string(240, 'd'), "tiffany", kStamp).filePath());
}

TEST(PaperSize, EachAreaCodeAndTheRest) {
    struct Expected {
        int code;
        float width, height;
        const char *widthText, *heightText;
    };
    const Expected table[] = {
        {1, 8.5f, 11.0f, "85000", "110000"},     {2, 7.1653f, 10.1181f, "71653", "101181"},
        {3, 8.2677f, 11.6929f, "82677", "116929"}, {4, 5.8268f, 8.2677f, "58268", "82677"},
        {5, 4.13385f, 5.8268f, "41338", "58268"}, {6, 2.5f, 3.5f, "25000", "35000"},
        {7, 3.0f, 5.0f, "30000", "50000"},       {8, 4.0f, 6.0f, "40000", "60000"},
        {9, 5.0f, 7.0f, "50000", "70000"},       {10, 8.0f, 10.0f, "80000", "100000"},
        {11, 3.504f, 5.0f, "35040", "50000"},     {12, 5.0f, 7.0f, "50000", "70000"},
        {13, 11.0f, 14.0f, "110000", "140000"},   {14, 4.0f, 8.0f, "40000", "80000"},
        {15, 2.25f, 3.25f, "22500", "32500"},     {0, 0.0f, 0.0f, "0", "0"},
        {16, 0.0f, 0.0f, "0", "0"},              {-1, 0.0f, 0.0f, "0", "0"},
    };
    for (const Expected& e : table) {
        const PaperSize size = lookupPaperSize(e.code);
        EXPECT_EQ(e.width, size.width) << e.code;  // exact: the nearest 32-bit floats
        EXPECT_EQ(e.height, size.height) << e.code;
        EXPECT_STREQ(e.widthText, size.widthText) << e.code;
        EXPECT_STREQ(e.heightText, size.heightText) << e.code;
    }
}
