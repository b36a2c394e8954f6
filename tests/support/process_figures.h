// Figures of this process for the load and memory tests.
#pragma once

#include <string_view>

#include "http/tcp_server.h"

namespace vmtest {

// Sanitizer builds give threads larger stacks and keep shadow memory: their figures of memory
// and time say nothing of the program's, so such tests check behaviour only there.
inline constexpr bool kSanitizedBuild = vm::kConnectionStackScale != 1;

// A size line of /proc/self/status ("VmRSS", "VmHWM") in KiB; -1 when absent.
long StatusKiB(std::string_view field);
inline long ResidentKiB() { return StatusKiB("VmRSS"); }
// Threads of this process now.
int ThreadCount();

}  // namespace vmtest
