// Confinement to the shared folders: by normalised segments, and by real paths on disk.
#include "web/share_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/page_lines.h"

namespace vm {
namespace {

TEST(SharePaths, InsideFolderBySegments) {
  struct Row {
    const char* label;
    const char* path;
    const char* folder;
    bool inside;
  };
  const Row rows[] = {
      {"the folder itself", "/x/data/", "/x/data/", true},
      {"the folder without its slash", "/x/data", "/x/data/", true},
      {"a file inside", "/x/data/a.txt", "/x/data/", true},
      {"a sub-folder", "/x/data/sub/", "/x/data/", true},
      {"share typed without slash", "/x/data/a", "/x/data", true},
      {"a longer sibling name", "/x/database/", "/x/data/", false},
      {"a sibling file sharing the prefix", "/x/data.txt", "/x/data/", false},
      {"the parent", "/x/", "/x/data/", false},
      {"up and out", "/x/data/../secret", "/x/data/", false},
      {"up and back in", "/x/data/sub/../a.txt", "/x/data/", true},
      {"dots and doubled slashes", "/x/./data//./a", "/x/data/", true},
      {"above the root stays at the root", "/../../x/data/a", "/x/data/", true},
      {"dot dot as the last part", "/x/data/sub/..", "/x/data/", true},
      {"out by dot dot at the end", "/x/data/..", "/x/data/", false},
      {"relative path", "x/data/a", "/x/data/", false},
      {"relative share", "/x/data/a", "x/data/", false},
      {"empty path", "", "/x/data/", false},
      {"dots inside names are names", "/x/data/...", "/x/data/", true},
      {"root share", "/etc/passwd", "/", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsInsideFolder(row.path, row.folder), row.inside) << row.label;
  }
}

TEST(SharePaths, FolderByName) {
  const TSharedFolderList folders = {"Photos;;/p/", "Typed;;/t", "Photos;;/second/", " Pad ;;/q/"};
  EXPECT_EQ(SharedFolderPathByName(folders, "Photos"), "/p/");  // the first entry wins
  EXPECT_EQ(SharedFolderPathByName(folders, "Typed"), "/t/");   // separator added
  EXPECT_EQ(SharedFolderPathByName(folders, "photos"), "");     // byte for byte
  EXPECT_EQ(SharedFolderPathByName(folders, "Nope"), "");
  EXPECT_EQ(SharedFolderPathByName(folders, ""), "");
}

class SharePathsOnDisk : public ::testing::Test {
 protected:
  SharePathsOnDisk() {
    share_ = temp_.MakeSubfolder("data");
    temp_.MakeSubfolder("database");
    outside_ = temp_.MakeSubfolder("outside");
    temp_.MakeSubfolder("data/sub");
    vmtest::WriteFileBytes(share_ + "a.txt", "a");
    vmtest::WriteFileBytes(outside_ + "secret.txt", "s");
    symlink((outside_ + "secret.txt").c_str(), (share_ + "out.txt").c_str());
    symlink(outside_.c_str(), (share_ + "outdir").c_str());
    symlink((share_ + "a.txt").c_str(), (share_ + "sub/in.txt").c_str());
    symlink("../data/sub", (temp_.Path() + "database/sublink").c_str());
    folders_ = {"Data;;" + share_};
  }

  vmtest::TTempFolder temp_;
  std::string share_, outside_;
  TSharedFolderList folders_;
};

TEST_F(SharePathsOnDisk, LinksAreFollowedOnlyWhileTheyStayInside) {
  EXPECT_EQ(ResolveSharedPath(folders_, share_ + "a.txt"), share_ + "a.txt");
  EXPECT_EQ(ResolveSharedPath(folders_, share_ + "sub/in.txt"), share_ + "a.txt");
  EXPECT_EQ(ResolveSharedPath(folders_, share_), share_.substr(0, share_.size() - 1));
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "out.txt"));
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "outdir/"));
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "outdir/secret.txt"));
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "../outside/secret.txt"));
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "missing.txt"));
  // ".." after a link goes up from the link's target, as the kernel does: here it comes
  // back to a file that is really inside; a text-only check would have looked for data/data/.
  EXPECT_EQ(ResolveSharedPath(folders_, share_ + "outdir/../data/a.txt"), share_ + "a.txt");
  EXPECT_FALSE(ResolveSharedPath(folders_, share_ + "outdir/../outside/secret.txt"));
  // The shared prefix of a sibling folder admits nothing.
  EXPECT_FALSE(ResolveSharedPath(folders_, temp_.Path() + "database/sublink/"));
  EXPECT_TRUE(RealPathInsideShares(folders_, share_ + "sub/in.txt"));
  EXPECT_FALSE(RealPathInsideShares(folders_, share_ + "out.txt"));
}

TEST_F(SharePathsOnDisk, ALinkIntoAnotherShareIsInside) {
  folders_.push_back("Outside;;" + outside_);
  EXPECT_EQ(ResolveSharedPath(folders_, share_ + "out.txt"), outside_ + "secret.txt");
}

}  // namespace
}  // namespace vm
