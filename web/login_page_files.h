// The login page files of clients that have not logged in: one per address that asked, which a
// crowd of addresses would otherwise pile up in the page folder until the program ends.
#pragma once

#include <cstddef>
#include <string>

namespace vm {

// Login page files kept at most, per page folder, of addresses that have not logged in.
inline constexpr size_t kMaxLoginPageFiles = 256;

// Notes that the login page file (a system path) was just written: it becomes the newest. With
// more than kMaxLoginPageFiles noted in its folder, the oldest are removed from the disk.
// Thread-safe; the files are those of the whole process.
void NoteLoginPageFile(const std::string& pageFile);
// The address of this login page file has logged in: its file no longer counts.
void ForgetLoginPageFile(const std::string& pageFile);

}  // namespace vm
