// The report storm:
//   storm PORT HID COUNT SEED [threads=N] [mutate=PERMILLE] [exact=0|1] [base=HEX]...
//                                      ok storm sent=N delivered=D unregistered=U results=R:n,...
// N threads each hand COUNT generated reports (lengths 0-64, random bytes, or with the given
// chance in a thousand a base with bytes changed) straight to the registered callback, on
// threads of their own, so a test can send millions without a pipe round trip each; only the
// command is journaled, and the same seed gives the same reports. With exact=1 each caller sends
// the bases in turn, unchanged. A report whose interface is not registered waits up to 2 s for
// it before it counts as unregistered.
#include "Simulator.h"

namespace devlink {
namespace {

struct StormSpec {
    DcsHandle handle = 0;
    long long count = 0;
    long long threads = 1;
    uint32_t seed = 1;
    long long mutatePermille = 0;
    bool exact = false;  // the bases in turn, unchanged
    std::vector<std::vector<uint8_t>> bases;
};

struct StormTally {
    long long delivered = 0, unregistered = 0;
    std::map<LONG, long long> results;
};

struct StormThread {
    const StormSpec* spec;
    uint32_t seed;
    StormTally tally;
};

uint32_t nextRandom(uint32_t& state) {  // xorshift32: repeatable from the seed
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Lengths 0 to 64; random bytes, half of them with the panel-report first byte, or now and then
// one of the bases with one to three bytes changed.
std::vector<uint8_t> stormReport(const StormSpec& spec, uint32_t& state, long long index) {
    if (spec.exact && !spec.bases.empty()) return spec.bases[static_cast<size_t>(index) % spec.bases.size()];
    std::vector<uint8_t> bytes;
    if (!spec.bases.empty() && static_cast<long long>(nextRandom(state) % 1000) < spec.mutatePermille) {
        bytes = spec.bases[nextRandom(state) % spec.bases.size()];
        for (uint32_t changes = 1 + nextRandom(state) % 3; changes-- > 0 && !bytes.empty();) {
            bytes[nextRandom(state) % bytes.size()] = static_cast<uint8_t>(nextRandom(state));
        }
        if (nextRandom(state) % 8 == 0) bytes.resize(nextRandom(state) % 65);
        return bytes;
    }
    bytes.resize(nextRandom(state) % 65);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(nextRandom(state));
    if (!bytes.empty() && nextRandom(state) % 2 == 0) bytes[0] = 1;
    return bytes;
}

// The registration of `handle`, waited for up to kStormWaitMs: a monitor that re-enumerates
// unregisters for a moment, and the storm should not run through the rest undelivered.
const HidState* registered(Locked& hold, DcsHandle handle) {
    auto found = g_state.hids.find(handle);
    for (const DWORD start = GetTickCount();
         (found == g_state.hids.end() || found->second.report == nullptr) && GetTickCount() - start < kStormWaitMs;
         found = g_state.hids.find(handle)) {
        hold.wait(50);
    }
    return found == g_state.hids.end() || found->second.report == nullptr ? nullptr : &found->second;
}

DWORD WINAPI stormThread(void* parameter) {
    StormThread& run = *static_cast<StormThread*>(parameter);
    uint32_t state = run.seed != 0 ? run.seed : 1;
    for (long long i = 0; i < run.spec->count; ++i) {
        const std::vector<uint8_t> bytes = stormReport(*run.spec, state, i);
        Locked hold;
        const HidState* found = registered(hold, run.spec->handle);
        if (found == nullptr) {
            ++run.tally.unregistered;
            continue;
        }
        const HidState hid = *found;
        static const uint8_t kNothing = 0;
        const LONG result = callOutside(hold, run.spec->handle, [&] {
            return hid.report(hid.reportClient, run.spec->handle, bytes.empty() ? &kNothing : bytes.data(),
                              static_cast<uint32_t>(bytes.size()));
        });
        changed();
        ++run.tally.delivered;
        ++run.tally.results[result];
    }
    return 0;
}

// The optional key=value words from the sixth on: "" or the error reply.
std::string stormOptions(const std::vector<std::string>& w, StormSpec& spec) {
    for (size_t i = 5; i < w.size(); ++i) {
        std::string key, value;
        if (!keyValue(w[i], key, value)) return "error bad word '" + w[i] + "'";
        if (key == "threads" && numberIn(value, 1, 64, spec.threads)) continue;
        if (key == "mutate" && numberIn(value, 0, 1000, spec.mutatePermille)) continue;
        if (key == "exact" && (value == "0" || value == "1")) {
            spec.exact = value == "1";
            continue;
        }
        std::vector<uint8_t> bytes;
        if (key == "base" && !value.empty() && hexBytes(value, bytes)) {
            spec.bases.push_back(std::move(bytes));
            continue;
        }
        return "error bad value '" + w[i] + "'";
    }
    return "";
}

// "" or the error reply.
std::string parseStorm(const std::vector<std::string>& w, StormSpec& spec) {
    if (w.size() < 5) return "error expected: storm PORT HID COUNT SEED [threads=N] [mutate=PERMILLE] [exact=0|1] [base=HEX]...";
    long long hid = 0, seed = 0;
    {
        Locked hold;
        const Device* device = findDevice(w[1]);
        if (device == nullptr) return "error unknown port " + w[1];
        if (!numberIn(w[2], 0, device->hidCount - 1, hid)) return "error no hid " + w[2] + " on " + w[1];
        spec.handle = device->hids[static_cast<size_t>(hid)];
    }
    if (!numberIn(w[3], 1, 100000000, spec.count) || !numberIn(w[4], 0, UINT32_MAX, seed)) {
        return "error bad count or seed";
    }
    spec.seed = static_cast<uint32_t>(seed);
    return stormOptions(w, spec);
}

// Runs every caller on a thread of its own and adds up what they saw.
StormTally runStorm(const StormSpec& spec) {
    std::vector<StormThread> runs;
    for (long long t = 0; t < spec.threads; ++t) runs.push_back({&spec, spec.seed + static_cast<uint32_t>(t) * 7919u, {}});
    std::vector<UniqueHandle> started;
    for (StormThread& run : runs) {
        UniqueHandle thread(CreateThread(nullptr, 0, stormThread, &run, 0, nullptr));
        if (!thread) {
            stormThread(&run);  // no thread to spare: this one does the share itself
        } else {
            started.push_back(std::move(thread));
        }
    }
    for (const UniqueHandle& thread : started) WaitForSingleObject(thread.get(), INFINITE);
    StormTally total;
    for (const StormThread& run : runs) {
        total.delivered += run.tally.delivered;
        total.unregistered += run.tally.unregistered;
        for (const auto& [result, times] : run.tally.results) total.results[result] += times;
    }
    return total;
}

}  // namespace

std::string storm(const std::vector<std::string>& w) {
    StormSpec spec;
    const std::string problem = parseStorm(w, spec);
    if (!problem.empty()) return problem;
    const StormTally total = runStorm(spec);
    std::string reply = "ok storm sent=" + num(static_cast<unsigned long long>(spec.count * spec.threads)) +
                        " delivered=" + num(static_cast<unsigned long long>(total.delivered)) +
                        " unregistered=" + num(static_cast<unsigned long long>(total.unregistered)) + " results=";
    bool first = true;
    for (const auto& [result, times] : total.results) {
        reply += (first ? "" : ",") + std::to_string(result) + ":" + num(static_cast<unsigned long long>(times));
        first = false;
    }
    return reply;
}

}  // namespace devlink
