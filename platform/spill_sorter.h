// Sorting more records than memory should hold: sorted runs go to a nameless temporary file and
// are merged as the records are taken back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/record_stream.h"
#include "platform/spill_stream.h"

namespace vm {

// Byte strings added in any order and taken back in the order of less. At most about
// memoryLimit bytes of them are held while they are added; beyond that each sorted run goes to
// a nameless temporary file, and taking them back holds one read block per run. So a listing
// or an archive of a folder of any size costs bounded memory. Throws vm::Exception when the
// temporary file cannot be made or written.
class TSpillSorter {
 public:
  using TLess = bool (*)(std::string_view a, std::string_view b);
  // Enough for tens of thousands of names before the first run is written.
  static constexpr size_t kDefaultMemoryLimit = size_t{2} << 20;

  explicit TSpillSorter(TLess less, size_t memoryLimit = kDefaultMemoryLimit);
  ~TSpillSorter();
  TSpillSorter(const TSpillSorter&) = delete;
  TSpillSorter& operator=(const TSpillSorter&) = delete;

  // Adds a record; only before the first Next.
  void Add(std::string_view record);
  // The next record in order, valid until the next call; false after the last.
  bool Next(std::string_view& record);
  size_t Count() const { return count_; }
  // Runs written to the temporary file so far (0: everything stayed in memory).
  size_t Runs() const { return runs_.size(); }

 private:
  struct TSpan {
    size_t offset;
    size_t length;
  };
  // A run in the temporary file and its least record not yet given out.
  struct TRun {
    TFramedRecordReader reader;
    std::string_view current;
  };
  std::string_view At(const TSpan& span) const {
    return std::string_view(bytes_).substr(span.offset, span.length);
  }
  void SortHeld();
  void WriteRun();
  void StartMerge();
  // Orders the heap of run indexes so that the run with the least record is on top.
  bool RunAfter(size_t a, size_t b) const;

  TLess less_;
  size_t memoryLimit_;
  size_t count_ = 0;
  bool taking_ = false;  // Next has been called: no more adding
  // The records held in memory, end to end, and where each one stands.
  std::string bytes_;
  std::vector<TSpan> spans_;
  size_t nextHeld_ = 0;  // taking back from memory: the next span
  // Taking back from runs: the runs, the temporary file, and a heap of runs with records left.
  std::vector<std::unique_ptr<TRun>> runs_;
  std::unique_ptr<TSpillStream> file_;
  std::vector<size_t> heap_;
  size_t advance_ = SIZE_MAX;  // the run whose record was given last: moved on at the next call
};

}  // namespace vm
