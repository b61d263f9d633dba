// One lock per device for the work its reports start, so that one device's reports run one at a
// time in the order they take it while different devices run side by side. A list request's
// session hold must not be released by the same device's cancel or auto-print in the middle of
// the send. The locks are recursive: should a device library ever deliver a report on the thread
// of a call made for the same device, the nested report runs inside the outer one instead of
// waiting for it for ever.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

class DeviceWork {
public:
    // The lock of the device on `port`; a handle no device is known by passes "" and shares one.
    // Locks live as long as this object: there is one per port ever seen, a handful.
    std::recursive_mutex& of(const std::string& port) {
        std::lock_guard<std::mutex> hold(lock_);
        std::unique_ptr<std::recursive_mutex>& slot = locks_[port];
        if (!slot) slot = std::make_unique<std::recursive_mutex>();
        return *slot;
    }

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<std::recursive_mutex>> locks_;
};
