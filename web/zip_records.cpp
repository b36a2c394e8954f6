#include "web/zip_records.h"

#include <algorithm>

namespace vm {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kEndSignature = 0x06054b50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kEndSize = 22;
constexpr size_t kDescriptorSize = 16;
constexpr size_t kZip64DescriptorSize = 24;
constexpr uint16_t kZip64ExtraTag = 0x0001;

// Bit 3: CRC and sizes follow the data; bit 11: the name is UTF-8.
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
// Versions: 2.0 for stored members and folders, 4.5 for the zip64 forms; made on Unix (3), so
// that extracting tools there take the permission bits from the external attributes.
constexpr uint16_t kVersionPlain = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kMadeByUnix = (3 << 8) | kVersionZip64;
constexpr uint32_t kDosFolderAttribute = 0x10;

// Values from here on do not fit their 16- or 32-bit fields and go to the zip64 forms.
constexpr uint64_t kMax32 = 0xFFFFFFFF;
constexpr uint64_t kMax16 = 0xFFFF;

constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = 2107;

void Put16(std::string& out, uint64_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(std::string& out, uint64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}
void Put64(std::string& out, uint64_t value) {
  Put32(out, value & kMax32);
  Put32(out, value >> 32);
}

// A file whose size needs the zip64 forms in its local header and descriptor.
bool LargeData(const TZipMember& member) { return member.Size >= kMax32; }

size_t LocalHeaderSize(const TZipMember& member) {
  return kLocalHeaderSize + member.Name.size() + (LargeData(member) ? 20 : 0);
}
size_t DescriptorSize(const TZipMember& member) {
  if (member.Folder()) return 0;
  return LargeData(member) ? kZip64DescriptorSize : kDescriptorSize;
}

// The fields a central header moves to its zip64 extra field, in their order there.
struct TCentralZip64 {
  bool size;
  bool offset;
  size_t ExtraSize() const { return (size || offset) ? 4 + (size ? 16 : 0) + (offset ? 8 : 0) : 0; }
};
TCentralZip64 CentralZip64(const TZipMember& member) {
  return {LargeData(member), member.Offset >= kMax32};
}
size_t CentralHeaderSize(const TZipMember& member) {
  return kCentralHeaderSize + member.Name.size() + CentralZip64(member).ExtraSize();
}

uint16_t Flags(const TZipMember& member) {
  return member.Folder() ? kFlagUtf8 : (kFlagUtf8 | kFlagDescriptor);
}

bool NeedsZip64End(uint64_t count, uint64_t directoryOffset, uint64_t directorySize) {
  return count >= kMax16 || directoryOffset >= kMax32 || directorySize >= kMax32;
}

}  // namespace

void SetDosTime(TZipMember& member, time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  int year = local.tm_year + 1900;
  if (year < kFirstDosYear) {
    member.DosDate = (0 << 9) | (1 << 5) | 1;
    member.DosTime = 0;
    return;
  }
  if (year > kLastDosYear) {
    member.DosDate = static_cast<uint16_t>(((kLastDosYear - kFirstDosYear) << 9) | (12 << 5) | 31);
    member.DosTime = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  member.DosDate =
      static_cast<uint16_t>(((year - kFirstDosYear) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  member.DosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                         (std::min(local.tm_sec, 59) / 2));
}

void TZipLayout::Add(TZipMember& member) {
  member.Offset = membersEnd_;
  membersEnd_ += LocalHeaderSize(member) + member.Size + DescriptorSize(member);
  directorySize_ += CentralHeaderSize(member);
  ++count_;
}

uint64_t TZipLayout::Length() const {
  uint64_t length = membersEnd_ + directorySize_;
  if (NeedsZip64End(count_, membersEnd_, directorySize_)) {
    length += kZip64EndSize + kZip64LocatorSize;
  }
  return length + kEndSize;
}

uint64_t PlanZipArchive(std::vector<TZipMember>& members) {
  TZipLayout layout;
  for (TZipMember& member : members) layout.Add(member);
  return layout.Length();
}

void AppendLocalHeader(std::string& out, const TZipMember& member) {
  const bool large = LargeData(member);
  Put32(out, kLocalHeaderSignature);
  Put16(out, large ? kVersionZip64 : kVersionPlain);
  Put16(out, Flags(member));
  Put16(out, 0);  // stored
  Put16(out, member.DosTime);
  Put16(out, member.DosDate);
  // With a descriptor, CRC and sizes are zero here (all ones in the zip64 form); a folder has
  // them all zero anyway.
  Put32(out, 0);
  Put32(out, large ? kMax32 : 0);
  Put32(out, large ? kMax32 : 0);
  Put16(out, member.Name.size());
  Put16(out, large ? 20 : 0);
  out += member.Name;
  if (large) {
    Put16(out, kZip64ExtraTag);
    Put16(out, 16);
    Put64(out, 0);
    Put64(out, 0);
  }
}

void AppendDataDescriptor(std::string& out, const TZipMember& member) {
  if (member.Folder()) return;
  Put32(out, kDescriptorSignature);
  Put32(out, member.Crc);
  if (LargeData(member)) {
    Put64(out, member.Size);
    Put64(out, member.Size);
  } else {
    Put32(out, member.Size);
    Put32(out, member.Size);
  }
}

uint64_t CentralDirectoryOffset(const std::vector<TZipMember>& members) {
  if (members.empty()) return 0;
  const TZipMember& last = members.back();
  return last.Offset + LocalHeaderSize(last) + last.Size + DescriptorSize(last);
}

void AppendCentralHeader(std::string& out, const TZipMember& member) {
  const TCentralZip64 zip64 = CentralZip64(member);
  Put32(out, kCentralHeaderSignature);
  Put16(out, kMadeByUnix);
  Put16(out, (zip64.size || zip64.offset) ? kVersionZip64 : kVersionPlain);
  Put16(out, Flags(member));
  Put16(out, 0);
  Put16(out, member.DosTime);
  Put16(out, member.DosDate);
  Put32(out, member.Crc);
  Put32(out, zip64.size ? kMax32 : member.Size);
  Put32(out, zip64.size ? kMax32 : member.Size);
  Put16(out, member.Name.size());
  Put16(out, zip64.ExtraSize());
  Put16(out, 0);  // no comment
  Put16(out, 0);  // disk 0
  Put16(out, 0);  // internal attributes
  Put32(out, (uint64_t{member.UnixMode} << 16) | (member.Folder() ? kDosFolderAttribute : 0));
  Put32(out, zip64.offset ? kMax32 : member.Offset);
  out += member.Name;
  if (zip64.ExtraSize() > 0) {
    Put16(out, kZip64ExtraTag);
    Put16(out, zip64.ExtraSize() - 4);
    if (zip64.size) {
      Put64(out, member.Size);
      Put64(out, member.Size);
    }
    if (zip64.offset) Put64(out, member.Offset);
  }
}

void AppendDirectoryEnd(std::string& out, uint64_t count, uint64_t directoryOffset,
                        uint64_t directorySize) {
  if (NeedsZip64End(count, directoryOffset, directorySize)) {
    const uint64_t zip64EndOffset = directoryOffset + directorySize;
    Put32(out, kZip64EndSignature);
    Put64(out, kZip64EndSize - 12);  // the record's length after this field
    Put16(out, kMadeByUnix);
    Put16(out, kVersionZip64);
    Put32(out, 0);  // this disk
    Put32(out, 0);  // the directory's disk
    Put64(out, count);
    Put64(out, count);
    Put64(out, directorySize);
    Put64(out, directoryOffset);
    Put32(out, kZip64LocatorSignature);
    Put32(out, 0);
    Put64(out, zip64EndOffset);
    Put32(out, 1);  // disks
  }
  // Values that do not fit are all ones here: readers take them from the zip64 record.
  Put32(out, kEndSignature);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, std::min(count, kMax16));
  Put16(out, std::min(count, kMax16));
  Put32(out, std::min(directorySize, kMax32));
  Put32(out, std::min(directoryOffset, kMax32));
  Put16(out, 0);
}

}  // namespace vm
