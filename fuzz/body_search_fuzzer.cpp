// The pattern finder against the plain search by definition, on arbitrary patterns, bodies and
// sequences of questions. An input fails when the two answers differ.
//
// Input: one byte for the pattern's length (up to 63), the pattern, then the body. The questions
// come from a small generator seeded by the input: mostly forward, as a scan asks them, and
// sometimes from an earlier position.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "web/body_search.h"

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr int kQuestions = 64;

size_t PlainFind(std::string_view body, const vm::TPattern& pattern, size_t from, size_t to) {
  if (pattern.Size() == 0) return npos;
  for (size_t i = from; i < to && i < body.size(); ++i) {
    if (vm::PatternAt(body, i, pattern)) return i;
  }
  return npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t length = std::min<size_t>(data[0] % 64, size - 1);
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, length);
  const std::string_view body(reinterpret_cast<const char*>(data) + 1 + length, size - 1 - length);
  const vm::TPattern pattern(text);
  vm::TPatternFinder finder(pattern, body);
  uint32_t seed = 2166136261u;
  for (size_t k = 0; k < size; ++k) seed = (seed ^ data[k]) * 16777619u;
  size_t from = 0;
  for (int question = 0; question < kQuestions; ++question) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 8;
    from = r % 8 == 0 ? r % (body.size() + 2) : from + (r >> 3) % 17;
    const size_t to = from + (r >> 9) % 64;
    const size_t found = finder.Find(from, to);
    const size_t expected = PlainFind(body, pattern, from, to);
    if (found != expected) {
      std::fprintf(stderr, "broken invariant: Find(%zu, %zu) gave %zu, not %zu\n", from, to, found,
                   expected);
      std::abort();
    }
  }
  return 0;
}
