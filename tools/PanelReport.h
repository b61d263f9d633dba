// The panel tool's words: turns a named command into the 8-byte panel report or the simulator
// command it stands for, and a simulator reply into plain words. No system calls here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace panel {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kOriginPanel = 0;
constexpr uint8_t kOriginHost = 2;

// Resolution code (0-7) for a resolution in dots per inch; -1 when the value has none.
int resolutionCode(int dpi);

// Byte 0 is the message type (always 1), byte 2 the resolution code with the paper code above
// it, byte 6 the request code, byte 7 its parameter.
Bytes makeReport(uint8_t origin, uint8_t requestCode, uint8_t parameter, uint8_t resolution = 0, uint8_t paper = 0,
                 uint8_t storage = 0);

// Hex byte pairs, optionally separated by blanks: "01 00 33" or "010033".
bool parseHex(const std::string& text, Bytes& out);
std::string toHex(const Bytes& bytes);  // "01 00 33"

struct Command {
    enum Kind { Report, Control, Invalid } kind = Invalid;
    Bytes report;         // Report: the bytes to inject
    std::string control;  // Control: the simulator command line
    std::string error;    // Invalid: what is wrong
};

// `words` is the command and its options (see usage()); `port` and `hid` address the interface.
Command buildCommand(const std::vector<std::string>& words, const std::string& port, int hid);

// The simulator command that injects `report` into interface `hid` of `port`.
std::string reportLine(const std::string& port, int hid, const Bytes& report);

struct Outcome {
    int exitCode;  // 0 delivered or done, 1 not delivered or refused, 2 no reply
    std::string words;
};
Outcome describeReply(const std::string& reply);

// `program` is the tool's file name; its first 4 characters name the default pipe.
std::string usage(const std::string& program);

}  // namespace panel
