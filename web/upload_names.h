// The names new files get in a shared folder: uploads (stamped, or the browser's name made
// safe) and new texts, and the rule that finds a free one without replacing anything.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vm {

// The prefix of the stamped upload names: prefix, stamp, extension.
inline constexpr std::string_view kUploadPrefix = "__vupd_img_";
// The longest name, in bytes on disk, that Linux file systems take.
inline constexpr size_t kMaxNameBytes = 255;
// Numbers " (2)", " (3)"... tried for a name that is taken, before giving up.
inline constexpr int kMaxCopyNumber = 1000;
// Bumps of the millisecond stamp tried before giving up on a free stamped name.
inline constexpr int kMaxStampTries = 1000;
// Marks tried for a name taken in a drop box; a clash is already unlikely at the first.
inline constexpr int kMaxMarkTries = 16;

// The name with " (n)" before its extension ("memo (2).txt"), or after it when it has none; the
// name itself for n = 1. "." is never the second byte of a Shift_JIS or UTF-8 character.
std::string WithCopyNumber(const std::string& name, int n);

// The name with an unguessable mark before its extension ("memo (k3v9q2x7ba).txt"), its stem
// cut so that the whole fits kMaxNameBytes. A name taken in a drop box becomes this: a copy
// number would tell a client that cannot list the folder that the name was there, and how often.
std::string WithUnguessableMark(std::string_view nativeName);

// A browser's file name (UTF-8) as a name on disk: what follows its last "/", each control
// character or layout mark (platform/name_marks.h) and invalid byte replaced by "_" or U+FFFD,
// without leading dots (no hidden file, no "." or ".."). "" when nothing is left.
std::string SafeUploadName(std::string_view utf8Name);

// The native names an upload tries, first to last: the browser's name made safe with the
// copy-number rule when names are kept (and the safe name is not empty), else the stamped
// name of the moment with the extension (native text), a millisecond later at each try.
// With hideTaken (a drop box), a kept name that is taken gets an unguessable mark instead of a
// copy number. Every name fits kMaxNameBytes.
class TUploadNamer {
 public:
  TUploadNamer(bool keepName, std::string_view utf8Name, std::string_view nativeExtension,
               std::chrono::system_clock::time_point moment, bool hideTaken = false);
  int MaxAttempts() const;
  // The name of the attempt-th try (1, 2, ...).
  std::string NativeName(int attempt) const;
  // The name the answer gives for a file saved at the attempt-th try: that try's, or the first
  // try's where a taken name must not show.
  std::string AnsweredName(int attempt) const;

 private:
  std::string safeName_;  // empty: stamped names
  bool hideTaken_;
  std::string extension_;
  std::chrono::system_clock::time_point moment_;
};

}  // namespace vm
