#include "http/chunked_decoder.h"

#include <algorithm>

namespace vm {

namespace {

// The chunk size of a size line: hex digits up to ";" or the end (spaces allowed before them).
bool ParseChunkSize(std::string_view line, uint64_t& size) {
  line = line.substr(0, line.find(';'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  if (line.empty() || line.size() > 15) return false;  // at most 2^60 bytes
  size = 0;
  for (const char c : line) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    size = size * 16 + static_cast<uint64_t>(digit);
  }
  return true;
}

}  // namespace

bool TChunkedDecoder::TakeLine(std::string_view input, size_t& consumed, bool& tooLong) {
  const size_t lf = input.find('\n');
  const size_t take = lf == std::string_view::npos ? input.size() : lf + 1;
  line_.append(input.substr(0, take));
  consumed = take;
  tooLong = line_.size() > kMaxLineBytes + 2;
  if (lf == std::string_view::npos || tooLong) return false;
  line_.pop_back();
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  return true;
}

TChunkedDecoder::TStep TChunkedDecoder::Next(std::string_view input) {
  TStep step;
  bool tooLong = false;
  switch (stage_) {
    case TStage::SizeLine:
      if (!TakeLine(input, step.Consumed, tooLong)) break;
      if (!ParseChunkSize(line_, remaining_)) {
        stage_ = TStage::Failed;
        break;
      }
      line_.clear();
      stage_ = remaining_ == 0 ? TStage::Trailer : TStage::Data;
      break;
    case TStage::Data: {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, input.size()));
      step.Data = input.substr(0, take);
      step.Consumed = take;
      remaining_ -= take;
      if (remaining_ == 0) stage_ = TStage::DataEnd;
      break;
    }
    case TStage::DataEnd:
      if (!TakeLine(input, step.Consumed, tooLong)) break;
      stage_ = line_.empty() ? TStage::SizeLine : TStage::Failed;
      line_.clear();
      break;
    case TStage::Trailer:
      if (!TakeLine(input, step.Consumed, tooLong)) break;
      if (line_.empty()) stage_ = TStage::Done;
      line_.clear();
      break;
    case TStage::Done:
    case TStage::Failed:
      break;
  }
  if (tooLong) stage_ = TStage::Failed;
  step.Status = stage_ == TStage::Done     ? TStatus::Done
                : stage_ == TStage::Failed ? TStatus::Malformed
                                           : TStatus::NeedMore;
  return step;
}

}  // namespace vm
