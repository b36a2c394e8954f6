// The zip records written front to back: the planned length is the length written, and an
// archive of more members than the 16-bit count holds reads back through its zip64 end records.
#include "web/zip_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/crc32.h"
#include "support/page_lines.h"

namespace vm {
namespace {

// The whole archive of the members with their data ("" for folders).
std::string Archive(std::vector<TZipMember>& members, const std::vector<std::string>& data) {
  const uint64_t planned = PlanZipArchive(members);
  std::string out;
  for (size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(out.size(), members[i].Offset) << members[i].Name;
    AppendLocalHeader(out, members[i]);
    out += data[i];
    members[i].Crc = Crc32Update(0, data[i].data(), data[i].size());
    AppendDataDescriptor(out, members[i]);
  }
  const uint64_t directoryOffset = CentralDirectoryOffset(members);
  EXPECT_EQ(directoryOffset, out.size());
  for (const TZipMember& member : members) AppendCentralHeader(out, member);
  AppendDirectoryEnd(out, members.size(), directoryOffset, out.size() - directoryOffset);
  EXPECT_EQ(out.size(), planned);
  return out;
}

// What Python's zipfile reads: the member count, the first and last names, and whether every
// member's CRC matches ("None" from testzip).
std::string ReadBack(const std::string& archive) {
  vmtest::TTempFolder temp;
  vmtest::WriteFileBytes(temp.Path() + "a.zip", archive);
  const std::string command =
      "python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); n=z.namelist(); "
      "print(len(n), n[0], n[-1], z.testzip())\" '" + temp.Path() + "a.zip'";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char block[512];
  for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) out.append(block, n);
  pclose(pipe);
  return out;
}

TEST(ZipRecords, ArchivesReadBackWithAndWithoutTheZip64EndRecords) {
  struct TCase {
    const char* label;
    size_t count;
    std::string expected;
  };
  const TCase cases[] = {
      {"a few members", 3, "3 d/ f2.txt None\n"},
      {"one fewer than the 16-bit count", 65'534, "65534 d/ f65533.txt None\n"},
      {"the 16-bit count itself and more", 70'000, "70000 d/ f69999.txt None\n"},
  };
  for (const TCase& c : cases) {
    std::vector<TZipMember> members(c.count);
    std::vector<std::string> data(c.count);
    members[0].Name = "d/";
    members[0].UnixMode = 040755;
    for (size_t i = 1; i < c.count; ++i) {
      members[i].Name = "f" + std::to_string(i) + ".txt";
      data[i] = std::to_string(i);
      members[i].Size = data[i].size();
      members[i].UnixMode = 0100644;
      SetDosTime(members[i], 1'700'000'000);
    }
    EXPECT_EQ(ReadBack(Archive(members, data)), c.expected) << c.label;
  }
}

TEST(ZipRecords, DosTimesStayInsideTheirRange) {
  TZipMember member;
  SetDosTime(member, 0);  // 1970: before the first MS-DOS year
  EXPECT_EQ(member.DosDate, (1 << 5) | 1);
  EXPECT_EQ(member.DosTime, 0);
  SetDosTime(member, 5'000'000'000);  // 2128: after the last
  EXPECT_EQ(member.DosDate >> 9, 2107 - 1980);
}

}  // namespace
}  // namespace vm
