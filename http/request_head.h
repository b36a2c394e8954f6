// The request line and header lines of one request, parsed on a byte buffer: no socket, and no
// allocation beyond the list of header lines.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace vm {

enum class THeadStatus {
  Complete,   // the head is there; Head() holds it
  NeedMore,   // the input ends inside the head: call again with more bytes
  Malformed,  // the input can never become a head we read; Fault() says why
};

enum class THeadFault {
  None,
  RequestLineWithoutSpace,  // "Error in parsing command."
  LineTooLong,              // a line passed the longest line allowed before its LF
  HeadTooLarge,             // the lines together passed the head limit
};

// A piece of the parsed input, by offset, so that it stays valid while the input buffer moves.
struct TTextSpan {
  size_t offset = 0;
  size_t length = 0;
  std::string_view In(std::string_view input) const { return input.substr(offset, length); }
};

struct TRequestHead {
  TTextSpan RequestLine;  // without its line end
  TTextSpan Method;       // as sent: the text before the first space
  TTextSpan Target;       // between the first and the last space; empty with one space only
  TTextSpan Version;      // after the last space
  // The method is GET, POST or HEAD in any letter case, or one the parser's method filter
  // accepts. Only then were header lines read: a request with another method ends with its
  // request line.
  bool Answered = false;
  // In arrival order; each without its line end, and a line that began with ".." without its
  // first ".". Continuation lines stay lines of their own.
  std::vector<TTextSpan> HeaderLines;
  // Bytes of the input the head took, up to and including the LF of its empty line (of the
  // request line when not Answered). The body, or the next request, begins here.
  size_t Length = 0;
};

// Says whether a request line with another method than GET, POST and HEAD is read on and
// answered (a protocol served beside the pages): the method as sent and the raw target.
using TMethodFilter = std::function<bool(std::string_view method, std::string_view target)>;

// Reads a head line by line. A line ends at LF; one CR before the LF is removed.
class TRequestHeadParser {
 public:
  // The request line and the header lines together may not pass this, counting each line with
  // two bytes for its line end, so that a client sending header lines without end cannot hold
  // a thread and grow the record for ever.
  static constexpr size_t kDefaultMaxHeadBytes = 64 * 1024;

  // maxLineLength: the longest line accepted, line end not counted.
  // alsoAnswered, when given, must outlive the parser.
  explicit TRequestHeadParser(size_t maxLineLength, size_t maxHeadBytes = kDefaultMaxHeadBytes,
                              const TMethodFilter* alsoAnswered = nullptr);

  // Parses the head at the start of input. After NeedMore, call again with the same bytes and
  // more after them: the parse goes on where it stopped, without looking at a byte twice.
  // After Complete or Malformed, further calls return the same.
  THeadStatus Parse(std::string_view input);
  const TRequestHead& Head() const { return head_; }
  THeadFault Fault() const { return fault_; }

 private:
  enum class TStage { RequestLine, HeaderLines, Done };
  THeadStatus Finish(THeadStatus status, THeadFault fault, size_t length);
  // Splits the request line at its first and last space; false without a space.
  bool SplitRequestLine(std::string_view input, TTextSpan line);

  size_t maxLineLength_;
  size_t maxHeadBytes_;
  const TMethodFilter* alsoAnswered_;
  TStage stage_ = TStage::RequestLine;
  THeadStatus status_ = THeadStatus::NeedMore;
  THeadFault fault_ = THeadFault::None;
  size_t lineStart_ = 0;  // offset of the line being read
  size_t searched_ = 0;   // bytes of that line already searched for its LF
  size_t counted_ = 0;    // head bytes counted so far
  TRequestHead head_;
};

}  // namespace vm
