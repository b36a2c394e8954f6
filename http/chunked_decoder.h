// The chunked transfer coding of a request body, decoded on a byte buffer: no socket, no copy of
// the data (each step hands back where the data lies in the input), bounded memory per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

class TChunkedDecoder {
 public:
  // A chunk-size line (with its extensions) or a trailer line longer than this is malformed:
  // a client must not make us hold a line without end.
  static constexpr size_t kMaxLineBytes = 4096;

  enum class TStatus {
    NeedMore,   // consumed what it could: call again with the next bytes
    Done,       // the last chunk and the trailers are read; bytes after them are not consumed
    Malformed,  // never a body: the connection must be closed
  };
  struct TStep {
    TStatus Status = TStatus::NeedMore;
    size_t Consumed = 0;    // input bytes taken by this step
    std::string_view Data;  // body bytes within the input (may be empty)
  };

  // One step on the input that follows what earlier steps consumed.
  TStep Next(std::string_view input);
  bool Finished() const { return stage_ == TStage::Done; }

 private:
  enum class TStage { SizeLine, Data, DataEnd, Trailer, Done, Failed };
  // Takes a line (up to LF) into line_; true once it is whole (then line_ has it, CR removed).
  bool TakeLine(std::string_view input, size_t& consumed, bool& tooLong);

  TStage stage_ = TStage::SizeLine;
  uint64_t remaining_ = 0;  // data bytes left in the current chunk
  std::string line_;        // the line being read
};

}  // namespace vm
