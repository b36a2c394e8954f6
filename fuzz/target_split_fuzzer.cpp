// The request-target splitter and the document made from it, on arbitrary targets.
//
// Besides the sanitizers' findings, the input fails when the parts break their shape: the
// directory part ends in "/" (or is empty), the file-name part holds no "/" and no "=", the
// parameter part starts at an "=", and for a target without "://" the three parts, joined,
// give back the start of the target (with "\" turned into "/").
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/url_decode.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

// Every byte as in the target, except that a "\" may have become "/".
bool SameExceptSlashes(std::string_view split, std::string_view target) {
  if (split.size() > target.size()) return false;
  for (size_t i = 0; i < split.size(); ++i) {
    if (split[i] == target[i]) continue;
    if (!(split[i] == '/' && target[i] == '\\')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view target(reinterpret_cast<const char*>(data), size);
  const vm::TTargetParts parts = vm::SplitTarget(target);
  Check(parts.Directory.empty() || parts.Directory.back() == '/', "directory ends in /");
  Check(parts.FileName.find('/') == std::string::npos, "no / in the file name");
  Check(parts.FileName.find('=') == std::string::npos, "no = in the file name");
  Check(parts.Params.empty() || parts.Params.front() == '=', "parameters start at =");
  Check(parts.Params.find('#') == std::string::npos, "no # in the parameters");
  if (target.find("://") == std::string_view::npos) {
    Check(parts.Host.empty(), "no host without a scheme");
    Check(SameExceptSlashes(parts.Directory + parts.FileName + parts.Params, target),
          "the parts are the target's start");
  } else {
    Check(!parts.Directory.empty() && parts.Directory.front() == '/', "absolute form: directory");
    Check(parts.FileName.find('#') == std::string::npos, "absolute form: no # in the name");
  }

  std::string host;
  const std::string document = vm::DocumentFromTarget(target, &host);
  Check(host == parts.Host, "the same host");
  if (target == "*") Check(document == "*", "* stays *");
  return 0;
}
