// The save step: new files in a shared folder, whole before they appear under their name, and
// never over an existing entry (a file, a folder or a link of that name stays as it is).
#pragma once

#include <functional>
#include <string>

namespace vm {

enum class TSaveOutcome {
  Saved,
  CannotCreate,  // no file could be made or named in the folder (no access, read-only, gone)
  NotWritten,    // the content could not be written (a full disk, say): nothing is left
  NameTooLong,   // the file system refused the name for its length
  NoFreeName,    // every name offered was taken
};

// Names a new file: the native name to try at the attempt-th try (1, 2, ...).
using TNameForAttempt = std::function<std::string(int attempt)>;
// Writes the new file's content to fd; false when that failed.
using TContentWriter = std::function<bool(int fd)>;

// Writes a new file into the open folder folderFd: the content goes into a file without a name
// (or, where the file system cannot make one, a hidden temporary), which then gets the first
// free name of nameFor(1), nameFor(2)... up to maxAttempts. attempt tells which one it got.
TSaveOutcome SaveNewFile(int folderFd, const TNameForAttempt& nameFor, int maxAttempts,
                         const TContentWriter& write, int& attempt);

}  // namespace vm
