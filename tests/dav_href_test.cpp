#include "dav/dav_href.h"

#include <gtest/gtest.h>

#include "dav/dav_locks.h"

namespace vm {
namespace {

std::string Described(std::string_view target) {
  TDavPathFault fault = TDavPathFault::None;
  std::string host;
  const std::optional<TDavPath> path = ParseDavTarget(target, &fault, &host);
  if (!path) return fault == TDavPathFault::Malformed ? "malformed" : "outside";
  std::string text = host.empty() ? "" : host + " ";
  for (const std::string& segment : path->Segments) text += "[" + segment + "]";
  return text + (path->TrailingSlash ? "/" : "");
}

TEST(DavHref, TargetsAreDecodedOrRefusedSegmentBySegment) {
  const struct {
    const char* label;
    const char* target;
    const char* expected;
  } rows[] = {
      {"root", "/velmarind-dav", ""},
      {"root with slash", "/velmarind-dav/", "/"},
      {"share and file", "/velmarind-dav/s/a.txt", "[s][a.txt]"},
      {"repeated slashes", "/velmarind-dav//s///d/", "[s][d]/"},
      {"escapes are bytes", "/velmarind-dav/s/%E5%86%99%FF", "[s][\xE5\x86\x99\xFF]"},
      {"query ignored", "/velmarind-dav/s/a?x=1", "[s][a]"},
      {"absolute URL", "http://u:p@h:8/velmarind-dav/s/", "h:8 [s]/"},
      {"a look-alike prefix", "/velmarind-davx/s", "outside"},
      {"the page prefix", "/velmarind/index.html", "outside"},
      {"relative", "velmarind-dav/s", "outside"},
      {"dot dot", "/velmarind-dav/s/../../etc", "malformed"},
      {"encoded dot dot", "/velmarind-dav/s/%2e%2E/x", "malformed"},
      {"encoded slash", "/velmarind-dav/s/..%2fetc", "malformed"},
      {"encoded zero", "/velmarind-dav/s/a%00b", "malformed"},
      {"single dot", "/velmarind-dav/s/./a", "malformed"},
      {"short escape", "/velmarind-dav/s/a%4", "malformed"},
      {"bad escape", "/velmarind-dav/s/a%zz", "malformed"},
      {"fragment", "/velmarind-dav/s/d/#f", "malformed"},
  };
  for (const auto& row : rows) EXPECT_EQ(Described(row.target), row.expected) << row.label;
}

TEST(DavHref, HrefsEncodeEveryByteButTheUnreservedAndParseBack) {
  const TDavPath path{{"共有", "a b%#?&\xFF~._-"}, false};
  const std::string href = DavHref(path, true);
  EXPECT_EQ(href, "/velmarind-dav/%E5%85%B1%E6%9C%89/a%20b%25%23%3F%26%FF~._-/");
  EXPECT_EQ(ParseDavTarget(href)->Segments, path.Segments);
  EXPECT_EQ(DavHref({}, false), "/velmarind-dav/");
}

TEST(DavHref, BelowComparesWholeSegments) {
  const TDavPath folder{{"s", "a"}, false};
  EXPECT_TRUE(IsSameOrBelow({{"s", "a"}, false}, folder));
  EXPECT_TRUE(IsSameOrBelow({{"s", "a", "b"}, false}, folder));
  EXPECT_FALSE(IsSameOrBelow({{"s", "ab"}, false}, folder));
  EXPECT_FALSE(IsSameOrBelow({{"s"}, false}, folder));
  EXPECT_EQ(Rebased({{"s", "a", "b"}, false}, folder, {{"s", "c"}, false}).Key(), "/s/c/b");
}

TEST(DavIfHeader, ListsAreReadOrRefused) {
  const struct {
    const char* label;
    const char* header;
    size_t lists;        // 0: refused
    size_t submitted;    // tokens not negated
  } rows[] = {
      {"one token", "(<opaquelocktoken:a>)", 1, 1},
      {"token and etag", "(<urn:x> [\"e\"]) (Not <DAV:no-lock> [\"e\"])", 2, 1},
      {"tagged", "<http://h/velmarind-dav/s/f> (<t1>) <http://h/x> ([\"e\"])", 2, 1},
      {"lower-case not", "(not <t>)", 1, 0},
      {"empty list", "()", 0, 0},
      {"unclosed", "(<t>", 0, 0},
      {"no list", "<http://h/>", 0, 0},
      {"garbage", "t", 0, 0},
  };
  for (const auto& row : rows) {
    const auto lists = ParseIfHeader(row.header);
    EXPECT_EQ(lists ? lists->size() : 0, row.lists) << row.label;
    if (lists) {
      EXPECT_EQ(SubmittedTokens(*lists).size(), row.submitted) << row.label;
    }
  }
}

}  // namespace
}  // namespace vm
