// The two file errors, with the path put into their Shift_JIS message.
#include "platform/exception.h"

#include "platform/sjis.h"

namespace vm {

namespace {

// The message patterns, converted once (function-local statics: thread-safe initialisation).
const std::string& CannotCreateFilePattern() {
  static const std::string pattern = Sjis("ファイル %s を作成できません");
  return pattern;
}

const std::string& CannotOpenFilePattern() {
  static const std::string pattern = Sjis("ファイル %s は開けません");
  return pattern;
}

// The message pattern with its "%s" replaced by the path (the path's bytes as they are).
std::string WithPath(const std::string& pattern, const std::string& path) {
  std::string message = pattern;
  const size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, path);
  return message;
}

}  // namespace

EFCreateError::EFCreateError(const std::string& path)
    : Exception(WithPath(CannotCreateFilePattern(), path)), path_(path) {}

EFOpenError::EFOpenError(const std::string& path)
    : Exception(WithPath(CannotOpenFilePattern(), path)) {}

}  // namespace vm
