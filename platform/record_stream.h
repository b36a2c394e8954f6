// Records of any bytes kept one after the other in a stream, each behind its length, and read
// back in order a block at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/stream.h"

namespace vm {

// Appends the record to out as it goes into the stream: its length (4 bytes, in the machine's
// order: the stream never leaves the process) and its bytes. Throws vm::Exception for a record
// of 4 GiB or more.
void AppendFramedRecord(std::string& out, std::string_view record);

// Reads the records between begin and end of a stream, in order, holding one block of it (or
// one record, when that is larger). The stream may be read for other purposes in between: each
// read sets its position first.
class TFramedRecordReader {
 public:
  static constexpr size_t kBlockSize = 16 * 1024;

  TFramedRecordReader(TStream& stream, int64_t begin, int64_t end)
      : stream_(&stream), next_(begin), end_(end) {}

  // The next record, valid until the next call; false at the end. Throws vm::Exception when
  // the stream ends inside a record.
  bool Next(std::string_view& record);

 private:
  // Makes at least count bytes readable from taken_ on; false when the stream has fewer left.
  bool Ensure(size_t count);

  TStream* stream_;
  int64_t next_;  // where the bytes not yet read begin
  int64_t end_;
  std::string block_;  // bytes read and not yet taken, from taken_ on
  size_t taken_ = 0;
};

}  // namespace vm
