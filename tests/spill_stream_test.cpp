// The body stream: memory for small bodies, an unlinked temporary file for large ones.
#include "platform/spill_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "support/page_lines.h"
#include "support/random_bytes.h"
#include "support/scoped_env.h"

namespace vm {
namespace {

std::string ReadAll(TStream& stream) {
  std::string out(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  EXPECT_EQ(stream.Read(out.data(), out.size()), out.size());
  return out;
}

TEST(SpillStream, SmallBodyStaysInMemory) {
  TSpillStream stream(16);
  stream.Write("0123456789", 10);
  EXPECT_FALSE(stream.Spilled());
  EXPECT_EQ(stream.View(), "0123456789");
  stream.SetPosition(12);  // a gap is filled with zeros
  stream.Write("ab", 2);
  EXPECT_EQ(stream.View(), std::string("0123456789\0\0ab", 14));
  stream.SetSize(4);
  EXPECT_EQ(ReadAll(stream), "0123");
}

TEST(SpillStream, LargeBodyMovesToAFileWithTheSameBytes) {
  TSpillStream stream(16);
  std::string expected;
  for (int n = 0; n < 10; ++n) {
    const std::string piece = "piece " + std::to_string(n) + "\r\n";
    stream.Write(piece.data(), piece.size());
    expected += piece;
    // Views taken while growing stay right across the move and every later write.
    ASSERT_EQ(stream.View(), expected) << n;
  }
  EXPECT_TRUE(stream.Spilled());
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(ReadAll(stream), expected);
  stream.SetPosition(0);
  stream.Write("P", 1);  // overwriting within the size keeps the size
  expected[0] = 'P';
  EXPECT_EQ(stream.View(), expected);
  stream.SetSize(5);
  EXPECT_EQ(stream.View(), "Piece");
  stream.SetSize(0);
  EXPECT_EQ(stream.View(), "");
}

TEST(SpillStream, HugeAnnouncedSizeIsNotAllocated) {
  // 64 GiB in memory would fail or swap; the sparse file costs nothing.
  TSpillStream stream;
  constexpr int64_t kHuge = int64_t{64} << 30;
  stream.SetSize(kHuge);
  EXPECT_TRUE(stream.Spilled());
  EXPECT_EQ(stream.Size(), kHuge);
  stream.SetPosition(kHuge - 3);
  stream.Write("end", 3);
  EXPECT_EQ(stream.Size(), kHuge);
  char tail[3];
  stream.SetPosition(kHuge - 3);
  ASSERT_EQ(stream.Read(tail, 3), 3u);
  EXPECT_EQ(std::string(tail, 3), "end");
}

TEST(SpillStream, TemporaryFileGoesToTmpdirAndLeavesNothing) {
  vmtest::TTempFolder folder;
  {
    vmtest::TScopedEnv tmpdir("TMPDIR", folder.Path());
    TSpillStream stream(4);
    stream.Write("more than four", 14);
    EXPECT_TRUE(stream.Spilled());
    EXPECT_TRUE(folder.List().empty());  // unlinked at once
    EXPECT_EQ(stream.View(), "more than four");
  }
  vmtest::TScopedEnv tmpdir("TMPDIR", folder.Path() + "missing");
  TSpillStream stream(4);
  EXPECT_THROW(stream.Write("more than four", 14), Exception);
}

// Copies [from, from + count) of the stream into a new file at path; its bytes, "" on failure.
std::string CopiedOut(TStream& stream, const std::string& path, int64_t from, int64_t count) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_GE(fd, 0) << path;
  const bool copied = stream.CopyRangeTo(fd, from, count);
  close(fd);
  EXPECT_TRUE(copied) << path;
  return vmtest::ReadFileBytes(path);
}

TEST(SpillStream, CopiesRangesByteForByteFromMemoryAndFromTheFile) {
  vmtest::TTempFolder folder;
  vmtest::TOtherDiskFolder other;
  // More than one buffer's worth when the kernel cannot copy, starting inside a page.
  const std::string bytes = vmtest::RandomBytes(700 * 1024 + 13, 777);
  struct TCase {
    const char* label;
    int64_t memoryLimit;
    std::string target;
  };
  const std::vector<TCase> cases = {
      {"in memory", int64_t{1} << 30, folder.Path() + "a"},
      {"file, same file system", 1024, folder.Path() + "b"},
      {"file, other file system (read and write)", 1024, other.Path() + "c"},
  };
  for (const TCase& c : cases) {
    if (c.target.front() != '/') continue;  // no other file system here
    SCOPED_TRACE(c.label);
    TSpillStream stream(c.memoryLimit, folder.Path());
    stream.Write(bytes.data(), bytes.size());
    EXPECT_EQ(CopiedOut(stream, c.target, 4099, 600 * 1024), bytes.substr(4099, 600 * 1024));
    EXPECT_EQ(CopiedOut(stream, c.target, 0, 0), "");
    // A range past the end is refused, not read short.
    const int fd = open(c.target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    EXPECT_FALSE(stream.CopyRangeTo(fd, 10, static_cast<int64_t>(bytes.size())));
    close(fd);
  }
  if (other.Path().empty()) GTEST_SKIP() << "no second file system for the read-and-write copy";
}

TEST(SpillStream, LinksItsFileIntoTheFolderItWasMadeIn) {
  vmtest::TTempFolder folder;
  std::string bytes = vmtest::RandomBytes(100000, 777);
  TSpillStream stream(1024, folder.Path());
  // In pieces, as a body arrives: the file grows ahead of the bytes, and is cut to them for
  // its name.
  for (size_t at = 0; at < bytes.size(); at += 3000)
    stream.Write(bytes.data() + at, std::min<size_t>(3000, bytes.size() - at));
  ASSERT_TRUE(stream.Spilled());
  EXPECT_TRUE(folder.List().empty());  // nameless until linked
  ASSERT_TRUE(stream.LinkAs(folder.Path() + "named", 0644)) << std::strerror(errno);
  EXPECT_EQ(vmtest::ReadFileBytes(folder.Path() + "named"), bytes);
  stream.Write("tail", 4);  // later writes show in the named file, and nothing more
  bytes += "tail";
  EXPECT_EQ(vmtest::ReadFileBytes(folder.Path() + "named"), bytes);
  EXPECT_EQ(vmtest::PermissionsOf(folder.Path() + "named"), 0644u);
  // The stream still reads its bytes, and an existing name is never replaced.
  EXPECT_EQ(stream.View(), bytes);
  EXPECT_FALSE(stream.LinkAs(folder.Path() + "named", 0644));
  EXPECT_EQ(errno, EEXIST);

  TSpillStream small(1024, folder.Path());
  small.Write("in memory", 9);
  EXPECT_FALSE(small.LinkAs(folder.Path() + "small", 0644));
  TMemoryStream memory("bytes");
  EXPECT_FALSE(memory.LinkAs(folder.Path() + "memory", 0644));
  EXPECT_EQ(folder.List(), std::vector<std::string>{"named"});
}

TEST(SpillStream, FolderWithoutRoomForANamelessFileFallsBackToTmpdir) {
  vmtest::TTempFolder folder;
  const std::string spill = folder.MakeSubfolder("spill");
  vmtest::TScopedEnv tmpdir("TMPDIR", spill);
  TSpillStream stream(4, folder.Path() + "missing/");
  stream.Write("more than four", 14);
  EXPECT_TRUE(stream.Spilled());
  EXPECT_EQ(stream.View(), "more than four");
  EXPECT_EQ(folder.List(), std::vector<std::string>{"spill"});
  EXPECT_TRUE(folder.List("spill").empty());
}

TEST(SpillStream, ReleasedViewKeepsEveryByte) {
  const std::string bytes = vmtest::RandomBytes(3 * 1024 * 1024 + 5, 777);
  for (const int64_t limit : {int64_t{1} << 30, int64_t{1024}}) {
    SCOPED_TRACE(limit);
    TSpillStream stream(limit);
    stream.Write(bytes.data(), bytes.size());
    ASSERT_EQ(stream.View(), bytes);
    // Ranges that start and end inside pages, the whole view and its end: a release only gives
    // pages back, in memory it does nothing at all.
    stream.ReleaseView(4095, 2 * 1024 * 1024 + 7);
    stream.ReleaseView(0, static_cast<int64_t>(bytes.size()));
    stream.ReleaseView(static_cast<int64_t>(bytes.size()) - 3, int64_t{1} << 40);
    EXPECT_TRUE(stream.View() == bytes);
    TMemoryStream memory(bytes);
    memory.ReleaseView(0, static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(memory.View() == bytes);
  }
}

}  // namespace
}  // namespace vm
