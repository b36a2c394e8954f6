// The request head parsed on a byte buffer: lines, limits, and resuming with more bytes.
#include "http/request_head.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/tcp_connection.h"

namespace vm {
namespace {

constexpr size_t kMaxLine = TIdTCPConnection::kDefaultMaxLineLength;
constexpr size_t kMaxHead = TRequestHeadParser::kDefaultMaxHeadBytes;

const char* StatusName(THeadStatus status) {
  switch (status) {
    case THeadStatus::Complete:
      return "complete";
    case THeadStatus::NeedMore:
      return "need more";
    case THeadStatus::Malformed:
      return "malformed";
  }
  return "?";
}

const char* FaultName(THeadFault fault) {
  switch (fault) {
    case THeadFault::None:
      return "";
    case THeadFault::RequestLineWithoutSpace:
      return " (no space)";
    case THeadFault::LineTooLong:
      return " (line too long)";
    case THeadFault::HeadTooLarge:
      return " (head too large)";
  }
  return " (?)";
}

// Everything a parse yields, as one text: equal texts mean equal results.
std::string Describe(THeadStatus status, const TRequestHeadParser& parser, std::string_view input) {
  std::string text = std::string(StatusName(status)) + FaultName(parser.Fault());
  if (status != THeadStatus::Complete) return text;
  const TRequestHead& head = parser.Head();
  text += " [" + std::string(head.Method.In(input)) + "][" + std::string(head.Target.In(input)) +
          "][" + std::string(head.Version.In(input)) + "]";
  if (!head.Answered) text += " unanswered";
  for (const TTextSpan& line : head.HeaderLines) text += " {" + std::string(line.In(input)) + "}";
  return text + " length " + std::to_string(head.Length);
}

std::string ParseWhole(std::string_view input) {
  TRequestHeadParser parser(kMaxLine);
  return Describe(parser.Parse(input), parser, input);
}

// A head of the given size in bytes as the head limit counts them (each line with two for its
// end), made of header lines of about 1000 bytes.
std::string HeadCounting(size_t bytes) {
  std::string head = "GET / HTTP/1.1\r\n";
  size_t counted = head.size() + 2;  // and the final empty line
  while (counted < bytes) {
    const size_t line = std::min<size_t>(1000, bytes - counted - 2);
    head += "X: " + std::string(line - 3, 'f') + "\r\n";
    counted += line + 2;
  }
  return head + "\r\n";
}

const std::string kLongest(kMaxLine - 5 - 9,
                           'a');  // "GET /" + this + " HTTP/1.1": the longest line

struct Row {
  const char* label;
  std::string input;
  std::string expected;
};

TEST(RequestHead, ParsesLinesAndAppliesTheLimits) {
  const Row rows[] = {
      {"CR LF lines, the body after the head not taken",
       "GET /a?b=1 HTTP/1.1\r\nHost: x\r\n\r\nbody",
       "complete [GET][/a?b=1][HTTP/1.1] {Host: x} length 32"},
      {"LF alone ends a line; only one CR before it is removed", "get / HTTP/1.0\nA: 1\r\r\n\n",
       "complete [get][/][HTTP/1.0] {A: 1\r} length 23"},
      {"a line beginning with two dots loses one", "POST / HTTP/1.1\r\n..x: y\r\n.z\r\n..\r\n\r\n",
       "complete [POST][/][HTTP/1.1] {.x: y} {.z} {.} length 35"},
      {"continuation lines stay lines of their own", "HEAD / HTTP/1.1\r\nA: 1\r\n  more\r\n\r\n",
       "complete [HEAD][/][HTTP/1.1] {A: 1} {  more} length 33"},
      {"one space: empty target", "GET HTTP/1.1\r\n\r\n", "complete [GET][][HTTP/1.1] length 16"},
      {"spaces inside the target", "GET /a b  HTTP/1.1\r\n\r\n",
       "complete [GET][/a b ][HTTP/1.1] length 22"},
      {"other method ends with its request line", "DELETE / HTTP/1.1\r\nX: y\r\n\r\n",
       "complete [DELETE][/][HTTP/1.1] unanswered length 19"},
      {"method in the middle of the word is another method", "GETS / HTTP/1.1\r\n\r\n",
       "complete [GETS][/][HTTP/1.1] unanswered length 17"},
      {"request line without a space", "GARBAGE\r\nHost: x\r\n\r\n", "malformed (no space)"},
      {"empty request line", "\r\n\r\n", "malformed (no space)"},
      {"request line not ended", "GET / HT", "need more"},
      {"header lines not ended by an empty line", "GET / HTTP/1.1\r\nHost: x\r\n", "need more"},
      {"nothing yet", "", "need more"},
      {"line of the longest length", "GET /" + kLongest + " HTTP/1.1\r\n\r\n",
       "complete [GET][/" + kLongest + "][HTTP/1.1] length " + std::to_string(kMaxLine + 4)},
      {"line one byte longer", "GET /a" + kLongest + " HTTP/1.1\r\n\r\n",
       "malformed (line too long)"},
      {"longest line and its CR, LF still to come", "GET /" + kLongest + " HTTP/1.1\r",
       "need more"},
      {"no LF within the longest line and its CR LF", "GET /" + std::string(kMaxLine, 'a'),
       "malformed (line too long)"},
      {"header line too long", "GET / HTTP/1.1\r\nX: " + std::string(kMaxLine, 'x') + "\r\n\r\n",
       "malformed (line too long)"},
      {"head of exactly the limit", HeadCounting(kMaxHead),
       "complete length " + std::to_string(HeadCounting(kMaxHead).size())},
      {"head one byte over the limit", HeadCounting(kMaxHead + 1), "malformed (head too large)"},
  };
  for (const Row& row : rows) {
    std::string result = ParseWhole(row.input);
    // The big heads' lines are not spelled out in the table.
    if (row.expected.rfind("complete length", 0) == 0)
      result = "complete" + result.substr(result.rfind(" length"));
    EXPECT_EQ(result, row.expected) << row.label;
  }
}

// The connection feeds the parser whatever has arrived; a head split anywhere must come out
// as it does in one piece.
TEST(RequestHead, SplitAtEveryOffsetGivesTheSameResult) {
  const std::string inputs[] = {
      "POST /up?x=1 HTTP/1.1\r\nHost: h\nContent-Length: 3\r\n..dots\r\n\r\nabcGET / HTTP/1.1\r\n",
      "GET / HTTP/1.1\r\nA: 1\r\nGARBAGE",
      "PUT / HTTP/1.1\r\nA: 1\r\n\r\n",
      "NOSPACE\r\nA: 1\r\n\r\n",
      "GET /" + std::string(kMaxLine + 10, 'x') + " HTTP/1.1\r\n\r\n",
  };
  for (const std::string& input : inputs) {
    const std::string whole = ParseWhole(input);
    for (size_t offset = 0; offset <= input.size(); ++offset) {
      TRequestHeadParser parser(kMaxLine);
      parser.Parse(std::string_view(input).substr(0, offset));
      ASSERT_EQ(Describe(parser.Parse(input), parser, input), whole)
          << input.substr(0, 40) << " split at " << offset;
    }
    TRequestHeadParser bytewise(kMaxLine);
    THeadStatus status = THeadStatus::NeedMore;
    for (size_t size = 0; size <= input.size() && status == THeadStatus::NeedMore; ++size)
      status = bytewise.Parse(std::string_view(input).substr(0, size));
    EXPECT_EQ(Describe(status, bytewise, input), whole) << input.substr(0, 40) << " byte by byte";
  }
}

}  // namespace
}  // namespace vm
