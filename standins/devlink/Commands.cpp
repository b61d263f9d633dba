// The control commands, one line each, answered with one line "ok ..." or "error ...":
//   ping                               ok pong
//   resources                          ok handles=N private=B working=B gdi=N user=N (this process)
//   devices                            ok devices=N | port=P transport=T model="M" hids=h,h
//                                        scanner=h registered=h,h | ...
//   report PORT HID [HEX...] [as=H]    ok delivered result=N | ok not registered; with as=H the
//                                        interface's callback is told handle H, as a stale or
//                                        foreign handle would reach it
//   notify PORT HID CLASS CODE         ok delivered result=N | ok not registered
//   starve report|notify ...           the same, delivered while the program gets no memory but
//                                        scraps; error escaped ... when an exception came back
//   arrive port=P [transport=..] [model=..] [hids=..] [vid=..] [pid=..]
//                                      ok added port=P hids=h,h windows=N
//   starve arrive ...                  the same, the broadcast sent (not posted) while the
//                                        program gets no memory but scraps
//   remove PORT                        ok removed port=P windows=N
//   fail KIND COUNT [port=P] [code=N]  ok fail KIND COUNT
//   storm ...                          see Storm.cpp
// HID is the 0-based interface index on the device, HEX any number of hex byte pairs (none for
// an empty report). Deliveries run on the library's delivery thread; the reply waits for the
// callback (up to 30 s). Arrival and removal post WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) to
// every top-level window of this process, as the system's broadcast would.
#include "Simulator.h"

#include "ProcessMemory.h"

#include <dbt.h>
#include <psapi.h>

#include <algorithm>
#include <optional>

namespace devlink {
namespace {

// The device-change broadcast to one window of this process: posted, or sent ("starve arrive")
// so that the handling runs while the sender starves the program.
struct Broadcast {
    bool send = false;
    int windows = 0;
};

BOOL CALLBACK broadcastToWindow(HWND window, LPARAM data) {
    auto& broadcast = *reinterpret_cast<Broadcast*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    DWORD_PTR answer = 0;
    const bool reached =
        broadcast.send
            ? SendMessageTimeoutA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_BLOCK, kReplyWaitMs, &answer) != 0
            : PostMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0) != 0;
    if (reached) ++broadcast.windows;
    return TRUE;
}

std::string listDevices() {
    std::string out = "ok devices=" + num(g_state.devices.size());
    for (const Device& device : g_state.devices) {
        std::vector<DcsHandle> registered;
        for (DcsHandle hid : device.hids) {
            auto state = g_state.hids.find(hid);
            if (state != g_state.hids.end() && state->second.report != nullptr) registered.push_back(hid);
        }
        const auto opens = g_state.scannerOpens.find(device.scanner);
        out += " | port=" + device.port + " transport=" + device.transport + " model=\"" + device.model +
               "\" hids=" + handleList(device.hids) + " scanner=" + num(device.scanner) +
               " opens=" + num(opens != g_state.scannerOpens.end() ? opens->second : 0) +
               " registered=" + handleList(registered);
    }
    return out;
}

// What the process holds. Wine answers neither the handle count nor the private bytes, so both
// are counted here: the handle values that name a handle, and the committed private pages.
std::string processResources() {
    DWORD handles = 0;
    for (uintptr_t value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++handles;
    }
    const unsigned long long privateBytes = standin::committedPrivateBytes();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return "ok handles=" + num(handles) + " private=" + num(privateBytes) + " working=" + num(memory.WorkingSetSize) +
           " gdi=" + num(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) +
           " user=" + num(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

// The delivery a report or notify command asks for: "" or the error reply.
std::string parseDelivery(const std::vector<std::string>& w, Delivery& item) {
    item.notification = w[0] == "notify";
    if (w.size() < 3 || (item.notification && w.size() != 5)) {
        return item.notification ? "error expected: notify PORT HID CLASS CODE"
                                 : "error expected: report PORT HID [HEX...]";
    }
    const Device* device = findDevice(w[1]);
    if (device == nullptr) return "error unknown port " + w[1];
    if (!numberIn(w[2], 0, device->hidCount - 1, item.hid)) return "error no hid " + w[2] + " on " + w[1];
    item.port = device->port;
    item.handle = device->hids[static_cast<size_t>(item.hid)];
    long long cls = 0, code = 0;
    if (item.notification && (!numberIn(w[3], 0, UINT32_MAX, cls) || !numberIn(w[4], 0, UINT32_MAX, code))) {
        return "error bad class or code";
    }
    item.notificationClass = static_cast<uint32_t>(cls);
    item.code = static_cast<uint32_t>(code);
    for (size_t i = 3; !item.notification && i < w.size(); ++i) {
        if (w[i].compare(0, 3, "as=") == 0) {
            long long as = 0;
            if (!numberIn(w[i].substr(3), 1, UINT32_MAX, as)) return "error bad handle '" + w[i] + "'";
            item.asHandle = static_cast<DcsHandle>(as);
            continue;
        }
        if (!hexBytes(w[i], item.bytes)) return "error not hex byte pairs: '" + w[i] + "'";
    }
    return "";
}

// Queues a report or notification and waits for the delivery thread to hand it over.
std::string inject(Service& service, std::vector<std::string> w) {
    Locked hold;
    auto item = std::make_shared<Delivery>();
    if (w[0] == "starve") {
        w.erase(w.begin());
        if (w.empty() || (w[0] != "report" && w[0] != "notify")) return "error expected: starve report|notify|arrive ...";
        item->starved = true;
    }
    const std::string problem = parseDelivery(w, *item);
    if (!problem.empty()) return problem;
    service.queue.push_back(item);
    changed();
    const DWORD start = GetTickCount();
    while (!item->done) {
        if (service.stopping) return "error the library is shutting down";
        const DWORD waited = GetTickCount() - start;
        if (waited >= kReplyWaitMs) return "error timeout: the callback has not returned after 30 s";
        hold.wait(kReplyWaitMs - waited);
    }
    if (item->escaped) return "error escaped: an exception came back out of the callback";
    return item->delivered ? "ok delivered result=" + std::to_string(item->result) : "ok not registered";
}

// The reply of a command that may change the devices, and whether it did.
struct Change {
    std::string reply;
    bool devicesChanged = false;
};

Change arrive(const std::vector<std::string>& w) {
    Device device;
    const std::string problem = parseDevice(w, 1, device);
    if (!problem.empty()) return {"error " + problem};
    const Device& added = addDevice(std::move(device));
    return {"ok added port=" + added.port + " hids=" + handleList(added.hids), true};
}

Change remove(Locked& hold, const std::vector<std::string>& w) {
    auto found = std::find_if(g_state.devices.begin(), g_state.devices.end(),
                              [&](const Device& d) { return sameText(d.port, w[1]); });
    if (found == g_state.devices.end()) return {"error unknown port " + w[1]};
    const Device removed = *found;
    g_state.devices.erase(found);
    g_state.scannerOpens.erase(removed.scanner);
    for (DcsHandle hid : removed.hids) g_state.hids.erase(hid);
    for (DcsHandle hid : removed.hids) waitForDeliveries(hold, hid, "remove " + removed.port);
    return {"ok removed port=" + removed.port, true};
}

Change fail(const std::vector<std::string>& w) {
    Fault fault;
    const std::string problem = parseFault(w, 1, fault);
    if (!problem.empty()) return {"error " + problem};
    setFault(fault);
    return {"ok fail " + fault.kind + " " + w[2] + (fault.port.empty() ? "" : " port=" + fault.port)};
}

// The commands that change the devices or the faults; with the lock held.
Change change(Locked& hold, const std::vector<std::string>& w) {
    if (w[0] == "arrive") return arrive(w);
    if (w[0] == "remove" && w.size() == 2) return remove(hold, w);
    if (w[0] == "fail") return fail(w);
    return {"error unknown command '" + w[0] + "'"};
}

}  // namespace

std::string execute(Service& service, const std::string& line) {
    const auto w = words(line);
    if (w.empty()) return "error empty command";
    if (w[0] == "report" || w[0] == "notify" || (w[0] == "starve" && (w.size() < 2 || w[1] != "arrive"))) {
        return inject(service, w);
    }
    if (w[0] == "storm") {
        const std::string reply = storm(w);
        journal("command " + line + " -> " + reply);
        return reply;
    }
    const bool starved = w[0] == "starve";
    Locked hold;
    if (w[0] == "ping" && w.size() == 1) return "ok pong";
    if (w[0] == "resources" && w.size() == 1) return processResources();
    if (w[0] == "devices" && w.size() == 1) return listDevices();
    Change result = change(hold, starved ? std::vector<std::string>(w.begin() + 1, w.end()) : w);
    hold.unlock();
    if (result.devicesChanged) {
        Broadcast broadcast{starved};
        {
            std::optional<MemoryStarvation> starving;
            if (starved) starving.emplace();
            EnumWindows(broadcastToWindow, reinterpret_cast<LPARAM>(&broadcast));
        }
        result.reply += " windows=" + num(broadcast.windows);
    }
    journal("command " + line + " -> " + result.reply);
    return result.reply;
}

}  // namespace devlink
