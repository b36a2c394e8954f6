// Waiting in tests: for a condition, never for a fixed time.
#pragma once

#include <chrono>
#include <functional>

namespace vmtest {

// Every wait for the program or a server gives up after this.
inline constexpr std::chrono::milliseconds kWaitLimit{10000};

// Polls condition until it holds (true) or the limit has passed (false, after a last look).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = kWaitLimit);

}  // namespace vmtest
