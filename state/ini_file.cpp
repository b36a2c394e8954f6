#include "state/ini_file.h"

#include <climits>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"

namespace vm {

int StrToIntDef(const std::string& text, int fallback) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return fallback;
  long long value = 0;
  for (size_t d = i; d < text.size(); ++d) {
    if (text[d] < '0' || text[d] > '9') return fallback;
    value = value * 10 + (text[d] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return fallback;
  }
  if (text[0] == '-') value = -value;
  if (value < INT_MIN || value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

namespace {

// The profile functions trim spaces and tabs around names and values.
std::string_view TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// The lines of the file without their line ends; a missing or unreadable file has none.
std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(SystemToNative(path), std::ios::binary);
  std::vector<std::string> lines;
  if (!in) return lines;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t contentEnd = end;
    if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
    lines.push_back(text.substr(start, contentEnd - start));
    start = end + 1;
  }
  return lines;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionNameOf(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  if (text.empty() || text.front() != '[') return std::nullopt;
  size_t close = text.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(text.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;  // everything after the first "=", untrimmed
};

// A "key=value" line; comment lines and lines without "=" hold no key.
std::optional<KeyLine> KeyLineOf(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  if (text.empty() || text.front() == ';') return std::nullopt;
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = TrimBlanks(text.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return KeyLine{key, text.substr(eq + 1)};
}

// Half-open line range [body, end) of the first section with that name.
struct SectionRange {
  size_t header;
  size_t body;
  size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<std::string>& lines,
                                        std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionNameOf(lines[i]);
    if (!name || !EqualTextIgnoreCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionNameOf(lines[end])) ++end;
    return SectionRange{i, i + 1, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<std::string>& lines, const SectionRange& range,
                              std::string_view key) {
  for (size_t i = range.body; i < range.end; ++i) {
    auto entry = KeyLineOf(lines[i]);
    if (entry && EqualTextIgnoreCase(entry->key, key)) return i;
  }
  return std::nullopt;
}

// A value as the profile functions return it: blanks trimmed, one pair of enclosing quotes
// removed.
std::string CleanValue(std::string_view raw) {
  std::string_view value = TrimBlanks(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

TIniFile::TIniFile(std::string path, mode_t mode) : path_(std::move(path)), mode_(mode) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  std::vector<std::string> lines = ReadLines(path_);
  auto range = FindSection(lines, section);
  if (!range) return defaultValue;
  auto index = FindKey(lines, *range, key);
  if (!index) return defaultValue;
  return CleanValue(KeyLineOf(lines[*index])->value);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
  return StrToIntDef(ReadString(section, key, ""), defaultValue);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  // Written whole to a temporary file that replaces the old one, so a reader never sees half a
  // file and a failed write leaves the old one intact.
  WriteFileAtomically(path_, TextWith(section, {{key, value}}), mode_);
}

std::string TIniFile::TextWith(const std::string& section,
                               const std::vector<TIniValue>& values) const {
  std::vector<std::string> lines = ReadLines(path_);
  for (const TIniValue& entry : values) {
    std::string line = entry.Key + "=" + entry.Value;
    auto range = FindSection(lines, section);
    if (!range) {
      lines.push_back("[" + section + "]");
      lines.push_back(line);
    } else if (auto index = FindKey(lines, *range, entry.Key)) {
      // The key keeps its spelling in the file; only the value changes.
      lines[*index] = std::string(KeyLineOf(lines[*index])->key) + "=" + entry.Value;
    } else {
      // After the section's last non-blank line, so blank separator lines stay before the next
      // section.
      size_t insertAt = range->end;
      while (insertAt > range->body && TrimBlanks(lines[insertAt - 1]).empty()) --insertAt;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    }
  }
  return JoinCrLfLines(lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace vm
