#include "http/byte_range.h"

#include <limits>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr std::string_view kBytesUnit = "bytes";
constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

// A position of one or more decimal digits. A number too large for 64 bits stands for "past any
// file": it is saturated rather than refused, so that "bytes=99999999999999999999-" is still
// one range that no byte meets, not a malformed header.
bool ParsePosition(std::string_view digits, uint64_t& value) {
  if (digits.empty()) return false;
  value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    value = value > (kSaturated - digit) / 10 ? kSaturated : value * 10 + digit;
  }
  return true;
}

TByteRangePlan Unsatisfiable() { return {TRangeOutcome::Unsatisfiable, 0, 0}; }

TByteRangePlan Partial(uint64_t first, uint64_t last) {
  return {TRangeOutcome::Partial, first, last - first + 1};
}

}  // namespace

TByteRangePlan PlanByteRange(std::string_view rangeValue, uint64_t size) {
  const TByteRangePlan whole;
  const std::string_view value = TrimView(rangeValue);
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos) return whole;
  // The unit is a token compared without regard to case; anything but bytes is not ours.
  if (!EqualTextIgnoreCase(TrimView(value.substr(0, equals)), kBytesUnit)) return whole;
  const std::string_view bounds = TrimView(value.substr(equals + 1));
  // Several ranges would need a multipart answer; clients take the whole file as well.
  if (bounds.find(',') != std::string_view::npos) return whole;
  const size_t dash = bounds.find('-');
  if (dash == std::string_view::npos) return whole;
  const std::string_view firstText = TrimView(bounds.substr(0, dash));
  const std::string_view lastText = TrimView(bounds.substr(dash + 1));

  if (firstText.empty()) {  // "-n": the last n bytes
    uint64_t suffix = 0;
    if (!ParsePosition(lastText, suffix)) return whole;
    if (suffix == 0 || size == 0) return Unsatisfiable();
    return Partial(suffix >= size ? 0 : size - suffix, size - 1);
  }
  uint64_t first = 0;
  if (!ParsePosition(firstText, first)) return whole;
  uint64_t last = kSaturated;  // "a-": to the end
  if (!lastText.empty() && !ParsePosition(lastText, last)) return whole;
  if (first > last || first >= size) return Unsatisfiable();
  return Partial(first, last >= size ? size - 1 : last);
}

std::string ContentRangeValue(const TByteRangePlan& plan, uint64_t size) {
  const std::string total = "/" + std::to_string(size);
  switch (plan.outcome) {
    case TRangeOutcome::Partial:
      return "bytes " + std::to_string(plan.first) + "-" +
             std::to_string(plan.first + plan.length - 1) + total;
    case TRangeOutcome::Unsatisfiable:
      return "bytes *" + total;
    case TRangeOutcome::Whole:
      break;
  }
  return "";
}

}  // namespace vm
