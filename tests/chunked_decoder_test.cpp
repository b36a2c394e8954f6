#include "http/chunked_decoder.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// Decodes input fed in pieces of at most `piece` bytes: the body, "malformed", or "short".
std::string Decoded(std::string_view input, size_t piece) {
  TChunkedDecoder decoder;
  std::string body;
  std::string pending;
  size_t fed = 0;
  for (;;) {
    if (pending.empty()) {
      if (fed == input.size()) return "short";
      pending = std::string(input.substr(fed, piece));
      fed += pending.size();
    }
    const TChunkedDecoder::TStep step = decoder.Next(pending);
    body.append(step.Data);
    pending.erase(0, step.Consumed);
    if (step.Status == TChunkedDecoder::TStatus::Done)
      return body + (pending.empty() && fed == input.size() ? "" : "|rest");
    if (step.Status == TChunkedDecoder::TStatus::Malformed) return "malformed";
  }
}

TEST(ChunkedDecoder, BodiesSplitAtEveryOffsetDecodeAlike) {
  const struct {
    const char* label;
    std::string input;
    std::string expected;
  } rows[] = {
      {"two chunks", "3\r\nabc\r\n5;ext=1\r\nde\r\nf\r\n0\r\n\r\n", "abcde\r\nf"},
      {"bare LF and upper-case hex", "A\nabcdefghij\n0\n\n", "abcdefghij"},
      {"trailers", "1\r\nx\r\n0\r\nX-Sum: 1\r\n\r\n", "x"},
      {"the next request stays", "1\r\nx\r\n0\r\n\r\nGET", "x|rest"},
      {"empty body", "0\r\n\r\n", ""},
      {"not hex", "zz\r\nabc\r\n0\r\n\r\n", "malformed"},
      {"no size", "\r\n", "malformed"},
      {"data longer than its size", "1\r\nxy\r\n0\r\n\r\n", "malformed"},
      {"size past 2^60", "1000000000000000\r\n", "malformed"},
      {"a size line without end", "1" + std::string(5000, ' '), "malformed"},
      {"cut short", "5\r\nab", "short"},
  };
  for (const auto& row : rows) {
    for (size_t piece = 1; piece <= row.input.size(); ++piece) {
      ASSERT_EQ(Decoded(row.input, piece), row.expected) << row.label << ", pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace vm
