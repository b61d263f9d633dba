// The fault table: faults from the scenario and the pipe, each used up call by call. Scenario
// faults count per process, not per load: the used counts live in the process environment, so
// the reload that follows a failed DcsInitialize does not start them again.
#include "Simulator.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace devlink {
namespace {
// "<pid> <line>:<count> ...": another process's value (inherited) is ignored.
std::string usedVariable() { return g_name + "_used_faults"; }

void recordUsedFault(int line) {
    ++g_state.usedFaults[line];
    std::string value = num(GetCurrentProcessId());
    for (const auto& used : g_state.usedFaults) value += " " + num(used.first) + ":" + num(used.second);
    SetEnvironmentVariableA(usedVariable().c_str(), value.c_str());
}
}  // namespace

std::string parseFault(const std::vector<std::string>& w, size_t first, Fault& fault) {
    static const char* const kKinds[] = {"init", "clientid", "discovery", "enum", "enumspecific", "getstring",
                                         "open", "openscanner", "reports", "notifications", "state"};
    if (w.size() < first + 2) return "expected: fail KIND COUNT [port=NAME] [code=N]";
    fault.kind = w[first];
    if (std::none_of(std::begin(kKinds), std::end(kKinds), [&](const char* kind) { return fault.kind == kind; })) {
        return "unknown fault kind '" + fault.kind + "'";
    }
    if (w[first + 1] == "always") {
        fault.remaining = -1;
    } else if (!numberIn(w[first + 1], 0, 1000000000, fault.remaining)) {
        return "bad count '" + w[first + 1] + "'";
    }
    for (size_t i = first + 2; i < w.size(); ++i) {
        std::string key, value;
        long long code = 0;
        if (keyValue(w[i], key, value) && key == "port") {
            fault.port = value;
        } else if (keyValue(w[i], key, value) && key == "code" && number(value, code)) {
            fault.code = static_cast<LONG>(code);
        } else {
            return "bad fault setting '" + w[i] + "'";
        }
    }
    return "";
}

void setFault(const Fault& fault) {
    auto& faults = g_state.faults;
    faults.erase(std::remove_if(faults.begin(), faults.end(),
                                [&](const Fault& f) { return f.kind == fault.kind && sameText(f.port, fault.port); }),
                 faults.end());
    if (fault.remaining != 0) faults.push_back(fault);
}

void applyUsedFaults() {
    char value[2048] = {};
    const DWORD length = GetEnvironmentVariableA(usedVariable().c_str(), value, sizeof(value));
    std::istringstream in(length < sizeof(value) ? value : "");
    unsigned long pid = 0;
    int line = 0;
    char colon = 0;
    long long count = 0;
    if (!(in >> pid) || pid != GetCurrentProcessId()) return;
    while (in >> line >> colon >> count) g_state.usedFaults[line] = count;
    auto& faults = g_state.faults;
    for (Fault& fault : faults) {
        auto used = g_state.usedFaults.find(fault.line);
        if (fault.remaining > 0 && used != g_state.usedFaults.end()) {
            fault.remaining = std::max(0LL, fault.remaining - used->second);
        }
    }
    faults.erase(std::remove_if(faults.begin(), faults.end(), [](const Fault& f) { return f.remaining == 0; }),
                 faults.end());
}

bool takeFault(const char* kind, const std::string& port, LONG& code) {
    auto& faults = g_state.faults;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->kind != kind || (!it->port.empty() && !sameText(it->port, port))) continue;
        code = it->code;
        if (it->line != 0) recordUsedFault(it->line);
        if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
        return true;
    }
    return false;
}

}  // namespace devlink
