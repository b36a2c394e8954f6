#include "http/request_head.h"

#include <algorithm>
#include <cstring>

namespace vm {

namespace {

constexpr size_t kLineEndBytes = 2;  // what each line counts for its end, CR LF or LF alone

bool IsAnsweredMethod(std::string_view method) {
  auto equals = [method](std::string_view name) {
    return method.size() == name.size() &&
           std::equal(method.begin(), method.end(), name.begin(), [](char a, char b) {
             return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
           });
  };
  return equals("GET") || equals("POST") || equals("HEAD");
}

}  // namespace

TRequestHeadParser::TRequestHeadParser(size_t maxLineLength, size_t maxHeadBytes,
                                       const TMethodFilter* alsoAnswered)
    : maxLineLength_(maxLineLength), maxHeadBytes_(maxHeadBytes), alsoAnswered_(alsoAnswered) {}

THeadStatus TRequestHeadParser::Finish(THeadStatus status, THeadFault fault, size_t length) {
  stage_ = TStage::Done;
  status_ = status;
  fault_ = fault;
  head_.Length = length;
  return status;
}

bool TRequestHeadParser::SplitRequestLine(std::string_view input, TTextSpan line) {
  const std::string_view text = line.In(input);
  const size_t lastSpace = text.rfind(' ');
  if (lastSpace == std::string_view::npos) return false;
  const size_t firstSpace = text.find(' ');
  head_.RequestLine = line;
  head_.Version = {line.offset + lastSpace + 1, text.size() - lastSpace - 1};
  if (firstSpace == lastSpace) {
    head_.Method = {line.offset, lastSpace};
    head_.Target = {line.offset + lastSpace, 0};
  } else {
    head_.Method = {line.offset, firstSpace};
    head_.Target = {line.offset + firstSpace + 1, lastSpace - firstSpace - 1};
  }
  head_.Answered = IsAnsweredMethod(head_.Method.In(input)) ||
                   (alsoAnswered_ != nullptr && *alsoAnswered_ &&
                    (*alsoAnswered_)(head_.Method.In(input), head_.Target.In(input)));
  return true;
}

THeadStatus TRequestHeadParser::Parse(std::string_view input) {
  if (stage_ == TStage::Done) return status_;
  // The longest acceptable line with its CR LF: a line with no LF within this is too long.
  const size_t window = maxLineLength_ + kLineEndBytes;
  for (;;) {
    const size_t available = input.size() - std::min(input.size(), lineStart_);
    const size_t limit = std::min(available, window);
    const char* base = input.data() + lineStart_;
    const void* lf =
        searched_ < limit ? std::memchr(base + searched_, '\n', limit - searched_) : nullptr;
    if (lf == nullptr) {
      searched_ = std::max(searched_, limit);
      if (available >= window) return Finish(THeadStatus::Malformed, THeadFault::LineTooLong, 0);
      return THeadStatus::NeedMore;
    }
    const size_t end = static_cast<size_t>(static_cast<const char*>(lf) - base);
    const size_t next = lineStart_ + end + 1;
    TTextSpan line{lineStart_, end};
    if (line.length > 0 && base[line.length - 1] == '\r') --line.length;
    lineStart_ = next;
    searched_ = 0;
    if (line.length > maxLineLength_)
      return Finish(THeadStatus::Malformed, THeadFault::LineTooLong, 0);
    counted_ += line.length + kLineEndBytes;
    if (counted_ > maxHeadBytes_)
      return Finish(THeadStatus::Malformed, THeadFault::HeadTooLarge, 0);

    if (stage_ == TStage::RequestLine) {
      if (!SplitRequestLine(input, line))
        return Finish(THeadStatus::Malformed, THeadFault::RequestLineWithoutSpace, 0);
      if (!head_.Answered) return Finish(THeadStatus::Complete, THeadFault::None, next);
      stage_ = TStage::HeaderLines;
      continue;
    }
    if (line.length == 0) return Finish(THeadStatus::Complete, THeadFault::None, next);
    if (line.length >= 2 && base[0] == '.' && base[1] == '.') {
      ++line.offset;
      --line.length;
    }
    head_.HeaderLines.push_back(line);
  }
}

}  // namespace vm
