// Pattern searches over a request body: ignoring the case of ASCII letters, in time linear in
// the bytes searched whatever the pattern (a boundary line is chosen by the client, up to 4,999
// bytes of one letter), and handing the pages of a file-backed body back behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/stream.h"

namespace vm {

// Sizes a body scan works in. Tests shrink them, so that the edges of the steps fall inside
// bodies of a few KiB.
struct TBodyScanSizes {
  // A search hands the pages it has passed back to the stream in steps of this size: a search
  // across a large file's content then keeps at most about this much of it resident.
  size_t Window = 4 * 1024 * 1024;
  // Searches for the boundary line across at least this much are remembered, so that the
  // second pass does not cross the same file content again.
  size_t RememberedSpan = 1024 * 1024;
};

// A pattern prepared for searching: its bytes with ASCII letters lower-cased, the border table
// of its prefixes, and an anchor.
class TPattern {
 public:
  explicit TPattern(std::string_view text);

  size_t Size() const { return folded_.size(); }
  // The pattern's byte k, lower-cased.
  char Folded(size_t k) const { return folded_[k]; }
  // The length of the longest proper prefix of the first k + 1 bytes that is also their suffix.
  size_t Border(size_t k) const { return border_[k]; }
  // A run of bytes that are not ASCII letters, which a match holds exactly as they stand, so
  // that it can be looked for with memmem; empty when the pattern is all letters.
  std::string_view Anchor() const {
    return std::string_view(folded_).substr(anchorOffset_, anchorLength_);
  }
  size_t AnchorOffset() const { return anchorOffset_; }

 private:
  std::string folded_;
  std::vector<uint32_t> border_;
  size_t anchorOffset_ = 0;
  size_t anchorLength_ = 0;
};

// True when the pattern lies at position i of body (wholly inside it), ignoring ASCII case.
bool PatternAt(std::string_view body, size_t i, const TPattern& pattern);

// Finds one pattern in one body, again and again. Successive searches that start no earlier
// than the one before share their work: every byte is looked at about once, so a whole pass
// of searches costs time linear in the body (plus the pattern's length once).
class TPatternFinder {
 public:
  TPatternFinder(const TPattern& pattern, std::string_view body);

  // First position p in [from, to) where the pattern lies (it may run on past to, not past the
  // body); npos when none.
  size_t Find(size_t from, size_t to);

 private:
  void Restart(size_t at);
  // Moves pos_ to the next place where a match could start before to, by the anchor.
  void SkipToAnchor(size_t to);

  const TPattern& pattern_;
  std::string_view body_;
  // What the searches so far have shown: no match starts in [from_, min(hit_, pos_ - state_)),
  // and hit_, when not npos, is the first one at or after from_. The bytes before pos_ have
  // been read; the last state_ of them are the pattern's first state_ bytes.
  size_t from_ = std::string_view::npos;
  size_t hit_ = std::string_view::npos;
  size_t pos_ = 0;
  size_t state_ = 0;
  // Bytes to read one by one before the anchor is looked for again: set when the anchor turns
  // up too close to pay for the look.
  size_t skipPause_ = 0;
};

// The searches of one body. A search across a long stretch (a large file's content) goes in
// windows and hands each window it has passed back to the stream, so that the body is never
// resident all at once; searches for the boundary line across long stretches are remembered,
// so that the second pass crosses no file content again.
class TBodySearch {
 public:
  TBodySearch(std::string_view body, TStream& stream, const TBodyScanSizes& sizes);

  // First position in [from, to) where the finder's pattern lies; npos when none.
  size_t Find(TPatternFinder& finder, size_t from, size_t to) const;
  // First position in [from, to) where the first or the second pattern lies (first wins a
  // tie); npos when neither. isFirst tells which one it is.
  size_t FindEither(TPatternFinder& first, TPatternFinder& second, size_t from, size_t to,
                    bool& isFirst) const;
  // First position in [from, to) where boundary (the body's boundary line) starts; npos when
  // none.
  size_t NextBoundary(TPatternFinder& boundary, size_t from, size_t to) const;
  // Tells that the scan will not look before position pos again until the next StartPass:
  // the whole windows before it are handed back.
  void Passed(size_t pos) const;
  // A pass over the body starts at its beginning again.
  void StartPass() const { released_ = 0; }

  std::string_view Body() const { return body_; }

 private:
  void Release(size_t from, size_t to) const;

  std::string_view body_;
  TStream& stream_;
  TBodyScanSizes sizes_;
  mutable size_t released_ = 0;  // the windows before this have been handed back
  mutable std::map<size_t, std::pair<size_t, size_t>> known_;  // from -> (to, first hit)
};

}  // namespace vm
