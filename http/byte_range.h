// Byte ranges of a file answer: what one "Range" header value asks of a file of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

enum class TRangeOutcome {
  Whole,          // no usable range: the whole file, as if Range had not been sent
  Partial,        // one satisfiable range: 206 with exactly those bytes
  Unsatisfiable,  // one range that no byte of the file meets: 416
};

struct TByteRangePlan {
  TRangeOutcome outcome = TRangeOutcome::Whole;
  uint64_t first = 0;   // offset of the first byte sent (Partial only)
  uint64_t length = 0;  // bytes sent (Partial only), at least 1
};

// The plan for the Range value rangeValue (without the "Range:" name) against a file of size
// bytes. Only a single "bytes=a-b", "bytes=a-" or "bytes=-n" is honoured; an empty, malformed
// or multi-range value gives Whole.
TByteRangePlan PlanByteRange(std::string_view rangeValue, uint64_t size);

// The Content-Range value of a plan: "bytes a-b/size" for Partial, "bytes */size" for
// Unsatisfiable ("" for Whole).
std::string ContentRangeValue(const TByteRangePlan& plan, uint64_t size);

}  // namespace vm
