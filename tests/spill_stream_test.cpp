// The body stream: memory for small bodies, an unlinked temporary file for large ones.
#include "platform/spill_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/exception.h"
#include "support/page_lines.h"

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
  const char* old = getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", folder.Path().c_str(), 1);
  {
    TSpillStream stream(4);
    stream.Write("more than four", 14);
    EXPECT_TRUE(stream.Spilled());
    EXPECT_TRUE(folder.List().empty());  // unlinked at once
    EXPECT_EQ(stream.View(), "more than four");
  }
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");

  setenv("TMPDIR", (folder.Path() + "missing").c_str(), 1);
  TSpillStream stream(4);
  EXPECT_THROW(stream.Write("more than four", 14), Exception);
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace vm
