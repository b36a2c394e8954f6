// Pattern searches over bodies: the same answers as a plain search, whatever the order of the
// questions, and the pages of a body handed back behind the scan.
#include "web/body_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vm {
namespace {

constexpr size_t npos = std::string_view::npos;

// The answer by definition: every start position tried, every byte compared.
size_t PlainFind(std::string_view body, const TPattern& pattern, size_t from, size_t to) {
  if (pattern.Size() == 0) return npos;
  for (size_t i = from; i < std::min(to, body.size()); ++i) {
    if (PatternAt(body, i, pattern)) return i;
  }
  return npos;
}

TEST(BodySearch, FinderAgreesWithAPlainSearch) {
  // Small alphabets make partial matches, overlapping matches and anchors everywhere; in long
  // bodies of a filler byte they are far apart, so that the finder jumps. The questions mostly
  // go forward, as a scan asks them, and sometimes start over.
  struct Row {
    const char* label;
    std::string alphabet;
    std::vector<std::string> patterns;
  };
  const std::vector<Row> rows = {
      {"letters of both cases", "aAbB", {"a", "aa", "aba", "AbAb", "aaaaaaab", "baaaaaaa"}},
      {"dashes and letters", "-aA\r\n", {"--", "--a", "\r\n--aa", "--\r\n\r\n", "-a-a-"}},
      {"anchors of one byte", " =\"nN", {" name=\"", " n=", "= =", "\"\""}},
      {"all bytes", std::string("\x00\x01-aA\xff\x80", 7), {std::string("\x00-", 2), "\xff\xff"}},
  };
  std::mt19937 random(7);
  for (const Row& row : rows) {
    for (const std::string& text : row.patterns) {
      SCOPED_TRACE(std::string(row.label) + ": " + text);
      const TPattern pattern(text);
      for (int round = 0; round < 40; ++round) {
        const bool sparse = round % 2 == 1;
        std::string body(random() % (sparse ? 30000 : 300), 'x');
        for (char& c : body) {
          if (!sparse || random() % 64 == 0) c = row.alphabet[random() % row.alphabet.size()];
        }
        TPatternFinder finder(pattern, body);
        const size_t step = sparse ? 900 : 9;
        size_t from = 0;
        for (int ask = 0; ask < 60; ++ask) {
          from = random() % 8 == 0 ? random() % (body.size() + 2) : from + random() % step;
          const size_t to = from + random() % (4 * step);
          ASSERT_EQ(finder.Find(from, to), PlainFind(body, pattern, from, to))
              << "round " << round << " ask " << ask << " [" << from << ", " << to << ") in "
              << body;
        }
      }
    }
  }
}

TEST(BodySearch, AMatchInProgressBeforeTheStartIsNotReported) {
  // The last question stopped inside "aaaaaaa" that started before the next question's start;
  // the match it grows into starts at 2, before 3.
  const TPattern pattern("aaaaaaab");
  const std::string body = "aaaaaaaaab";
  TPatternFinder finder(pattern, body);
  EXPECT_EQ(finder.Find(0, 1), npos);
  EXPECT_EQ(finder.Find(3, 20), npos);
  EXPECT_EQ(finder.Find(2, 20), 2u);
}

// A stream that records which bytes were handed back.
class TRecordingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  void ReleaseView(int64_t from, int64_t to) override { released.push_back({from, to}); }
  std::vector<std::pair<int64_t, int64_t>> released;
};

TEST(BodySearch, PagesBehindTheScanAreHandedBack) {
  TRecordingStream stream(std::string(10000, 'x') + "needle");
  const TBodyScanSizes sizes{1000, 500};
  const TBodySearch search(stream.View(), stream, sizes);
  const TPattern pattern("needle");
  TPatternFinder finder(pattern, stream.View());
  EXPECT_EQ(search.Find(finder, 0, 20000), 10000u);
  // Every window passed without a match, and nothing after the match.
  ASSERT_EQ(stream.released.size(), 10u);
  EXPECT_EQ(stream.released.front(), (std::pair<int64_t, int64_t>{0, 1000}));
  EXPECT_EQ(stream.released.back(), (std::pair<int64_t, int64_t>{9000, 10000}));
  stream.released.clear();
  search.StartPass();
  search.Passed(999);
  EXPECT_TRUE(stream.released.empty());
  search.Passed(2500);
  EXPECT_EQ(stream.released, (std::vector<std::pair<int64_t, int64_t>>{{0, 2000}}));
}

}  // namespace
}  // namespace vm
