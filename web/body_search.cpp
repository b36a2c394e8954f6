// Linear pattern searches over request bodies.
//
// A search reads the body byte by byte through the pattern's border table (Knuth-Morris-Pratt),
// which never looks at a byte twice, whatever the pattern. Where no match is in progress it
// jumps ahead with memmem to the next place the pattern's anchor (bytes that are not letters,
// so case does not matter for them) occurs: across a file's content that is most of the work,
// done at memory speed. A jump that turns out short is not tried again for a while, so that a
// body full of anchors costs no more than reading it byte by byte.
#include "web/body_search.h"

#include <string.h>

#include <algorithm>
#include <array>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr size_t npos = std::string_view::npos;
// memmem prepares its needle anew at every call, in time of the needle's length: the anchor
// looked for is at most this long.
constexpr size_t kMaxAnchor = 64;
// A jump shorter than this does not pay for the look...
constexpr size_t kMinUsefulJump = 256;
// ...and is followed by this many bytes read one by one before the next look.
constexpr size_t kJumpPause = 4096;

constexpr std::array<char, 256> MakeFoldTable() {
  std::array<char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = AsciiLower(static_cast<char>(c));
  return table;
}
constexpr std::array<char, 256> kFold = MakeFoldTable();

char Fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

bool IsAsciiLetter(char c) { return Fold(c) >= 'a' && Fold(c) <= 'z'; }

}  // namespace

TPattern::TPattern(std::string_view text) : folded_(text), border_(text.size(), 0) {
  for (char& c : folded_) c = Fold(c);
  for (size_t k = 1, length = 0; k < folded_.size(); ++k) {
    while (length > 0 && folded_[k] != folded_[length]) length = border_[length - 1];
    if (folded_[k] == folded_[length]) ++length;
    border_[k] = static_cast<uint32_t>(length);
  }
  // The anchor: the first of the longest runs of bytes that are not letters.
  size_t longest = 0;
  for (size_t k = 0; k < folded_.size();) {
    if (IsAsciiLetter(folded_[k])) {
      ++k;
      continue;
    }
    size_t end = k;
    while (end < folded_.size() && !IsAsciiLetter(folded_[end])) ++end;
    if (end - k > longest) {
      longest = end - k;
      anchorOffset_ = k;
    }
    k = end;
  }
  anchorLength_ = std::min(longest, kMaxAnchor);
}

bool PatternAt(std::string_view body, size_t i, const TPattern& pattern) {
  if (i > body.size() || body.size() - i < pattern.Size()) return false;
  for (size_t k = 0; k < pattern.Size(); ++k) {
    if (Fold(body[i + k]) != pattern.Folded(k)) return false;
  }
  return true;
}

TPatternFinder::TPatternFinder(const TPattern& pattern, std::string_view body)
    : pattern_(pattern), body_(body) {}

void TPatternFinder::Restart(size_t at) {
  from_ = at;
  hit_ = npos;
  pos_ = at;
  state_ = 0;
}

void TPatternFinder::SkipToAnchor(size_t to) {
  const std::string_view anchor = pattern_.Anchor();
  if (skipPause_ > 0 || anchor.empty()) return;
  // The anchor of a match that starts at p in [pos_, to) starts at p + offset, inside the body.
  const size_t offset = pattern_.AnchorOffset();
  const size_t first = pos_ + offset;
  const size_t end = std::min(body_.size(), to + offset + anchor.size() - 1);
  const void* hit = nullptr;
  if (first < end && end - first >= anchor.size()) {
    hit = memmem(body_.data() + first, end - first, anchor.data(), anchor.size());
  }
  if (hit == nullptr) {
    pos_ = to;  // no match starts before to
    return;
  }
  const size_t next = static_cast<size_t>(static_cast<const char*>(hit) - body_.data()) - offset;
  if (next - pos_ < kMinUsefulJump) skipPause_ = kJumpPause;
  pos_ = next;
}

size_t TPatternFinder::Find(size_t from, size_t to) {
  const size_t size = pattern_.Size();
  to = std::min(to, body_.size());
  if (size == 0 || from >= to) return npos;
  if (from_ == npos || from < from_) {
    Restart(from);
  } else {
    if (hit_ != npos) {
      if (from <= hit_) return hit_ < to ? hit_ : npos;
      hit_ = npos;
    }
    from_ = from;
    if (from >= pos_) {
      pos_ = from;
      state_ = 0;
    } else {
      // Keep only the part of the match in progress that starts at from or later.
      while (state_ > 0 && pos_ - state_ < from) state_ = pattern_.Border(state_ - 1);
    }
  }
  while (pos_ - state_ < to && pos_ < body_.size()) {
    if (state_ == 0) {
      SkipToAnchor(to);
      if (pos_ >= to) break;
    }
    const char c = Fold(body_[pos_++]);
    if (skipPause_ > 0) --skipPause_;
    while (state_ > 0 && c != pattern_.Folded(state_)) state_ = pattern_.Border(state_ - 1);
    if (c == pattern_.Folded(state_)) ++state_;
    if (state_ == size) {
      hit_ = pos_ - size;
      state_ = pattern_.Border(size - 1);
      return hit_ < to ? hit_ : npos;
    }
  }
  return npos;
}

TBodySearch::TBodySearch(std::string_view body, TStream& stream, const TBodyScanSizes& sizes)
    : body_(body), stream_(stream), sizes_(sizes) {
  sizes_.Window = std::max<size_t>(sizes_.Window, 1);
}

size_t TBodySearch::Find(TPatternFinder& finder, size_t from, size_t to) const {
  to = std::min(to, body_.size());
  for (size_t w = from; w < to; w += sizes_.Window) {
    const size_t wEnd = w + std::min(sizes_.Window, to - w);
    const size_t hit = finder.Find(w, wEnd);
    if (hit != npos) return hit;
    if (wEnd < to) Release(w, wEnd);
  }
  return npos;
}

size_t TBodySearch::FindEither(TPatternFinder& first, TPatternFinder& second, size_t from,
                               size_t to, bool& isFirst) const {
  to = std::min(to, body_.size());
  for (size_t w = from; w < to; w += sizes_.Window) {
    const size_t wEnd = w + std::min(sizes_.Window, to - w);
    const size_t a = first.Find(w, wEnd);
    const size_t b = second.Find(w, a == npos ? wEnd : a);
    if (b != npos) {
      isFirst = false;
      return b;
    }
    if (a != npos) {
      isFirst = true;
      return a;
    }
    if (wEnd < to) Release(w, wEnd);
  }
  return npos;
}

size_t TBodySearch::NextBoundary(TPatternFinder& boundary, size_t from, size_t to) const {
  auto known = known_.upper_bound(from);
  if (known != known_.begin()) {
    --known;
    const size_t start = known->first;
    const auto [end, hit] = known->second;  // the first boundary in [start, end): hit
    if (hit != npos && start <= from && from <= hit) return hit < to ? hit : npos;
    if (hit == npos && from < end) {
      if (to <= end) return npos;
      from = end;  // none before end: only the rest needs a look
    }
  }
  const size_t hit = Find(boundary, from, to);
  if (from < to && (hit == npos ? to : hit) - from >= sizes_.RememberedSpan) {
    known_[from] = {to, hit};
  }
  return hit;
}

void TBodySearch::Passed(size_t pos) const {
  if (pos < released_ || pos - released_ < sizes_.Window) return;
  const size_t end = pos / sizes_.Window * sizes_.Window;
  Release(released_, end);
  released_ = end;
}

void TBodySearch::Release(size_t from, size_t to) const {
  stream_.ReleaseView(static_cast<int64_t>(from), static_cast<int64_t>(to));
}

}  // namespace vm
