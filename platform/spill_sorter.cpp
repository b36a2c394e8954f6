#include "platform/spill_sorter.h"

#include <algorithm>

#include "platform/exception.h"

namespace vm {

namespace {

// Records of a run are gathered into writes of about this size.
constexpr size_t kWriteBlock = 64 * 1024;

}  // namespace

TSpillSorter::TSpillSorter(TLess less, size_t memoryLimit)
    : less_(less), memoryLimit_(memoryLimit) {}

TSpillSorter::~TSpillSorter() = default;

void TSpillSorter::Add(std::string_view record) {
  if (taking_) throw Exception("a record was added after the sorted ones were taken");
  const size_t held = bytes_.size() + spans_.size() * sizeof(TSpan);
  if (!spans_.empty() && held + record.size() + sizeof(TSpan) > memoryLimit_) WriteRun();
  spans_.push_back({bytes_.size(), record.size()});
  bytes_.append(record);
  ++count_;
}

void TSpillSorter::SortHeld() {
  std::sort(spans_.begin(), spans_.end(),
            [this](const TSpan& a, const TSpan& b) { return less_(At(a), At(b)); });
}

void TSpillSorter::WriteRun() {
  SortHeld();
  if (!file_) file_ = std::make_unique<TSpillStream>(0);  // straight to the file
  const int64_t begin = file_->Size();
  file_->SetPosition(begin);
  std::string block;
  for (const TSpan& span : spans_) {
    AppendFramedRecord(block, At(span));
    if (block.size() >= kWriteBlock) {
      file_->Write(block.data(), block.size());
      block.clear();
    }
  }
  file_->Write(block.data(), block.size());
  runs_.push_back(std::make_unique<TRun>(TRun{{*file_, begin, file_->Size()}, {}}));
  bytes_.clear();
  spans_.clear();
}

bool TSpillSorter::RunAfter(size_t a, size_t b) const {
  return less_(runs_[b]->current, runs_[a]->current);
}

void TSpillSorter::StartMerge() {
  if (!spans_.empty()) WriteRun();
  // The memory of the adding goes back: from now on only the runs' blocks are held.
  std::string().swap(bytes_);
  std::vector<TSpan>().swap(spans_);
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (runs_[i]->reader.Next(runs_[i]->current)) heap_.push_back(i);
  }
  std::make_heap(heap_.begin(), heap_.end(), [this](size_t a, size_t b) { return RunAfter(a, b); });
}

bool TSpillSorter::Next(std::string_view& record) {
  if (!taking_) {
    taking_ = true;
    if (runs_.empty()) {
      SortHeld();
    } else {
      StartMerge();
    }
  }
  if (runs_.empty()) {
    if (nextHeld_ >= spans_.size()) return false;
    record = At(spans_[nextHeld_++]);
    return true;
  }
  const auto after = [this](size_t a, size_t b) { return RunAfter(a, b); };
  // The record given last stayed valid until now: only now does its run move on.
  if (advance_ != SIZE_MAX && runs_[advance_]->reader.Next(runs_[advance_]->current)) {
    heap_.push_back(advance_);
    std::push_heap(heap_.begin(), heap_.end(), after);
  }
  advance_ = SIZE_MAX;
  if (heap_.empty()) return false;
  std::pop_heap(heap_.begin(), heap_.end(), after);
  advance_ = heap_.back();
  heap_.pop_back();
  record = runs_[advance_]->current;
  return true;
}

}  // namespace vm
