#pragma once

// Waiting for a condition of another process: short polls against a deadline, never a blind sleep.

#include <windows.h>

#include <chrono>

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline constexpr milliseconds kPollInterval{15};

// Evaluates `condition` until it holds or `timeout` has passed; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        Sleep(static_cast<DWORD>(kPollInterval.count()));
    }
}

// Seconds from `start` to `at`, for timelines and messages.
inline double SecondsSince(Clock::time_point start, Clock::time_point at) {
    return std::chrono::duration<double>(at - start).count();
}

}  // namespace e2e
