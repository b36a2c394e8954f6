// Whole-file replacement: a file is written aside and renamed over the old one, so that a
// reader meets the old bytes or the new ones, each whole, and a failed write keeps the old file.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vm {

// Ordinary documents are readable by everyone, like any file the user creates (mkstemp alone
// would leave them owner-only).
inline constexpr mode_t kPublicFileMode = 0644;
// Files holding secrets (the password) are the owner's alone.
inline constexpr mode_t kPrivateFileMode = 0600;

// Writes all of data to fd, again after an interruption; false on an error.
bool WriteAllBytes(int fd, std::string_view data);

// Replaces nativeTarget with data: written to a fresh file with the given mode, made from
// tempTemplate (a native path in the target's folder ending in "XXXXXX"), then renamed over the
// target. False on failure, which leaves the old file and no temporary.
bool ReplaceFileAtomically(std::string tempTemplate, const std::string& nativeTarget,
                           std::string_view data, mode_t mode = kPublicFileMode);

// The lines, each followed by CR LF, with no byte-order mark.
std::string JoinCrLfLines(const std::vector<std::string>& lines);

// Replaces the file at a system path with content through a temporary beside it.
// Throws EFCreateError with the path when the file cannot be written.
void WriteFileAtomically(const std::string& systemPath, std::string_view content,
                         mode_t mode = kPublicFileMode);

// mkstemp's template suffix that WriteFileAtomically puts after the target's name.
inline constexpr std::string_view kAtomicTemporarySuffix = ".XXXXXX";

}  // namespace vm
