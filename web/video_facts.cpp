#include "web/video_facts.h"

#include <cctype>

namespace vm {

namespace {

enum class TValue { Token, Number };

struct TFact {
  std::string_view Name;
  TValue Value;
  std::string_view Allowed;  // for a token: the characters it may hold besides letters and digits
};

constexpr TFact kFacts[] = {
    {"type", TValue::Token, "/.+-"},  {"codecs", TValue::Token, ".,_+-"},
    {"duration", TValue::Number, ""}, {"width", TValue::Number, ""},
    {"height", TValue::Number, ""},
};
// Longer values are not what the program writes.
constexpr size_t kMaxValue = 200;

bool Valid(const TFact& fact, std::string_view value) {
  if (value.empty() || value.size() > kMaxValue) return false;
  // JSON has no leading zeros.
  if (fact.Value == TValue::Number && value.size() > 1 && value[0] == '0' && value[1] != '.') {
    return false;
  }
  bool point = false;
  for (const char c : value) {
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (fact.Value == TValue::Number) {
      // Decimal digits with at most one point between them: a JSON number as it is.
      if (c == '.' && !point && value.front() != '.' && value.back() != '.') {
        point = true;
      } else if (!digit) {
        return false;
      }
    } else if (!digit && std::isalpha(static_cast<unsigned char>(c)) == 0 &&
               fact.Allowed.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string VideoFactsJson(std::string_view lines) {
  std::string json = "{";
  for (const TFact& fact : kFacts) {
    for (size_t at = 0; at < lines.size();) {
      size_t end = lines.find('\n', at);
      if (end == std::string_view::npos) end = lines.size();
      const std::string_view line = lines.substr(at, end - at);
      at = end + 1;
      if (line.size() <= fact.Name.size() || !line.starts_with(fact.Name) ||
          line[fact.Name.size()] != '=') {
        continue;
      }
      const std::string_view value = line.substr(fact.Name.size() + 1);
      if (!Valid(fact, value)) break;
      if (json.size() > 1) json += ',';
      json += "\"" + std::string(fact.Name) + "\":";
      json += fact.Value == TValue::Token ? "\"" + std::string(value) + "\"" : std::string(value);
      break;
    }
  }
  return json + "}";
}

}  // namespace vm
