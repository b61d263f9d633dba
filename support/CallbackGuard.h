// Code that the system or an outside library calls back (a device callback, a window procedure)
// must never let an exception unwind into its caller: the caller was not built to pass one on,
// and the process would end. Pure.
#pragma once

#include <exception>

// Runs `work`; when it throws, tells `report` what was caught and answers `onFailure` instead. A
// report that throws in turn (memory may be what ran out) is dropped.
template <typename Result, typename Work, typename Report>
Result callbackGuard(Result onFailure, Work&& work, Report&& report) noexcept {
    try {
        return work();
    } catch (const std::exception& caught) {
        try {
            report(caught.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            report("an exception of an unknown kind");
        } catch (...) {
        }
    }
    return onFailure;
}
