// The panel tool's report builder: named commands to panel report bytes and simulator commands.
#include "PanelReport.h"

#include <gtest/gtest.h>

using panel::Bytes;
using panel::Command;

namespace {
Command build(const std::vector<std::string>& words, const std::string& port = "USB001", int hid = 0) {
    return panel::buildCommand(words, port, hid);
}

std::string reportHex(const std::vector<std::string>& words) {
    const Command command = build(words);
    if (command.kind != Command::Report) return "not a report: " + command.error + command.control;
    return panel::toHex(command.report);
}

std::string controlLine(const std::vector<std::string>& words, const std::string& port = "USB001", int hid = 0) {
    const Command command = build(words, port, hid);
    return command.kind == Command::Control ? command.control : "not a control line: " + command.error;
}

// Each word list is refused as a whole.
void expectRefused(const std::vector<std::vector<std::string>>& cases) {
    for (const auto& words : cases) {
        std::string line;
        for (const std::string& word : words) line += word + " ";
        EXPECT_EQ(Command::Invalid, build(words).kind) << line;
    }
}
}  // namespace

TEST(PanelReport, ScanCarriesModeResolutionPaperAndApplication) {
    EXPECT_EQ("01 00 33 00 00 00 02 03", reportHex({"scan", "--gray", "--dpi", "300", "--paper", "3", "--app", "3"}))
        << "a grayscale scan at 300 dpi on paper 3 to the third application";
    EXPECT_EQ("01 00 03 00 00 00 01 FF", reportHex({"scan"})) << "defaults: colour, 300 dpi, no application";
    EXPECT_EQ("01 00 03 00 00 00 01 FF", reportHex({"scan", "--color", "--app", "none"}));
    EXPECT_EQ("01 01 F7 00 00 00 03 FE", reportHex({"scan", "--code", "3", "--dpi", "4800", "--paper", "15", "--app",
                                                    "254", "--origin", "1"}));
    EXPECT_EQ("01 00 10 00 00 00 01 01", reportHex({"scan", "--dpi", "0", "--paper", "1", "--app", "1"}));
    const int dpis[] = {0, 75, 150, 300, 600, 1200, 2400, 4800};
    for (int code = 0; code < 8; ++code) EXPECT_EQ(code, panel::resolutionCode(dpis[code])) << dpis[code];
    EXPECT_EQ(-1, panel::resolutionCode(301));

    // No resolution code, four bits of paper code, applications count from 1 and 255 means none,
    // origin 2 is the host's, an option without its value.
    expectRefused({{"scan", "--dpi", "301"}, {"scan", "--paper", "16"}, {"scan", "--app", "0"}, {"scan", "--app", "255"},
                   {"scan", "--color", "--gray"}, {"scan", "--code", "2", "--gray"}, {"scan", "--code", "4"},
                   {"scan", "--origin", "2"}, {"scan", "--dpi"}, {"scan", "--fast"}, {"scan", "now"}});
}

TEST(PanelReport, OtherRequestsCarryTheirCodesAndParameters) {
    EXPECT_EQ("01 00 00 00 00 00 05 0C", reportHex({"copy", "--count", "12"})) << "colour copy";
    EXPECT_EQ("01 00 00 00 00 00 0A 01", reportHex({"copy", "--gray"})) << "grayscale copy, one by default";
    EXPECT_EQ("01 00 00 00 00 02 09 0C", reportHex({"autoprint", "--files", "12", "--storage", "2"}));
    EXPECT_EQ("01 00 00 00 00 00 10 01", reportHex({"duplex", "on"}));
    EXPECT_EQ("01 00 00 00 00 00 10 00", reportHex({"duplex", "off"}));
    EXPECT_EQ("01 00 00 00 00 00 04 00", reportHex({"fax"}));
    EXPECT_EQ("01 00 00 00 00 00 06 00", reportHex({"ink"}));
    EXPECT_EQ("01 00 00 00 00 00 07 00", reportHex({"card"}));
    EXPECT_EQ("01 01 00 00 00 00 08 00", reportHex({"list", "--origin", "1"}));
    EXPECT_EQ("01 00 00 00 00 00 99 00", reportHex({"cancel"}));
    EXPECT_EQ("01 02 00 00 00 00 01 00", reportHex({"host", "list"}));
    EXPECT_EQ("01 02 00 00 00 00 99 00", reportHex({"host", "cancel"}));
    EXPECT_EQ("01 02 00 00 00 00 07 00", reportHex({"host", "7"}));
    EXPECT_EQ("02 00 33 0A FF", reportHex({"raw", "02", "0033", "0a ff"})) << "any bytes, any grouping";
    EXPECT_EQ("", reportHex({"raw"})) << "an empty report";

    expectRefused({{"copy", "--count", "256"}, {"duplex"}, {"duplex", "maybe"}, {"host"}, {"host", "256"},
                   {"raw", "0"} /* half a byte */, {"raw", "zz"}, {"fax", "--count", "2"}, {"explode"}, {}});

    EXPECT_EQ("report USB001 0 01 00", panel::reportLine("USB001", 0, Bytes{1, 0}));
    EXPECT_EQ("report \"My Port\" 2", panel::reportLine("My Port", 2, Bytes{})) << "a port with a blank is quoted";
}

TEST(PanelReport, SimulatorCommandsAreAddressedAndQuoted) {
    EXPECT_EQ("notify NET7 1 2 1", controlLine({"notify", "2", "1"}, "NET7", 1));
    EXPECT_EQ("notify USB001 0 2 2", controlLine({"hidopen", "error"}));
    EXPECT_EQ("notify USB001 0 2 1", controlLine({"hidopen", "ok"}));
    EXPECT_EQ("arrive port=USB002 model=\"KV Scan 200\" hids=2",
              controlLine({"arrive", "port=USB002", "model=KV Scan 200", "hids=2"}));
    EXPECT_EQ("remove USB001", controlLine({"remove"})) << "the addressed port by default";
    EXPECT_EQ("remove USB002", controlLine({"remove", "USB002"}));
    EXPECT_EQ("fail open 2 port=USB001", controlLine({"fail", "open", "2", "port=USB001"}));
    EXPECT_EQ("devices", controlLine({"devices"}));
    EXPECT_EQ("ping", controlLine({"ping"}));
    EXPECT_EQ("report USB001 0 01", controlLine({"send", "report", "USB001", "0", "01"}));
    expectRefused({{"notify", "2"}, {"notify", "a", "b"}, {"arrive"}, {"fail", "open"}, {"send"}});
}

TEST(PanelReport, RepliesAreToldInPlainWordsWithTheExitCode) {
    const auto delivered = panel::describeReply("ok delivered result=13");
    EXPECT_EQ(0, delivered.exitCode);
    EXPECT_EQ("Delivered: the registered callback returned 13.", delivered.words);
    EXPECT_EQ(1, panel::describeReply("ok not registered").exitCode);
    const auto refusal = panel::describeReply("error unknown port USB009");
    EXPECT_EQ(1, refusal.exitCode);
    EXPECT_EQ("Refused by the simulator: unknown port USB009", refusal.words);
    EXPECT_EQ(0, panel::describeReply("ok added port=USB002 hids=769 windows=1").exitCode);
    EXPECT_EQ(0, panel::describeReply("ok pong").exitCode);
    EXPECT_EQ(2, panel::describeReply("").exitCode);
    EXPECT_EQ(1, panel::describeReply("garbage").exitCode);
}
