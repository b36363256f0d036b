// A thread's wake-up call: other threads raise it when they leave it work,
// and it sleeps until then or until its time-out instead of polling. A raise
// while nobody waits is kept for the next wait, so none is lost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class WakeSignal {
public:
    void Raise() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            raised_ = true;
        }
        // Outside the lock, so that the woken thread does not run into it.
        // Costs no system call while nobody waits.
        raised_cv_.notify_one();
    }

    // True when the signal was raised (and is now taken), false after
    // micros without it.
    bool WaitFor(long long micros) {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool raised = raised_cv_.wait_for(lock, std::chrono::microseconds(micros), [this] { return raised_; });
        raised_ = false;
        return raised;
    }

private:
    std::mutex mutex_;
    std::condition_variable raised_cv_;
    bool raised_ = false;
};
