#include "PanelRequest.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PanelRequest, DecodesTheFieldsOfAPanelScan) {
    const uint8_t report[] = {0x01, 0x00, 0x33, 0x07, 0x09, 0x02, 0x02, 0x03, 0xEE};
    PanelRequest request;
    std::memset(&request, 0xAB, sizeof(request));
    int32_t code = -1;
    ASSERT_EQ(0, decodePanelReport(report, request, code));
    EXPECT_EQ(2, code);
    EXPECT_EQ(1, request.messageType);
    EXPECT_EQ(0, request.origin);
    EXPECT_EQ(300, request.resolutionX);
    EXPECT_EQ(300, request.resolutionY);
    EXPECT_EQ(3, request.paperSize);
    EXPECT_EQ(7, request.panelByte3);
    EXPECT_EQ(2, request.storageId);
    EXPECT_EQ(2, request.requestCode);
    EXPECT_EQ(3, request.parameter);
    EXPECT_EQ(2, applicationIndexFor(request.parameter)) << "the panel counts from 1";
    EXPECT_EQ(0, request.reserved);
    for (int32_t word : request.reservedTail) ASSERT_EQ(0, word);
}

TEST(PanelRequest, ResolutionCodesIgnoreBitThreeAndPaperBits) {
    const int32_t expected[8] = {0, 75, 150, 300, 600, 1200, 2400, 4800};
    for (uint8_t code = 0; code < 8; ++code) {
        uint8_t report[8] = {1, 0, static_cast<uint8_t>(0xF8 | code), 0, 0, 0, 1, 1};
        PanelRequest request;
        int32_t requestCode = 0;
        decodePanelReport(report, request, requestCode);
        EXPECT_EQ(expected[code], request.resolutionX);
        EXPECT_EQ(15, request.paperSize);
    }
}

TEST(PanelRequest, OtherMessageTypesAreClearedAndNullIsLeftAlone) {
    const uint8_t report[] = {2, 0, 0x33, 0, 0, 0, 2, 3};
    PanelRequest request;
    std::memset(&request, 0xAB, sizeof(request));
    int32_t code = 77;
    EXPECT_EQ(1, decodePanelReport(report, request, code));
    EXPECT_EQ(77, code) << "the code is only set for a panel message";
    EXPECT_EQ(0, request.origin);
    EXPECT_EQ(0, request.parameter);

    std::memset(&request, 0xAB, sizeof(request));
    EXPECT_EQ(0, decodePanelReport(nullptr, request, code));
    EXPECT_EQ(static_cast<int32_t>(0xABABABAB), request.origin) << "nothing happens for a null report";
    EXPECT_EQ(0xFF, applicationIndexFor(0xFF)) << "no application chosen stays none";
}

TEST(PanelRequest, DispatchCoversEveryCodeOfBothOrigins) {
    for (int32_t origin : {0, 1}) {
        for (int32_t code = 0; code < 256; ++code) {
            PanelAction action = panelActionFor(origin, code);
            PanelAction expected = PanelAction::NoButton;
            if (code >= 1 && code <= 3) expected = PanelAction::Scan;
            if (code == 4) expected = PanelAction::Fax;
            if (code == 5) expected = PanelAction::ColorCopy;
            if (code == 6) expected = PanelAction::InkReorder;
            if (code == 7) expected = PanelAction::MemoryCard;
            if (code == 8) expected = PanelAction::PanelSendList;
            if (code == 9) expected = PanelAction::AutoPrint;
            if (code == 10) expected = PanelAction::GrayCopy;
            if (code == 16) expected = PanelAction::Duplex;
            if (code == 153) expected = PanelAction::EndSession;
            ASSERT_EQ(expected, action) << "origin " << origin << " code " << code;
        }
    }
    for (int32_t code = 0; code < 256; ++code) {
        PanelAction expected = code == 1 ? PanelAction::HostSendList
                               : code == 153 ? PanelAction::HostCancel
                                             : PanelAction::NoButton;
        ASSERT_EQ(expected, panelActionFor(2, code)) << "host code " << code;
    }
    for (int32_t origin : {3, 4, 255, -1}) EXPECT_EQ(PanelAction::Invalid, panelActionFor(origin, 1));
}

TEST(PanelRequest, ScanMessageNames) {
    EXPECT_STREQ("SCAN_TO_APP", scanRequestName(0));
    EXPECT_STREQ("SEND_APPLIST", scanRequestName(1));
    EXPECT_STREQ("UNKNOWN", scanRequestName(2));
    EXPECT_STREQ("SC_TRANSPORT_LOCAL", scanTransportName(0));
    EXPECT_STREQ("SC_TRANSPORT_NETWORK", scanTransportName(1));
    EXPECT_STREQ("UNKNOWN", scanTransportName(-1));
}
