// Bytes as the simulator's pipe and journal show them, written by the simulator and by the panel
// tool that talks to it: upper-case hex pairs separated by one blank ("01 00 33").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace standin {

inline std::string hexText(const std::vector<uint8_t>& bytes) {
    std::string out;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof(pair), "%02X", byte);
        out += (out.empty() ? "" : " ") + std::string(pair);
    }
    return out;
}

}  // namespace standin
