// Failures are exceptions; their messages are texts of the system (Shift_JIS bytes).
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace vm {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// A file could not be created: "ファイル %s を作成できません" with the path.
class EFCreateError : public Exception {
 public:
  explicit EFCreateError(const std::string& path);
  // The file that could not be created (system text), for a window that says it in its language.
  const std::string& Path() const { return path_; }

 protected:
  // A message of another wording about the same failure.
  EFCreateError(std::string message, std::string path)
      : Exception(std::move(message)), path_(std::move(path)) {}

 private:
  std::string path_;
};

// A file could not be opened for reading: "ファイル %s は開けません" with the path.
class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const std::string& path);
};

}  // namespace vm
