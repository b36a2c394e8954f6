// One iconv descriptor between two encodings, for the system's Shift_JIS conversions.
#pragma once

#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

namespace vm {

// Not safe to share between threads: callers keep one per thread (thread_local).
class IconvConverter {
 public:
  // Opens the descriptor; throws std::runtime_error when iconv does not know the pair.
  IconvConverter(const char* to, const char* from);
  ~IconvConverter();
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;

  // The whole input converted; nullopt at the first byte that cannot be converted
  // (an unmappable byte, or a character cut off by the end of the input).
  std::optional<std::string> Convert(std::string_view input);
  // The whole input converted; each byte that cannot be converted becomes replacement
  // (bytes already in the target encoding) and the conversion goes on after it.
  std::string ConvertReplacing(std::string_view input, std::string_view replacement);

 private:
  std::optional<std::string> Run(std::string_view input, const std::string_view* replacement);

  iconv_t cd_;
};

}  // namespace vm
