// Header line list: names, values with unfolding, setting with folding.
#include "http/header_list.h"

#include "platform/sjis.h"

namespace vm {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A line that begins with a space or a tab continues the header line above it.
bool IsContinuation(const std::string& line) { return !line.empty() && IsBlank(line[0]); }

// The separator with its trailing blanks removed marks where a name ends.
std::string NameTerminator(const std::string& separator) {
  size_t end = separator.size();
  while (end > 0 && IsBlank(separator[end - 1])) --end;
  std::string terminator = separator.substr(0, end);
  return terminator.empty() ? std::string(":") : terminator;
}

// Finds where the next folded piece ends: just after the last break character
// (blank, or comma outside quotes) within limit bytes, else just after the first
// one beyond it. Returns text.size() when the rest cannot or need not be broken.
size_t FindFoldPoint(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t lastBreak = std::string_view::npos;
  bool inQuotes = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsSjisLeadByte(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
      ++i;  // the pair is one character: never a break point, never split
      continue;
    }
    if (c == '"') {
      inQuotes = !inQuotes;
      continue;
    }
    if (inQuotes || !(IsBlank(c) || c == ',')) continue;
    const size_t after = i + 1;
    if (after <= limit) {
      lastBreak = after;
    } else {
      return lastBreak != std::string_view::npos ? lastBreak : after;
    }
  }
  return lastBreak != std::string_view::npos ? lastBreak : text.size();
}

// Removes trailing blanks, but never the second byte of a double-byte character.
std::string TrimRightBlanks(std::string text) {
  size_t contentEnd = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      contentEnd = ++i + 1;
    } else if (!IsBlank(text[i])) {
      contentEnd = i + 1;
    }
  }
  text.resize(contentEnd);
  return text;
}

}  // namespace

void TIdHeaderList::Insert(int index, std::string line) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TIdHeaderList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
}

std::string TIdHeaderList::Names(int i) const {
  if (i < 0 || i >= Count()) return std::string();
  const std::string& line = Line(i);
  const size_t end = line.find(NameTerminator(NameValueSeparator));
  if (end == std::string::npos) return std::string();
  std::string name = line.substr(0, end);
  return CaseSensitive ? name : UpperAscii(std::move(name));
}

int TIdHeaderList::IndexOfName(const std::string& name) const {
  const std::string terminator = NameTerminator(NameValueSeparator);
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = Line(i);
    const size_t end = line.find(terminator);
    if (end == std::string::npos) continue;
    const std::string_view lineName(line.data(), end);
    if (CaseSensitive ? lineName == name : EqualTextIgnoreCase(lineName, name)) return i;
  }
  return -1;
}

std::string TIdHeaderList::ValueFromIndex(int i) const {
  if (i < 0 || i >= Count()) return std::string();
  const std::string& line = Line(i);
  const std::string terminator = NameTerminator(NameValueSeparator);
  const size_t end = line.find(terminator);
  std::string value = end == std::string::npos ? std::string() : line.substr(end + terminator.size());
  if (UnfoldLines) {
    // Each continuation joins the value with one space between the trimmed texts. Only the
    // end is trimmed in place on the way, and the start once at the return (the same result),
    // so that a head of many continuation lines costs time in proportion to its bytes.
    for (int j = i + 1; j < Count() && IsContinuation(Line(j)); ++j) {
      value.resize(TrimEndView(value).size());
      value.push_back(' ');
      value.append(TrimView(Line(j)));
    }
  }
  return TrimText(value);
}

std::string TIdHeaderList::Values(const std::string& name) const {
  return ValueFromIndex(IndexOfName(name));
}

void TIdHeaderList::SetValue(const std::string& name, const std::string& value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index < 0) return;
    Delete(index);
    if (FoldLines) {
      while (index < Count() && IsContinuation(Line(index))) Delete(index);
    }
    return;
  }
  if (index < 0) {
    Add(std::string());
    index = Count() - 1;
  }
  const std::string line = name + NameValueSeparator + value;
  if (!FoldLines) {
    lines_[static_cast<size_t>(index)] = line;
    return;
  }
  while (index + 1 < Count() && IsContinuation(Line(index + 1))) Delete(index + 1);
  std::vector<std::string> pieces = FoldLine(line, FoldLength);
  lines_[static_cast<size_t>(index)] = std::move(pieces[0]);
  for (size_t k = 1; k < pieces.size(); ++k) {
    Insert(index + static_cast<int>(k), std::move(pieces[k]));
  }
}

void TIdHeaderList::Extract(const std::string& name, std::vector<std::string>& target) const {
  const std::string terminator = NameTerminator(NameValueSeparator);
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = Line(i);
    const size_t end = line.find(terminator);
    if (end == std::string::npos) continue;
    if (EqualTextIgnoreCase(std::string_view(line.data(), end), name)) {
      target.push_back(ValueFromIndex(i));
    }
  }
}

void TIdHeaderList::AddStdValues(const std::vector<std::string>& list) {
  for (const std::string& entry : list) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      Add(entry);
    } else {
      Add(entry.substr(0, equals) + NameValueSeparator + entry.substr(equals + 1));
    }
  }
}

std::vector<std::string> FoldLine(const std::string& line, int foldLength) {
  // A continuation piece starts with one space, which counts toward its length.
  static constexpr std::string_view kContinuationPrefix = " ";
  std::vector<std::string> pieces;
  std::string_view rest = line;
  std::string_view prefix;
  const size_t width = foldLength > 1 ? static_cast<size_t>(foldLength) : 1;
  while (true) {
    const size_t limit = width > prefix.size() ? width - prefix.size() : 1;
    const size_t cut = FindFoldPoint(rest, limit);
    pieces.push_back(TrimRightBlanks(std::string(prefix) + std::string(rest.substr(0, cut))));
    rest.remove_prefix(cut);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) break;
    prefix = kContinuationPrefix;
  }
  return pieces;
}

}  // namespace vm
