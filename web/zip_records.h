// The records of a stored (uncompressed) zip archive written front to back in one pass: every
// length is known before the first byte goes out, the CRC of a file only after its data, which
// its data descriptor then carries.
//
// Names are UTF-8 and say so (general purpose bit 11). A member of 4 GiB or more, an offset
// past 4 GiB, or 65,535 members and more take the zip64 forms.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

struct TZipMember {
  std::string Name;       // UTF-8, "/" between folders; a folder's ends with "/"
  uint64_t Size = 0;      // bytes of data (0 for a folder)
  uint16_t DosTime = 0;   // local time of the last change, in the MS-DOS form
  uint16_t DosDate = 0;
  uint32_t UnixMode = 0;  // type and permission bits (st_mode)
  uint64_t Offset = 0;    // where its local header starts (PlanZipArchive sets it)
  uint32_t Crc = 0;       // of its data, set once the data has passed
  bool Folder() const { return !Name.empty() && Name.back() == '/'; }
};

// The MS-DOS date and time of a moment, in local time; moments outside 1980-2107 take the
// nearest end of that range.
void SetDosTime(TZipMember& member, time_t moment);

// The layout of an archive planned one member at a time, in the order they are sent: the
// members need not all be held at once.
class TZipLayout {
 public:
  // Sets the member's Offset, after the members added before it.
  void Add(TZipMember& member);
  uint64_t Count() const { return count_; }
  // Where the central directory starts (the end of the members) and its length.
  uint64_t DirectoryOffset() const { return membersEnd_; }
  uint64_t DirectorySize() const { return directorySize_; }
  // The whole archive's length.
  uint64_t Length() const;

 private:
  uint64_t count_ = 0;
  uint64_t membersEnd_ = 0;
  uint64_t directorySize_ = 0;
};

// Sets every member's Offset for the order given; returns the archive's length.
uint64_t PlanZipArchive(std::vector<TZipMember>& members);

// What goes before a member's data, and after it (a file's data descriptor; nothing for a
// folder). Both need only the member's name and size; the descriptor also its CRC.
void AppendLocalHeader(std::string& out, const TZipMember& member);
void AppendDataDescriptor(std::string& out, const TZipMember& member);
// The central directory: a header per member as planned and streamed, then the end records,
// which need where the directory starts (the planned length of the members) and its length.
void AppendCentralHeader(std::string& out, const TZipMember& member);
uint64_t CentralDirectoryOffset(const std::vector<TZipMember>& members);
void AppendDirectoryEnd(std::string& out, uint64_t count, uint64_t directoryOffset,
                        uint64_t directorySize);

}  // namespace vm
