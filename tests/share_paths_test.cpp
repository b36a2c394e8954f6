// Confinement to the shared folders: by normalised segments, and by real paths on disk.
#include "web/share_paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

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

// Where the object a descriptor refers to lies; "" for an invalid one.
std::string WhereOpened(const TUniqueFd& fd) {
  if (!fd) return "";
  char path[4096];
  const ssize_t n =
      readlink(("/proc/self/fd/" + std::to_string(fd.Get())).c_str(), path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "(unknown)";
}

class SharePathsOnDisk : public ::testing::Test {
 protected:
  SharePathsOnDisk() {
    share_ = temp_.MakeSubfolder("data");
    temp_.MakeSubfolder("database");
    outside_ = temp_.MakeSubfolder("outside");
    temp_.MakeSubfolder("data/sub");
    temp_.MakeSubfolder("data/.hidden");
    vmtest::WriteFileBytes(share_ + "a.txt", "a");
    vmtest::WriteFileBytes(share_ + ".hidden/h.txt", "h");
    vmtest::WriteFileBytes(outside_ + "secret.txt", "s");
    symlink((outside_ + "secret.txt").c_str(), (share_ + "out.txt").c_str());
    symlink(outside_.c_str(), (share_ + "outdir").c_str());
    symlink((share_ + "a.txt").c_str(), (share_ + "sub/in.txt").c_str());
    symlink((share_ + ".hidden/h.txt").c_str(), (share_ + "to-hidden.txt").c_str());
    symlink("../data/sub", (temp_.Path() + "database/sublink").c_str());
    folders_ = {"Data;;" + share_};
  }

  // Where what Open opened lies; "" when it was refused.
  std::string Opened(const std::string& path, TEntryKind kind = TEntryKind::File,
                     bool publishDotFiles = false) const {
    return WhereOpened(TShareAccess(folders_, publishDotFiles).Open(path, kind).Fd);
  }

  vmtest::TTempFolder temp_;
  std::string share_, outside_;
  TSharedFolderList folders_;
};

TEST_F(SharePathsOnDisk, LinksAreFollowedOnlyWhileTheyStayInside) {
  const std::string data = share_.substr(0, share_.size() - 1);
  struct Row {
    const char* label;
    std::string path;
    TEntryKind kind;
    std::string opened;  // "" when refused
  };
  const std::vector<Row> rows = {
      {"a file", share_ + "a.txt", TEntryKind::File, share_ + "a.txt"},
      {"a link to a file inside", share_ + "sub/in.txt", TEntryKind::File, share_ + "a.txt"},
      {"the share itself", share_, TEntryKind::Folder, data},
      {"a file asked as a folder", share_ + "a.txt", TEntryKind::Folder, ""},
      {"a folder asked as a file", share_ + "sub", TEntryKind::File, ""},
      {"a link to a file outside", share_ + "out.txt", TEntryKind::File, ""},
      {"a link to a folder outside", share_ + "outdir/", TEntryKind::Folder, ""},
      {"through a link to a folder outside", share_ + "outdir/secret.txt", TEntryKind::File, ""},
      {"up and out", share_ + "../outside/secret.txt", TEntryKind::File, ""},
      {"missing", share_ + "missing.txt", TEntryKind::File, ""},
      // ".." after a link goes up from the link's target, as the kernel does: here it comes
      // back to a file that is really inside; a text-only check would have looked for data/data/.
      {"back in after a link", share_ + "outdir/../data/a.txt", TEntryKind::File, share_ + "a.txt"},
      {"out after a link", share_ + "outdir/../outside/secret.txt", TEntryKind::File, ""},
      // The shared prefix of a sibling folder admits nothing.
      {"sibling with the same prefix", temp_.Path() + "database/sublink/", TEntryKind::Folder, ""},
      {"a hidden folder", share_ + ".hidden/", TEntryKind::Folder, ""},
      {"a file in a hidden folder", share_ + ".hidden/h.txt", TEntryKind::File, ""},
      {"a visible link into a hidden folder", share_ + "to-hidden.txt", TEntryKind::File, ""},
      {"relative", "data/a.txt", TEntryKind::File, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Opened(row.path, row.kind), row.opened) << row.label;
  }
  EXPECT_EQ(Opened(share_ + ".hidden/h.txt", TEntryKind::File, true), share_ + ".hidden/h.txt");
  EXPECT_EQ(Opened(share_ + "to-hidden.txt", TEntryKind::File, true), share_ + ".hidden/h.txt");
}

TEST_F(SharePathsOnDisk, ALinkIntoAnotherShareIsInside) {
  folders_.push_back("Outside;;" + outside_);
  EXPECT_EQ(Opened(share_ + "out.txt"), outside_ + "secret.txt");
}

TEST_F(SharePathsOnDisk, AShareBelowAHiddenFolderIsItsOwnRoot) {
  const std::string nested = temp_.MakeSubfolder("data/.hidden/shared");
  vmtest::WriteFileBytes(nested + "n.txt", "n");
  EXPECT_EQ(Opened(nested + "n.txt"), "");
  folders_.push_back("Nested;;" + nested);
  EXPECT_EQ(Opened(nested + "n.txt"), nested + "n.txt");
  EXPECT_EQ(Opened(share_ + ".hidden/h.txt"), "");
}

TEST_F(SharePathsOnDisk, FoldersToWriteIntoLieInsideTheNamedShare) {
  folders_.push_back("Outside;;" + outside_);
  symlink(temp_.MakeSubfolder("elsewhere").c_str(), (share_ + "away").c_str());
  const std::string data = share_.substr(0, share_.size() - 1);
  struct Row {
    const char* label;
    const char* share;
    std::string path;
    std::string opened;  // "" when refused
  };
  const std::vector<Row> rows = {
      {"the share's own folder", "Data", "", data},
      {"a sub-folder", "Data", share_ + "sub/", share_ + "sub"},
      {"the share by its path", "Data", share_, data},
      {"another share's folder", "Data", outside_, ""},
      {"up and out", "Data", share_ + "../outside/", ""},
      {"a link to a folder outside", "Data", share_ + "away/", ""},
      // As for reading: a link the user made from one share into another leads there.
      {"a link into another share", "Data", share_ + "outdir/",
       outside_.substr(0, outside_.size() - 1)},
      {"a hidden folder", "Data", share_ + ".hidden/", ""},
      {"a file", "Data", share_ + "a.txt", ""},
      {"a missing folder", "Data", share_ + "gone/", ""},
      {"an unknown share", "Nope", "", ""},
      {"the other share", "Outside", "", outside_.substr(0, outside_.size() - 1)},
  };
  const TShareAccess access(folders_, false);
  for (const Row& row : rows) {
    EXPECT_EQ(WhereOpened(access.OpenFolderIn(row.share, row.path)), row.opened) << row.label;
  }
  EXPECT_EQ(WhereOpened(TShareAccess(folders_, true).OpenFolderIn("Data", share_ + ".hidden/")),
            share_ + ".hidden");
}

// The program's folders (one named through a link, a trash by its place) lie outside the share
// that holds them, which keeps the rest; a folder that holds one is not to be moved.
TEST_F(SharePathsOnDisk, PrivateFoldersAreOutsideHoweverTheyAreNamed) {
  const std::string program = temp_.MakeSubfolder("data/sub/program");
  ASSERT_EQ(symlink(program.c_str(), (temp_.Path() + "program-link").c_str()), 0);
  const std::string trashName = ".Trash-" + std::to_string(getuid());
  const std::string trash = temp_.MakeSubfolder("data/" + trashName);
  vmtest::WriteFileBytes(trash + "t.txt", "t");
  const TShareModes modes;
  const TShareAccess access(folders_, true, modes, {temp_.Path() + "program-link"});
  for (const auto& [path, kind, inside] : std::vector<std::tuple<std::string, TEntryKind, bool>>{
           {program, TEntryKind::Folder, false},
           {trash + "t.txt", TEntryKind::File, false},
           {share_ + "sub/", TEntryKind::Folder, true},
           {share_ + "a.txt", TEntryKind::File, true}}) {
    const TUniqueFd fd = std::move(access.Open(path, kind).Fd);
    EXPECT_EQ(bool(fd), inside) << path;
    EXPECT_EQ(fd && access.HoldsProtectedFolder(fd.Get()), fd && kind == TEntryKind::Folder)
        << path;
  }
  const TUniqueFd data(open(share_.c_str(), O_PATH | O_DIRECTORY));
  const TUniqueFd sub(openat(data.Get(), "sub", O_PATH | O_DIRECTORY));
  struct stat info {};
  EXPECT_FALSE(access.StatEntry(data.Get(), trashName, TShareOperation::List, info));
  EXPECT_FALSE(access.StatEntry(sub.Get(), "program", TShareOperation::List, info));
}

}  // namespace
}  // namespace vm
