// The request head parser fed arbitrary bytes, whole and in pieces.
//
// The first two bytes choose the limits (small ones reach the line and head limits with short
// inputs; now and then the engine's own); the rest is the input. Each input is parsed in one
// piece, in two pieces split where the input says, and in many small pieces; all must give the
// result of a plain line-by-line reading of the same bytes, which never resumes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/request_head.h"
#include "http/tcp_connection.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

struct TResult {
  vm::THeadStatus status = vm::THeadStatus::NeedMore;
  vm::THeadFault fault = vm::THeadFault::None;
  std::string method, target, version;
  bool answered = false;
  std::vector<std::string> lines;
  size_t length = 0;
  bool operator==(const TResult&) const = default;
};

TResult FromParser(vm::THeadStatus status, const vm::TRequestHeadParser& parser,
                   std::string_view input) {
  TResult result;
  result.status = status;
  result.fault = parser.Fault();
  if (status != vm::THeadStatus::Complete) return result;
  const vm::TRequestHead& head = parser.Head();
  for (const vm::TTextSpan* span : {&head.RequestLine, &head.Method, &head.Target, &head.Version})
    Check(span->offset + span->length <= input.size(), "a span lies inside the input");
  Check(head.Length <= input.size() && head.Length > 0 && input[head.Length - 1] == '\n',
        "the head ends with a LF inside the input");
  result.method = head.Method.In(input);
  result.target = head.Target.In(input);
  result.version = head.Version.In(input);
  result.answered = head.Answered;
  for (const vm::TTextSpan& line : head.HeaderLines) {
    Check(line.offset + line.length <= head.Length, "a header line lies inside the head");
    result.lines.emplace_back(line.In(input));
    Check(result.lines.back().find('\n') == std::string::npos, "no LF inside a line");
  }
  result.length = head.Length;
  return result;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The head read a line at a time, as a blocking line reader would.
TResult ReadLineByLine(std::string_view input, size_t maxLine, size_t maxHead) {
  TResult result;
  auto fail = [](vm::THeadFault fault) {
    TResult failed;  // a malformed head yields nothing but the reason
    failed.status = vm::THeadStatus::Malformed;
    failed.fault = fault;
    return failed;
  };
  size_t position = 0, counted = 0;
  bool requestLine = true;
  for (;;) {
    const std::string_view rest = input.substr(position);
    const size_t lf = rest.find('\n');
    if (lf == std::string_view::npos || lf > maxLine + 1) {
      if (rest.size() >= maxLine + 2) return fail(vm::THeadFault::LineTooLong);
      return TResult();  // need more
    }
    std::string line(rest.substr(0, lf));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    position += lf + 1;
    if (line.size() > maxLine) return fail(vm::THeadFault::LineTooLong);
    counted += line.size() + 2;
    if (counted > maxHead) return fail(vm::THeadFault::HeadTooLarge);
    if (requestLine) {
      const size_t last = line.rfind(' ');
      if (last == std::string::npos) return fail(vm::THeadFault::RequestLineWithoutSpace);
      result.version = line.substr(last + 1);
      const std::string front = line.substr(0, last);
      const size_t first = front.find(' ');
      result.method = front.substr(0, first);
      result.target = first == std::string::npos ? "" : front.substr(first + 1);
      const std::string method = Upper(result.method);
      result.answered = method == "GET" || method == "POST" || method == "HEAD";
      requestLine = false;
      if (result.answered) continue;
    } else if (!line.empty()) {
      if (line.rfind("..", 0) == 0) line.erase(0, 1);
      result.lines.push_back(line);
      continue;
    }
    result.status = vm::THeadStatus::Complete;
    result.length = position;
    return result;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Mostly small limits; a first byte of 0 gives the engine's own.
  const bool engineLimits = data[0] == 0;
  const size_t maxLine =
      engineLimits ? vm::TIdTCPConnection::kDefaultMaxLineLength : 1 + data[0] % 64;
  const size_t maxHead =
      engineLimits ? vm::TRequestHeadParser::kDefaultMaxHeadBytes : 2 + data[1] * 2;
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

  const TResult expected = ReadLineByLine(input, maxLine, maxHead);
  vm::TRequestHeadParser whole(maxLine, maxHead);
  Check(FromParser(whole.Parse(input), whole, input) == expected, "one piece: the line reading");

  // Two pieces, split where the input's last byte says.
  const size_t split = input.empty() ? 0 : static_cast<uint8_t>(input.back()) * input.size() / 256;
  vm::TRequestHeadParser halves(maxLine, maxHead);
  halves.Parse(input.substr(0, split));
  Check(FromParser(halves.Parse(input), halves, input) == expected, "two pieces");

  // Pieces of a few bytes each, as a slow client sends them.
  vm::TRequestHeadParser pieces(maxLine, maxHead);
  vm::THeadStatus status = vm::THeadStatus::NeedMore;
  for (size_t end = 0; status == vm::THeadStatus::NeedMore && end < input.size();)
    status = pieces.Parse(input.substr(0, end = std::min(input.size(), end + 1 + end % 7)));
  if (input.empty()) status = pieces.Parse(input);
  Check(FromParser(status, pieces, input) == expected, "small pieces");
  return 0;
}
