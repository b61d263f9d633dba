#include "JobFile.h"
#include "ScanJob.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(ScanJob, EmptyValuesLeaveOnlyTheTwoFixedElementsOnOneLine) {
    ScanJob job;
    EXPECT_EQ("<SCANJOB><DEST_TYPE></DEST_TYPE><PORT_NAME></PORT_NAME></SCANJOB>", job.bytes());

    job.setDestType("file");
    job.setPortName("P");
    job.setCropping("autocrop");
    EXPECT_EQ("<SCANJOB><DEST_TYPE>file</DEST_TYPE><PORT_NAME>P</PORT_NAME><CROPPING>autocrop</CROPPING></SCANJOB>",
              job.bytes());

    ScanJob gray;
    gray.setColorMode(1);
    EXPECT_EQ("<SCANJOB><DEST_TYPE></DEST_TYPE><PORT_NAME></PORT_NAME><COLOR_MODE>grayscale</COLOR_MODE>\r\n</SCANJOB>",
              gray.bytes());
    for (int number : {0, 2, -1}) {
        gray.setColorMode(number);
        EXPECT_EQ("color", gray.colorMode()) << number;
    }
}

TEST(ScanJob, AllFourteenValuesInFileOrderWithTheirLineEnds) {
    ScanJob job;
    // Set in another order than written, to show the order is the file's own.
    job.setColorMode("color");
    job.setNumberOfCopies("2");
    job.setPrinterName("KV Printer");
    job.setFilePath("C:\\Scans\\a.pdf");
    job.setDpiY("301");
    job.setDpiX("300");
    job.setDefaultFileType("PDF");
    job.setAppPath("C:\\Apps\\Editor.exe");
    job.setOCR("1");
    job.setCropping("autocrop");
    job.setMultiFbPrompt("AIO");
    job.setScanSource("5");
    job.setPortName("USB001");
    job.setDestType("application");
    EXPECT_EQ(
        "<SCANJOB><DEST_TYPE>application</DEST_TYPE><PORT_NAME>USB001</PORT_NAME><SCAN_SOURCE>5</SCAN_SOURCE>"
        "<MULTI_FB_PROMPT>AIO</MULTI_FB_PROMPT><CROPPING>autocrop</CROPPING><OCR>1</OCR>\r\n"
        "<APP_PATH>C:\\Apps\\Editor.exe</APP_PATH>\r\n<DEFAULT_FILE_TYPE>PDF</DEFAULT_FILE_TYPE>\r\n"
        "<DPI_X>300</DPI_X>\r\n<DPI_Y>301</DPI_Y>\r\n<FILE_PATH>C:\\Scans\\a.pdf</FILE_PATH>\r\n"
        "<PRINTER_NAME>KV Printer</PRINTER_NAME>\r\n<NUMBER_OF_COPIES>2</NUMBER_OF_COPIES>\r\n"
        "<COLOR_MODE>color</COLOR_MODE>\r\n</SCANJOB>",
        job.bytes());

    // Values go out exactly as they are: the reading program expects no escaping.
    ScanJob raw;
    raw.setPortName("<PortName>a&b</PortName>");
    raw.setAppPath("C:\\R&D\\<x>.exe");
    EXPECT_EQ(
        "<SCANJOB><DEST_TYPE></DEST_TYPE><PORT_NAME><PortName>a&b</PortName></PORT_NAME>"
        "<APP_PATH>C:\\R&D\\<x>.exe</APP_PATH>\r\n</SCANJOB>",
        raw.bytes());
}

TEST(ScanJobFile, WriteReplacesTheFileWithTheJobsBytes) {
    TempFolder folder;
    const std::string path = folder.file("LightScanXML1.xml");
    writeFile(path, std::string(500, 'x'));
    ScanJob job;
    job.setDestType("file");
    job.setPortName("USB001");
    job.setOCR("0");
    EXPECT_TRUE(job.write(path.c_str()));
    EXPECT_EQ(job.bytes(), readFile(path)) << "an older, longer file is truncated";

    const std::string missing = folder.file("no folder\\job.xml");
    EXPECT_FALSE(job.write(missing.c_str()));
    EXPECT_FALSE(fileExists(missing));
}

TEST(ScanJobFile, WriteJobBytesReportsTheFailingStepsError) {
    TempFolder folder;
    const std::string path = folder.file("job.xml");
    EXPECT_EQ(0u, writeJobBytes(path.c_str(), "first", true));
    EXPECT_EQ("first", readFile(path));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_EXISTS), writeJobBytes(path.c_str(), "second", true));
    EXPECT_EQ("first", readFile(path)) << "a new-only write leaves an existing file alone";
    EXPECT_EQ(0u, writeJobBytes(path.c_str(), "", false));
    EXPECT_EQ("", readFile(path));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_PATH_NOT_FOUND),
              writeJobBytes(folder.file("none\\job.xml").c_str(), "x", false));

    // A reader that shares nothing keeps the writer out.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader) << GetLastError();
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SHARING_VIOLATION), writeJobBytes(path.c_str(), "x", false));
    CloseHandle(reader);
}
