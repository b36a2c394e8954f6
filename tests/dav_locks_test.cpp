#include "dav/dav_locks.h"

#include <gtest/gtest.h>

#include "dav/dav_properties.h"
#include "support/page_lines.h"

namespace vm {
namespace {

using std::chrono::seconds;

TDavPath PathOf(std::initializer_list<std::string> segments) { return {segments, false}; }

TDavLock NewLock(TDavPath root, bool infinite, bool exclusive, std::string address = "a") {
  TDavLock lock;
  lock.Root = std::move(root);
  lock.Infinite = infinite;
  lock.Exclusive = exclusive;
  lock.Address = std::move(address);
  return lock;
}

TEST(DavLocks, ConflictsFollowScopeAndDepth) {
  using TOutcome = TDavLockTable::TOutcome;
  const struct {
    const char* label;
    TDavLock held;
    TDavLock asked;
    TOutcome outcome;
  } rows[] = {
      {"exclusive on the same", NewLock(PathOf({"s", "f"}), false, true),
       NewLock(PathOf({"s", "f"}), false, true), TOutcome::Conflict},
      {"shared beside shared", NewLock(PathOf({"s", "f"}), false, false),
       NewLock(PathOf({"s", "f"}), false, false), TOutcome::Granted},
      {"shared under exclusive", NewLock(PathOf({"s", "f"}), false, true),
       NewLock(PathOf({"s", "f"}), false, false), TOutcome::Conflict},
      {"member of an infinite lock", NewLock(PathOf({"s", "d"}), true, true),
       NewLock(PathOf({"s", "d", "f"}), false, true), TOutcome::Conflict},
      {"member of a depth-0 lock", NewLock(PathOf({"s", "d"}), false, true),
       NewLock(PathOf({"s", "d", "f"}), false, true), TOutcome::Granted},
      {"infinite over a locked member", NewLock(PathOf({"s", "d", "f"}), false, true),
       NewLock(PathOf({"s", "d"}), true, true), TOutcome::Conflict},
      {"a sibling of the same prefix", NewLock(PathOf({"s", "d"}), true, true),
       NewLock(PathOf({"s", "dd"}), true, true), TOutcome::Granted},
  };
  for (const auto& row : rows) {
    TDavLockTable table;
    TDavLock held = row.held;
    TDavLock asked = row.asked;
    ASSERT_EQ(table.Lock(held), TOutcome::Granted) << row.label;
    EXPECT_EQ(table.Lock(asked), row.outcome) << row.label;
  }
}

TEST(DavLocks, TokensCoverTheirTreeUntilTheyExpire) {
  TDavLockTable table;
  const auto start = TDavLockTable::TClock::now();
  TDavLock lock = NewLock(PathOf({"s", "d"}), true, true);
  lock.Timeout = seconds(60);
  ASSERT_EQ(table.Lock(lock, start), TDavLockTable::TOutcome::Granted);
  EXPECT_TRUE(table.Covers(lock.Token, PathOf({"s", "d", "f"}), start));
  EXPECT_FALSE(table.Covers(lock.Token, PathOf({"s", "other"}), start));
  EXPECT_EQ(table.Affecting(PathOf({"s"}), true, start).size(), 1u);
  EXPECT_TRUE(table.Affecting(PathOf({"s"}), false, start).empty());
  EXPECT_TRUE(table.Refresh(lock.Token, PathOf({"s", "d", "f"}), seconds(0), start + seconds(50)));
  EXPECT_TRUE(table.Covers(lock.Token, PathOf({"s", "d"}), start + seconds(100)));
  EXPECT_FALSE(table.Covers(lock.Token, PathOf({"s", "d"}), start + seconds(111)));
}

TEST(DavLocks, AStrangerCannotLockTheTreeAwayNameByName) {
  TDavLockTable table;
  size_t granted = 0;
  for (size_t k = 0; k < TDavLockTable::kMaxLocksPerAddress + 10; ++k) {
    TDavLock lock = NewLock(PathOf({"s", std::to_string(k)}), false, true, "stranger");
    granted += table.Lock(lock) == TDavLockTable::TOutcome::Granted;
  }
  EXPECT_EQ(granted, TDavLockTable::kMaxLocksPerAddress);
  TDavLock other = NewLock(PathOf({"s", "mine"}), false, true, "owner");
  EXPECT_EQ(table.Lock(other), TDavLockTable::TOutcome::Granted);
}

TEST(DavLocks, TimeoutHeader) {
  EXPECT_EQ(TDavLockTable::ParseTimeout("Second-120"), seconds(120));
  EXPECT_EQ(TDavLockTable::ParseTimeout("Infinite, Second-4100000000"), TDavLockTable::kMaxTimeout);
  EXPECT_EQ(TDavLockTable::ParseTimeout("Second-99999999999999999999"), TDavLockTable::kMaxTimeout);
  EXPECT_EQ(TDavLockTable::ParseTimeout("Second--5"), TDavLockTable::kDefaultTimeout);
  EXPECT_EQ(TDavLockTable::ParseTimeout(""), TDavLockTable::kDefaultTimeout);
}

TEST(DavProperties, KeptBoundedMovedCopiedAndRemovedWithTheirFiles) {
  vmtest::TTempFolder folder;
  const std::string file = folder.Path() + "/props";
  const TFileId one{1, 10}, two{1, 20};
  const TDavPropName name{"urn:z", "p"};
  {
    TDavPropertyStore store(file);
    ASSERT_TRUE(store.Apply(PathOf({"s", "d"}), one, {{name, "v"}}));
    ASSERT_TRUE(store.Apply(PathOf({"s", "d", "f"}), two, {{name, "w"}}));
    ASSERT_TRUE(store.Apply(PathOf({"s", "dd"}), two, {{name, "x"}}));
    // All or nothing: a value past the bound keeps the others from being stored too.
    EXPECT_FALSE(store.Apply(PathOf({"s", "d"}), one,
                             {{{"urn:z", "q"}, "ok"},
                              {{"urn:z", "r"}, std::string(TDavPropertyStore::kMaxValueBytes + 1, 'v')}}));
    EXPECT_EQ(store.Get(PathOf({"s", "d"}), one).size(), 1u);
  }
  TDavPropertyStore store(file);  // read back from the file
  EXPECT_EQ(store.Get(PathOf({"s", "d", "f"}), two).at(name), "w");
  EXPECT_TRUE(store.Get(PathOf({"s", "d", "f"}), one).empty()) << "another file of that name";
  store.Move(PathOf({"s", "d"}), PathOf({"s", "m"}));
  EXPECT_TRUE(store.Get(PathOf({"s", "d"}), one).empty());
  EXPECT_EQ(store.Get(PathOf({"s", "m", "f"}), two).at(name), "w");
  EXPECT_EQ(store.Get(PathOf({"s", "dd"}), two).at(name), "x") << "a sibling stays";
  store.Copy(PathOf({"s", "m"}), PathOf({"s", "c"}), [](const TDavPath& path) {
    return std::optional<TFileId>(TFileId{2, path.Segments.size()});
  });
  EXPECT_EQ(store.Get(PathOf({"s", "c", "f"}), {2, 3}).at(name), "w");
  store.Remove(PathOf({"s", "m"}));
  EXPECT_TRUE(store.Get(PathOf({"s", "m", "f"}), two).empty());
  EXPECT_EQ(store.Get(PathOf({"s", "c"}), {2, 2}).at(name), "v");
}

}  // namespace
}  // namespace vm
