// A report one thread keeps up to date and another takes when it is new:
// the owner's lock guards the report and its flag of news.
#pragma once

#include "platform/log.h"

#include <exception>
#include <mutex>

// Copies latest into out and clears updated, under lock, when updated is
// set. False when there was nothing new, or when the message library failed
// on the copy (logged after caller; the news stay for the next take).
template <typename Report>
bool TakeLatestReport(std::mutex& lock, bool& updated, const Report& latest, Report* out, const char* caller) {
    std::lock_guard<std::mutex> hold(lock);
    if (!updated) return false;
    try {
        out->CopyFrom(latest);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "%s: caught an exception (%s)", caller, e.what());
        return false;
    }
    updated = false;
    return true;
}
