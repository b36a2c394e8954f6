#include "platform/record_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace vm {

namespace {

constexpr size_t kLengthSize = sizeof(uint32_t);

}  // namespace

void AppendFramedRecord(std::string& out, std::string_view record) {
  if (record.size() > UINT32_MAX) throw Exception("a record too long to be kept");
  const uint32_t length = static_cast<uint32_t>(record.size());
  out.append(reinterpret_cast<const char*>(&length), kLengthSize);
  out.append(record);
}

bool TFramedRecordReader::Ensure(size_t count) {
  if (block_.size() - taken_ >= count) return true;
  block_.erase(0, taken_);
  taken_ = 0;
  const int64_t left = end_ - next_;
  if (left <= 0) return false;
  const size_t want =
      static_cast<size_t>(std::min<int64_t>(left, std::max(count - block_.size(), kBlockSize)));
  const size_t had = block_.size();
  block_.resize(had + want);
  stream_->SetPosition(next_);
  const size_t got = stream_->Read(block_.data() + had, want);
  block_.resize(had + got);
  next_ += static_cast<int64_t>(got);
  return block_.size() >= count;
}

bool TFramedRecordReader::Next(std::string_view& record) {
  if (!Ensure(kLengthSize)) {
    if (block_.size() > taken_) throw Exception("a kept record was cut short");
    return false;
  }
  uint32_t length = 0;
  std::memcpy(&length, block_.data() + taken_, kLengthSize);
  if (!Ensure(kLengthSize + length)) throw Exception("a kept record was cut short");
  record = std::string_view(block_).substr(taken_ + kLengthSize, length);
  taken_ += kLengthSize + length;
  return true;
}

}  // namespace vm
