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

// True when every thread of this process but the caller sleeps: waits for a lock, a
// condition, a socket, a child or a timer. Whatever the test set going has then run as far as
// it can without the test (a server thread is inside the wait a test means to catch it in).
bool OthersAsleep();

}  // namespace vmtest
