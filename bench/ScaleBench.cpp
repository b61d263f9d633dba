// Scale: 1 to 32 HID interfaces enumerated, opened and registered. The monitor's start-up is
// timed until the simulator's journal shows every registration; the re-enumeration (the
// monitor's answer to a device-mode change: every interface released, enumerated, opened and
// registered again) is timed exactly, as a message sent to its window returns when the work
// is done. The enumeration retries never fire: the simulator fails nothing.
#include "BenchSupport.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace bench;

namespace {
struct Point {
    int interfaces = 0;
    double startup = 0;
    std::vector<double> samples;
    Figures reenumeration;
    long long faults = 0;  // over the re-enumerations after the first
    bool faultsKnown = true;
    double faultsPer() const { return faultsKnown && samples.size() > 1 ? double(faults) / (samples.size() - 1) : -1; }
};

// One timed re-enumeration; false when it did not end or left an interface unregistered.
bool reenumerate(MonitorRig& rig, const PageFaults& faults, int interfaces, int done, Point& point) {
    std::vector<double>& samples = point.samples;
    DWORD_PTR result = 0;
    // The message carries a device name, copied across processes: an empty one.
    static const char kNoDevice[] = "";
    const long long before = faults.count();
    const double start = nowMs();
    if (!SendMessageTimeoutA(rig.window(), WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>(kNoDevice), SMTO_NORMAL, 30000,
                             &result)) {
        line("FAILED: the re-enumeration did not end, error " + std::to_string(GetLastError()));
        return false;
    }
    samples.push_back(nowMs() - start);
    const long long after = faults.count();
    if (before < 0 || after < before) point.faultsKnown = false;
    if (done > 1) point.faults += after - before;
    if (countLines(rig.journal(), "DcsRegisterForNotificationsHid") < interfaces * (done + 1)) {
        line("FAILED: the re-enumeration did not register every interface");
        return false;
    }
    return true;
}

// Least squares through the medians: slope (ms an interface), intercept and R squared.
void fit(const std::vector<Point>& points, double& slope, double& intercept, double& r2) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (const Point& p : points) {
        const double x = p.interfaces, y = p.reenumeration.median;
        n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
    }
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    intercept = (sy - slope * sx) / n;
    const double r = (n * sxy - sx * sy) / std::sqrt((n * sxx - sx * sx) * (n * syy - sy * sy));
    r2 = r * r;
}

// Every size has a monitor of its own, all started first; the re-enumerations then go round
// the sizes, so a disturbance of the machine falls on all of them alike.
bool series(const char* title, bool oneDevice, int rounds, const std::vector<int>& sizes) {
    heading(title);
    std::vector<std::unique_ptr<MonitorRig>> rigs;
    std::vector<Point> points(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int interfaces = sizes[i];
        std::string scenario;
        if (oneDevice) {
            scenario = "device port=USB001 transport=USB1 model=KV-1 hids=" + std::to_string(interfaces) + "\n";
        } else {
            for (int d = 1; d <= interfaces; ++d) {
                char port[16];
                std::snprintf(port, sizeof(port), "USB%03d", d);
                scenario += std::string("device port=") + port + " transport=USB1 model=KV-1 hids=1\n";
            }
        }
        const std::string prefix = std::string(oneDevice ? "wbs" : "wbd") + static_cast<char>('a' + i);
        rigs.push_back(std::make_unique<MonitorRig>(prefix, "OemInkjet", scenario, "enumretry=20", false));
        MonitorRig& rig = *rigs.back();
        const double began = nowMs();
        if (!rig.start() || rig.waitForWindow() == nullptr ||
            !rig.waitForJournal("DcsRegisterForNotificationsHid", interfaces, 30000)) {
            line("FAILED: " + std::to_string(interfaces) + " interfaces were not registered\n" + rig.journal());
            return false;
        }
        points[i].interfaces = interfaces;
        points[i].startup = nowMs() - began;
    }
    std::vector<PageFaults> faults;
    for (const auto& rig : rigs) faults.push_back(PageFaults::of(rig->process()));
    for (int round = 1; round <= rounds; ++round) {
        for (size_t i = 0; i < sizes.size(); ++i) {
            if (!reenumerate(*rigs[i], faults[i], sizes[i], round, points[i])) return false;
        }
    }
    for (Point& point : points) {
        point.reenumeration = figuresOf(point.samples);
        char text[240];
        std::snprintf(text, sizeof(text), "%2d interfaces: re-enumeration %s, %.3f ms an interface, %s; start-up to the "
                      "last registration %.0f ms", point.interfaces, describe(point.reenumeration).c_str(),
                      point.reenumeration.median / point.interfaces, faultText(point.faultsPer()).c_str(), point.startup);
        line(text);
    }
    double slope = 0, intercept = 0, r2 = 0;
    fit(points, slope, intercept, r2);
    line("fit: " + number(intercept, 3) + " ms + " + number(slope, 3) + " ms an interface, R^2 = " + number(r2, 4));
    // Linear: an interface added beyond 16 costs what one added below 16 cost. Growing with the
    // count (quadratic) would make the upper cost about three times the lower.
    const Point& first = points.front();
    const Point& middle = points[points.size() - 2];
    const Point& last = points.back();
    const double lower = (middle.reenumeration.median - first.reenumeration.median) / (middle.interfaces - first.interfaces);
    const double upper = (last.reenumeration.median - middle.reenumeration.median) / (last.interfaces - middle.interfaces);
    line("an interface more costs " + number(lower, 3) + " ms from " + std::to_string(first.interfaces) + " to " +
         std::to_string(middle.interfaces) + ", " + number(upper, 3) + " ms from " + std::to_string(middle.interfaces) +
         " to " + std::to_string(last.interfaces));
    goal("Scale", upper / lower, 1.5, "upper / lower cost of an interface more (linear: about 1)");
    // The pages a re-enumeration writes grow with the interfaces, not faster: per interface, the
    // largest size costs what the middle one did.
    const double largest = last.faultsPer(), middling = middle.faultsPer();
    faultGoal("Scale", largest < 0 ? -1 : largest / last.interfaces, middling < 0 ? -1 : middling / middle.interfaces * 1.5,
              1.0, "page faults a re-enumeration an interface, at " + std::to_string(last.interfaces) + " against 1.5 x at " +
                       std::to_string(middle.interfaces));
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const bool quick = shortForm(argc, argv);
    const int rounds = quick ? 2 : 30;
    const std::vector<int> sizes = quick ? std::vector<int>{1, 16, 32} : std::vector<int>{1, 2, 4, 8, 16, 32};
    bool ok = series("Scale: HID interfaces of one device (logging off)", true, rounds, sizes);
    ok = series("Scale: devices of one HID interface each (logging off)", false, rounds, sizes) && ok;
    return ok ? 0 : 1;
}
