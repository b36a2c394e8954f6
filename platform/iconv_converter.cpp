// iconv in chunks, strict or with a replacement for bytes it cannot convert.
#include "platform/iconv_converter.h"

#include <errno.h>

#include <stdexcept>

namespace vm {

namespace {

constexpr size_t kConvertChunk = 4096;  // output bytes per iconv() round

}  // namespace

IconvConverter::IconvConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
  if (cd_ == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
}

IconvConverter::~IconvConverter() { iconv_close(cd_); }

std::optional<std::string> IconvConverter::Convert(std::string_view input) {
  return Run(input, nullptr);
}

std::string IconvConverter::ConvertReplacing(std::string_view input, std::string_view replacement) {
  return *Run(input, &replacement);
}

std::optional<std::string> IconvConverter::Run(std::string_view input,
                                               const std::string_view* replacement) {
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a failed call may have left state behind
  std::string out;
  out.reserve(input.size() * 2);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char chunk[kConvertChunk];
  while (inLeft > 0) {
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    const size_t rc = iconv(cd_, &in, &inLeft, &dst, &dstLeft);
    out.append(chunk, dst - chunk);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ: a byte that cannot be mapped; EINVAL: a character cut off by the end.
    if (replacement == nullptr) return std::nullopt;
    out.append(*replacement);
    ++in;
    --inLeft;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace vm
