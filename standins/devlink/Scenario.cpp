// The scenario file and the words it shares with the control pipe.
//
// Scenario lines (words separated by blanks; "double quotes" around a value with blanks):
//   # a comment
//   device port=USB001 [transport=USB1] [model="KV Scan 100"] [hids=1] [vid=0] [pid=0]
//   nodevices                  start without devices; a file with neither this nor a device
//                              line (or no file at all) gives the one device shown above
//   fail KIND COUNT [port=NAME] [code=N]
// KIND names the call that fails COUNT times (a number, or "always"; 0 clears) before it works
// again, with result `code` (default 31); `port` limits it to one device:
//   init clientid discovery enum enumspecific getstring open openscanner reports notifications
//   state   (DcsGetCurrentStateHid answers state 2 instead of failing)
#include "Simulator.h"

#include "ModuleFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace devlink {

bool number(const std::string& word, long long& value) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(word.c_str(), &end, hex ? 16 : 10);
    return !word.empty() && errno == 0 && *end == '\0';
}

bool numberIn(const std::string& word, long long low, long long high, long long& value) {
    return number(word, value) && value >= low && value <= high;
}

bool hexBytes(const std::string& hex, std::vector<uint8_t>& bytes) {
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), isHex)) return false;
    for (size_t at = 0; at < hex.size(); at += 2) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(at, 2).c_str(), nullptr, 16)));
    }
    return true;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            word += line[++i];  // \" inside quotes: a quote of the text itself
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            if (inWord) out.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) out.push_back(word);
    return out;
}

bool keyValue(const std::string& word, std::string& key, std::string& value) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    key = word.substr(0, equals);
    value = word.substr(equals + 1);
    return true;
}

std::string parseDevice(const std::vector<std::string>& w, size_t first, Device& device) {
    for (size_t i = first; i < w.size(); ++i) {
        std::string key, value;
        long long n = 0;
        if (!keyValue(w[i], key, value)) return "expected key=value, got '" + w[i] + "'";
        if (key == "port") {
            device.port = value;
        } else if (key == "transport") {
            device.transport = value;
        } else if (key == "model") {
            device.model = value;
        } else if (key == "hids" && numberIn(value, 1, kMaxHids, device.hidCount)) {
        } else if ((key == "vid" || key == "pid") && number(value, n)) {
            (key == "vid" ? device.vid : device.pid) = static_cast<int32_t>(n);
        } else {
            return "bad device setting '" + w[i] + "'";
        }
    }
    if (device.port.empty()) return "a device needs port=NAME";
    if (findDevice(device.port) != nullptr) return "port " + device.port + " exists already";
    return "";
}

namespace {
struct ScenarioRead {
    bool anyDevice = false, noDevices = false;
};

// One line of the scenario: "" or why it is ignored.
std::string scenarioLine(const std::vector<std::string>& w, int number, ScenarioRead& read) {
    if (w[0] == "device") {
        Device device;
        const std::string problem = parseDevice(w, 1, device);
        if (problem.empty()) addDevice(std::move(device));
        read.anyDevice = true;
        return problem;
    }
    if (w[0] == "nodevices" && w.size() == 1) {
        read.noDevices = true;
        return "";
    }
    if (w[0] == "fail") {
        Fault fault;
        const std::string problem = parseFault(w, 1, fault);
        fault.line = number;
        if (problem.empty()) setFault(fault);
        return problem;
    }
    return "unknown line";
}
}  // namespace

void ensureLoaded() {
    if (g_state.loaded) return;
    g_state.loaded = true;
    std::ifstream in(standin::besideModule(g_self, ".scenario"));
    const bool present = in.is_open();
    ScenarioRead read;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto w = words(line);
        if (w.empty() || w[0][0] == '#') continue;
        const std::string problem = scenarioLine(w, number, read);
        if (!problem.empty()) journal("scenario line " + num(number) + " ignored: " + problem);
    }
    if (!read.anyDevice && !read.noDevices) {
        Device device;
        device.port = "USB001";
        addDevice(device);
    }
    applyUsedFaults();
    journal("load scenario=" + (present ? g_name + ".scenario" : std::string("none")) +
            " devices=" + num(g_state.devices.size()) + " faults=" + num(g_state.faults.size()));
}

}  // namespace devlink
