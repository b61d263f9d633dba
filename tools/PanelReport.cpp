#include "PanelReport.h"

#include "HexText.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

namespace panel {
namespace {
constexpr uint8_t kNoApplication = 0xFF;

// Request codes of panel reports.
constexpr uint8_t kScanColor = 1, kScanGray = 2, kFax = 4, kCopyColor = 5, kInk = 6, kCard = 7, kList = 8,
                  kAutoPrint = 9, kCopyGray = 10, kDuplex = 16, kCancel = 153;
constexpr uint8_t kHostList = 1;

struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positional;
    std::string error;
};

// Words after the command: "--name value" for `valued` names, "--name" alone for `flags`.
Options parseOptions(const std::vector<std::string>& words, const std::set<std::string>& valued,
                     const std::set<std::string>& flags) {
    Options options;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.compare(0, 2, "--") != 0) {
            options.positional.push_back(word);
        } else if (flags.count(word) != 0) {
            options.flags.insert(word);
        } else if (valued.count(word) != 0 && i + 1 < words.size()) {
            options.values[word] = words[++i];
        } else {
            options.error = valued.count(word) != 0 ? word + " needs a value" : "unknown option " + word;
            return options;
        }
    }
    return options;
}

bool integer(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

// The option's value within [low, high], or `fallback` when absent; false with an error otherwise.
bool rangedOption(Options& options, const std::string& name, long low, long high, long fallback, long& value) {
    auto found = options.values.find(name);
    if (found == options.values.end()) {
        value = fallback;
        return true;
    }
    if (integer(found->second, value) && value >= low && value <= high) return true;
    options.error = name + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" +
                    found->second + "'";
    return false;
}

Command invalid(const std::string& error) {
    Command command;
    command.error = error;
    return command;
}

Command report(Bytes bytes) {
    Command command;
    command.kind = Command::Report;
    command.report = std::move(bytes);
    return command;
}

Command control(const std::string& line) {
    Command command;
    command.kind = Command::Control;
    command.control = line;
    return command;
}

// A word as the simulator reads it: quotes around a value with blanks.
std::string quoted(const std::string& word) {
    if (word.find_first_of(" \t") == std::string::npos) return word;
    const size_t equals = word.find('=');
    if (equals != std::string::npos && equals < word.find_first_of(" \t")) {
        return word.substr(0, equals + 1) + "\"" + word.substr(equals + 1) + "\"";
    }
    return "\"" + word + "\"";
}

std::string joined(const std::vector<std::string>& words, size_t first) {
    std::string line;
    for (size_t i = first; i < words.size(); ++i) line += (line.empty() ? "" : " ") + quoted(words[i]);
    return line;
}

// Panel requests take no words beyond their options.
void noPositional(Options& options) {
    if (options.error.empty() && !options.positional.empty()) options.error = "unexpected '" + options.positional[0] + "'";
}

// Where a command goes: the interface's port, and "PORT HID" as the simulator reads them.
struct Target {
    std::string port;
    std::string address;
};

Command panelRequest(const std::vector<std::string>& words, uint8_t code) {
    Options options = parseOptions(words, {"--origin"}, {});
    long origin = 0;
    noPositional(options);
    if (!options.error.empty() || !rangedOption(options, "--origin", 0, 1, 0, origin)) return invalid(options.error);
    return report(makeReport(static_cast<uint8_t>(origin), code, 0));
}

Command scanCommand(const std::vector<std::string>& words, const Target&) {
    Options options = parseOptions(words, {"--app", "--dpi", "--paper", "--code", "--origin"}, {"--color", "--gray"});
    long dpi = 300, paper = 0, origin = 0, code = kScanColor, app = kNoApplication;
    noPositional(options);
    if (options.error.empty() && options.flags.size() > 1) options.error = "--color or --gray, not both";
    if (options.flags.count("--gray")) code = kScanGray;
    if (!options.error.empty() || !rangedOption(options, "--dpi", 0, 4800, 300, dpi) ||
        !rangedOption(options, "--paper", 0, 15, 0, paper) || !rangedOption(options, "--code", 1, 3, code, code) ||
        !rangedOption(options, "--origin", 0, 1, 0, origin)) {
        return invalid(options.error);
    }
    if (options.values.count("--code") && !options.flags.empty()) return invalid("--code or --color/--gray, not both");
    auto chosen = options.values.find("--app");
    if (chosen != options.values.end() && chosen->second != "none" &&
        !rangedOption(options, "--app", 1, 254, kNoApplication, app)) {
        return invalid(options.error + " (or 'none')");
    }
    const int resolution = resolutionCode(static_cast<int>(dpi));
    if (resolution < 0) return invalid("--dpi takes 0, 75, 150, 300, 600, 1200, 2400 or 4800");
    return report(makeReport(static_cast<uint8_t>(origin), static_cast<uint8_t>(code), static_cast<uint8_t>(app),
                             static_cast<uint8_t>(resolution), static_cast<uint8_t>(paper)));
}

Command copyCommand(const std::vector<std::string>& words, const Target&) {
    Options options = parseOptions(words, {"--count", "--origin"}, {"--gray", "--color"});
    long count = 1, origin = 0;
    noPositional(options);
    if (options.error.empty() && options.flags.size() > 1) options.error = "--color or --gray, not both";
    if (!options.error.empty() || !rangedOption(options, "--count", 0, 255, 1, count) ||
        !rangedOption(options, "--origin", 0, 1, 0, origin)) {
        return invalid(options.error);
    }
    const uint8_t code = options.flags.count("--gray") ? kCopyGray : kCopyColor;
    return report(makeReport(static_cast<uint8_t>(origin), code, static_cast<uint8_t>(count)));
}

Command autoPrintCommand(const std::vector<std::string>& words, const Target&) {
    Options options = parseOptions(words, {"--files", "--storage", "--origin"}, {});
    long files = 1, storage = 0, origin = 0;
    noPositional(options);
    if (!options.error.empty() || !rangedOption(options, "--files", 0, 255, 1, files) ||
        !rangedOption(options, "--storage", 0, 255, 0, storage) || !rangedOption(options, "--origin", 0, 1, 0, origin)) {
        return invalid(options.error);
    }
    return report(makeReport(static_cast<uint8_t>(origin), kAutoPrint, static_cast<uint8_t>(files), 0, 0,
                             static_cast<uint8_t>(storage)));
}

Command duplexCommand(const std::vector<std::string>& words, const Target&) {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) return invalid("duplex on|off");
    return report(makeReport(kOriginPanel, kDuplex, words[1] == "on" ? 1 : 0));
}

Command hostCommand(const std::vector<std::string>& words, const Target&) {
    long code = 0;
    if (words.size() == 2 && words[1] == "list") return report(makeReport(kOriginHost, kHostList, 0));
    if (words.size() == 2 && words[1] == "cancel") return report(makeReport(kOriginHost, kCancel, 0));
    if (words.size() == 2 && integer(words[1], code) && code >= 0 && code <= 255) {
        return report(makeReport(kOriginHost, static_cast<uint8_t>(code), 0));
    }
    return invalid("host list|cancel|CODE");
}

Command rawCommand(const std::vector<std::string>& words, const Target&) {
    Bytes bytes;
    std::string text;
    for (size_t i = 1; i < words.size(); ++i) text += words[i] + " ";
    if (!parseHex(text, bytes)) return invalid("raw takes hex byte pairs, e.g. raw 01 00 33 00");
    return report(bytes);
}

// ---- commands for the simulator itself ----

Command notifyCommand(const std::vector<std::string>& words, const Target& target) {
    long cls = 0, code = 0;
    if (words.size() == 3 && integer(words[1], cls) && integer(words[2], code) && cls >= 0 && code >= 0) {
        return control("notify " + target.address + " " + words[1] + " " + words[2]);
    }
    return invalid("notify CLASS CODE");
}

Command hidOpenCommand(const std::vector<std::string>& words, const Target& target) {
    if (words.size() == 2 && (words[1] == "ok" || words[1] == "error")) {
        return control("notify " + target.address + " 2 " + (words[1] == "ok" ? "1" : "2"));
    }
    return invalid("hidopen ok|error");
}

Command arriveCommand(const std::vector<std::string>& words, const Target&) {
    if (words.size() < 2) return invalid("arrive port=NAME [transport=..] [model=..] [hids=N]");
    return control("arrive " + joined(words, 1));
}

Command removeCommand(const std::vector<std::string>& words, const Target& target) {
    if (words.size() > 2) return invalid("remove [PORT]");
    return control("remove " + quoted(words.size() == 2 ? words[1] : target.port));
}

Command failCommand(const std::vector<std::string>& words, const Target&) {
    if (words.size() < 3) return invalid("fail KIND COUNT|always [port=NAME] [code=N]");
    return control("fail " + joined(words, 1));
}

// "devices" and "ping" stand alone.
Command bareCommand(const std::vector<std::string>& words, const Target&) {
    if (words.size() != 1) return invalid("unknown command '" + words[0] + "'");
    return control(words[0]);
}

Command sendCommand(const std::vector<std::string>& words, const Target&) {
    if (words.size() < 2) return invalid("send COMMAND...");
    return control(joined(words, 1));
}

using Builder = Command (*)(const std::vector<std::string>& words, const Target& target);

struct CommandEntry {
    const char* name;
    Builder build;
};

const CommandEntry kCommands[] = {
    {"scan", scanCommand},
    {"copy", copyCommand},
    {"autoprint", autoPrintCommand},
    {"duplex", duplexCommand},
    {"fax", [](const std::vector<std::string>& words, const Target&) { return panelRequest(words, kFax); }},
    {"ink", [](const std::vector<std::string>& words, const Target&) { return panelRequest(words, kInk); }},
    {"card", [](const std::vector<std::string>& words, const Target&) { return panelRequest(words, kCard); }},
    {"list", [](const std::vector<std::string>& words, const Target&) { return panelRequest(words, kList); }},
    {"cancel", [](const std::vector<std::string>& words, const Target&) { return panelRequest(words, kCancel); }},
    {"host", hostCommand},
    {"raw", rawCommand},
    {"notify", notifyCommand},
    {"hidopen", hidOpenCommand},
    {"arrive", arriveCommand},
    {"remove", removeCommand},
    {"fail", failCommand},
    {"devices", bareCommand},
    {"ping", bareCommand},
    {"send", sendCommand},
};
}  // namespace

int resolutionCode(int dpi) {
    static const int kDpi[] = {0, 75, 150, 300, 600, 1200, 2400, 4800};
    for (int code = 0; code < 8; ++code) {
        if (kDpi[code] == dpi) return code;
    }
    return -1;
}

Bytes makeReport(uint8_t origin, uint8_t requestCode, uint8_t parameter, uint8_t resolution, uint8_t paper,
                 uint8_t storage) {
    return Bytes{1, origin, static_cast<uint8_t>((resolution & 0x07) | (paper << 4)), 0, 0, storage, requestCode,
                 parameter};
}

bool parseHex(const std::string& text, Bytes& out) {
    out.clear();
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    }
    return true;
}

std::string toHex(const Bytes& bytes) { return standin::hexText(bytes); }

std::string reportLine(const std::string& port, int hid, const Bytes& report) {
    std::string line = "report " + quoted(port) + " " + std::to_string(hid);
    if (!report.empty()) line += " " + toHex(report);
    return line;
}

Command buildCommand(const std::vector<std::string>& words, const std::string& port, int hid) {
    if (words.empty()) return invalid("no command");
    const Target target{port, quoted(port) + " " + std::to_string(hid)};
    for (const CommandEntry& entry : kCommands) {
        if (words[0] == entry.name) return entry.build(words, target);
    }
    return invalid("unknown command '" + words[0] + "'");
}

Outcome describeReply(const std::string& reply) {
    const std::string delivered = "ok delivered result=";
    if (reply.empty()) return {2, "No reply from the simulator."};
    if (reply.compare(0, delivered.size(), delivered) == 0) {
        return {0, "Delivered: the registered callback returned " + reply.substr(delivered.size()) + "."};
    }
    if (reply == "ok not registered") return {1, "Not delivered: no callback is registered for that interface."};
    if (reply == "ok pong") return {0, "The simulator is listening."};
    if (reply.compare(0, 3, "ok ") == 0) return {0, "Done: " + reply.substr(3)};
    if (reply.compare(0, 6, "error ") == 0) return {1, "Refused by the simulator: " + reply.substr(6)};
    return {1, "Unexpected reply: " + reply};
}

std::string usage(const std::string& program) {
    return "Usage: " + program + " [--pipe NAME | --prefix ABCD] [--port NAME] [--hid N] COMMAND [OPTIONS]\n"
           "Sends one command to the device simulator (default pipe \\\\.\\pipe\\" + program.substr(0, 4) +
           "devlink, port USB001, hid 0).\n"
           "Panel reports:\n"
           "  scan [--app N|none] [--color|--gray|--code 1-3] [--dpi D] [--paper 0-15] [--origin 0|1]\n"
           "  copy [--count N] [--gray]        fax   ink   card   list   cancel\n"
           "  autoprint [--files N] [--storage ID]\n"
           "  duplex on|off\n"
           "  host list|cancel|CODE            host-assist requests\n"
           "  raw [HEX...]                     any bytes, any length\n"
           "Simulator commands:\n"
           "  notify CLASS CODE   hidopen ok|error   arrive port=NAME [transport=T] [model=M] [hids=N]\n"
           "  remove [PORT]   fail KIND COUNT|always [port=NAME] [code=N]   devices   ping   send LINE...\n"
           "Exit code: 0 delivered or done, 1 not delivered or refused, 2 simulator unreachable, 3 usage.\n";
}

}  // namespace panel
