// The two file errors, with the path put into their Shift_JIS message.
#include "platform/exception.h"

#include "web/sjis_texts.h"

namespace vm {

namespace {

// The message pattern with its "%s" replaced by the path (the path's bytes as they are).
std::string WithPath(const std::string& pattern, const std::string& path) {
  std::string message = pattern;
  const size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, path);
  return message;
}

}  // namespace

EFCreateError::EFCreateError(const std::string& path)
    : Exception(WithPath(texts::CannotCreateFile(), path)) {}

EFOpenError::EFOpenError(const std::string& path)
    : Exception(WithPath(texts::CannotOpenFile(), path)) {}

}  // namespace vm
