// The cache of converted views: entries of one file state, remembered failures, and the budget
// that removes the entries used longest ago.
#include "thumbs/view_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/page_lines.h"
#include "support/waiting.h"

namespace {

using vm::thumbs::TViewCache;
using vm::thumbs::TViewEntry;
using vmtest::TTempFolder;

struct stat StateOf(ino_t inode) {
  struct stat info {};
  info.st_dev = 1;
  info.st_ino = inode;
  info.st_size = 1000;
  info.st_mtim = {1700000000, 5};
  return info;
}

// Waits for the file system's clock to tick (it ticks in steps of a few milliseconds): what the
// cache does next is later than all it did before, as it tells old from new by that clock.
void WaitForTheClock(const std::string& probe) {
  auto written = [&] {
    vmtest::WriteFileBytes(probe, "x");
    struct stat info {};
    stat(probe.c_str(), &info);
    return info.st_mtim;
  };
  const timespec before = written();
  ASSERT_TRUE(vmtest::WaitUntil([&] {
    const timespec now = written();
    return now.tv_sec != before.tv_sec || now.tv_nsec != before.tv_nsec;
  }));
}

uint64_t BytesOnDisk(const TTempFolder& folder, const std::string& sub) {
  uint64_t total = 0;
  for (const std::string& name : folder.List(sub)) {
    struct stat info {};
    if (stat((folder.Path() + sub + "/" + name).c_str(), &info) == 0) total += info.st_blocks * 512;
  }
  return total;
}

TEST(ViewCache, KeepsOneFileStateAndItsFailure) {
  const TTempFolder folder;
  TViewCache cache(folder.Path() + "views");
  const struct stat photo = StateOf(7);
  cache.Store(photo, TViewEntry::View, "\xff\xd8 a view");
  cache.Store(StateOf(8), TViewEntry::View, "");
  cache.Store(photo, TViewEntry::Facts, "type=video/mp4\n");
  EXPECT_EQ(cache.Find(photo, TViewEntry::View)->ContentType, "image/jpeg");
  EXPECT_EQ(cache.Find(photo, TViewEntry::Facts)->ContentType, "text/plain");
  EXPECT_TRUE(cache.Find(StateOf(8), TViewEntry::View)->Failed);
  struct stat changed = photo;
  changed.st_mtim.tv_nsec += 1;
  EXPECT_FALSE(cache.Find(changed, TViewEntry::View)) << "a changed file meets no old view";
}

TEST(ViewCache, StaysWithinItsBudgetDroppingWhatWasUsedLongestAgo) {
  const TTempFolder folder, clock;
  const std::string views = folder.Path() + "views";
  const std::string view(10 * 1024, 'v');
  TViewCache(views, UINT64_MAX).Store(StateOf(1), TViewEntry::View, view);
  // Room for five and a half views as this file system stores them.
  const uint64_t budget = BytesOnDisk(folder, "views") * 11 / 2;
  TViewCache cache(views, budget);
  for (ino_t k = 2; k <= 8; ++k) {
    // The first stays in use: it is looked at before each new one.
    WaitForTheClock(clock.Path() + "probe");
    ASSERT_TRUE(cache.Find(StateOf(1), TViewEntry::View)) << k;
    WaitForTheClock(clock.Path() + "probe");
    cache.Store(StateOf(k), TViewEntry::View, view);
    EXPECT_LE(BytesOnDisk(folder, "views"), budget) << k;
  }
  for (ino_t k = 1; k <= 8; ++k) {
    EXPECT_EQ(cache.Find(StateOf(k), TViewEntry::View).has_value(), k == 1 || k >= 5) << k;
  }
}

}  // namespace
