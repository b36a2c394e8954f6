// Managing a share from the browser: the trash as the desktop's file manager reads it, renames
// that never replace, new folders, and what each refuses (paths out of the share, modes, methods).
#include "web/share_manage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "platform/trash_can.h"
#include "support/served_core.h"

namespace vm {
namespace {

using vmtest::THttpAnswer;
using vmtest::TServedCore;

// A POST of a small form to one of the managing documents.
THttpAnswer Post(const TServedCore& served, const std::string& document, const std::string& form,
                 const std::string& extraHeaders = "") {
  return vmtest::SplitAnswer(served.Exchange(
      "POST /velmarind/" + document + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
      std::to_string(form.size()) + "\r\n\r\n" + form));
}

std::string Items(const std::vector<std::string>& names) {
  std::string items;
  for (const std::string& name : names) items += (items.empty() ? "" : ".") + HexEncode(name);
  return items;
}

// Everything under a folder, as "path" lines (links as "path -> target"), sorted.
std::string Tree(const std::string& folder) {
  std::string out;
  FILE* pipe = popen(("cd '" + folder + "' && find . -printf '%p %l\\n' | sort").c_str(), "r");
  char block[4096];
  for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) out.append(block, n);
  pclose(pipe);
  return out;
}

class ShareManageTest : public ::testing::Test {
 protected:
  ShareManageTest()
      : share_(temp_.MakeSubfolder("share")),
        data_("XDG_DATA_HOME", temp_.MakeSubfolder("data")) {
    Write("a.txt", "a");
    Write("表.txt", "hyo");
    EXPECT_EQ(mkdir((share_ + "sub").c_str(), 0755), 0);
    Write("sub/b.txt", "b");
  }
  void Write(const std::string& relative, const std::string& content) const {
    vmtest::WriteFileBytes(share_ + relative, content);
  }
  std::string Trash() const { return temp_.Path() + "data/Trash/"; }

  vmtest::TTempFolder temp_;
  const std::string share_;
  vmtest::TScopedEnv data_;
};

TEST_F(ShareManageTest, TrashedEntriesCarryWhatTheFileManagerRestoresThemBy) {
  TServedCore served({"Share;;" + share_}, "SHARE_MODES=" + HexEncode("Share") + ":full\r\n");
  std::vector<TShareChange> changes;
  std::mutex lock;
  served.State().SetShareListener([&](const TShareChange& change) {
    std::lock_guard<std::mutex> hold(lock);
    changes.push_back(change);
  });
  const std::string form = "dir=" + HexEncode(share_) + "&items=" + Items({"\x95\x5c.txt", "sub"});
  const THttpAnswer answer = Post(served, "vm-trash", form);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.Header("X-Velmarind-Done"), "2");
  EXPECT_EQ(vmtest::ReadFileBytes(Trash() + "files/表.txt"), "hyo");
  EXPECT_EQ(vmtest::ReadFileBytes(Trash() + "files/sub/b.txt"), "b");
  const std::string info = vmtest::ReadFileBytes(Trash() + "info/表.txt.trashinfo");
  EXPECT_EQ(info.substr(0, info.find("DeletionDate=")),
            "[Trash Info]\nPath=" + share_ + "%E8%A1%A8.txt\n");
  EXPECT_EQ(info.size(), info.find("DeletionDate=") + std::string("DeletionDate=").size() + 20);
  // A second entry of a trashed name takes the next free name in the trash.
  Write("sub", "now a file");
  EXPECT_EQ(Post(served, "vm-trash", "dir=" + HexEncode(share_) + "&items=" + Items({"sub"}))
                .statusLine,
            "HTTP/1.1 200 OK");
  EXPECT_EQ(vmtest::ReadFileBytes(Trash() + "files/sub.2"), "now a file");
  EXPECT_TRUE(vmtest::FileExists(Trash() + "info/sub.2.trashinfo"));
  EXPECT_EQ(Tree(share_), ". \n./a.txt \n");
  std::lock_guard<std::mutex> hold(lock);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].Kind, TShareChange::TKind::Trashed);
  EXPECT_EQ(changes[0].FolderName, "Share");
  EXPECT_EQ(changes[0].FileCount, 2);
  EXPECT_EQ(changes[0].ClientAddress, "127.0.0.1");
}

TEST_F(ShareManageTest, RenameAndNewFolderNeverReplaceAnEntry) {
  TServedCore served({"Share;;" + share_}, "SHARE_MODES=" + HexEncode("Share") + ":full\r\n");
  const std::string dir = "dir=" + HexEncode(share_);
  struct TCase {
    const char* label;
    std::string document, form, status;
  };
  const TCase cases[] = {
      {"rename to a free name, typed in UTF-8", "vm-rename",
       dir + "&from=" + HexEncode("a.txt") + "&to=" + HexEncode("新しい.txt"), "200 OK"},
      {"rename onto a file", "vm-rename",
       dir + "&from=" + HexEncode("sub") + "&to=" + HexEncode("新しい.txt"), "409 Conflict"},
      {"rename of a missing entry", "vm-rename",
       dir + "&from=" + HexEncode("gone") + "&to=" + HexEncode("x"), "404 Not Found"},
      {"a new folder", "vm-mkdir", dir + "&name=" + HexEncode("フォルダ"), "200 OK"},
      {"a new folder of a taken name", "vm-mkdir", dir + "&name=" + HexEncode("sub"),
       "409 Conflict"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Post(served, c.document, c.form).statusLine, "HTTP/1.1 " + c.status) << c.label;
  }
  EXPECT_EQ(Tree(share_),
            ". \n./sub \n./sub/b.txt \n./フォルダ \n./新しい.txt \n./表.txt \n");
  EXPECT_EQ(vmtest::ReadFileBytes(share_ + "新しい.txt"), "a");
}

// Every way out of the share, for each operation: refused, and nothing anywhere changed.
TEST_F(ShareManageTest, PathsOutsideTheShareAreRefusedByEveryOperation) {
  const std::string sibling = temp_.MakeSubfolder("share-sibling");
  vmtest::WriteFileBytes(sibling + "s.txt", "s");
  Write(".hidden", "h");
  ASSERT_EQ(symlink((sibling + "s.txt").c_str(), (share_ + "escape").c_str()), 0);
  ASSERT_EQ(symlink(sibling.c_str(), (share_ + "escape-dir").c_str()), 0);
  TServedCore served({"Share;;" + share_}, "SHARE_MODES=" + HexEncode("Share") + ":full\r\n");
  const std::string before = Tree(temp_.Path());
  struct TPlace {
    const char* label;
    std::string dir;
    std::string name;
    std::string folder = "";  // where a new folder is asked for; "" is dir + name
  };
  const TPlace places[] = {
      {"up from the share", share_ + "../share-sibling/", "s.txt"},
      {"up, encoded in the name", share_, ".."},
      {"a sibling sharing the prefix", sibling, "s.txt"},
      {"an absolute folder elsewhere", temp_.Path(), "share-sibling"},
      {"a name with a separator", share_, "sub/../../share-sibling"},
      {"an absolute name", share_, sibling + "s.txt"},
      {"a link out of the share", share_, "escape"},
      {"a link to a folder outside", share_ + "escape-dir/", "s.txt"},
      {"a hidden name", share_, ".hidden"},
      {"the share itself from its parent", temp_.Path(), "share", temp_.Path()},
  };
  for (const TPlace& place : places) {
    const std::string dir = "dir=" + HexEncode(place.dir);
    const std::string forms[][2] = {
        {"vm-trash", dir + "&items=" + Items({place.name})},
        {"vm-rename", dir + "&from=" + HexEncode(place.name) + "&to=" + HexEncode("moved")},
        {"vm-mkdir", "dir=" +
                         HexEncode(place.folder.empty() ? place.dir + place.name + "/" : place.folder) +
                         "&name=" + HexEncode("new")},
    };
    for (const auto& [document, form] : forms) {
      const THttpAnswer answer = Post(served, document, form);
      EXPECT_NE(answer.statusLine, "HTTP/1.1 200 OK") << place.label << ": " << document;
      EXPECT_FALSE(answer.Header("X-Velmarind-Refused").empty()) << place.label << ": " << document;
    }
  }
  // Percent-encoded hex arrives decoded once, and is then no more than the plain "..".
  EXPECT_EQ(Post(served, "vm-trash", "dir=" + HexEncode(share_) + "&items=%32%65%32%65")
                .Header("X-Velmarind-Refused"),
            "BadName");
  // Names typed for new entries: one plain name each.
  for (const std::string typed :
       {"..", ".", "a/b", ".bashrc", "x\ny", "x\u2028y", "a\u202Etxt.exe"}) {
    EXPECT_EQ(Post(served, "vm-mkdir", "dir=" + HexEncode(share_) + "&name=" + HexEncode(typed))
                  .Header("X-Velmarind-Refused"),
              "BadName")
        << typed;
  }
  EXPECT_EQ(Tree(temp_.Path()), before);
}

// Only a share with the full mode is managed, only by POST, and only from our own pages.
TEST_F(ShareManageTest, ModesMethodsAndOtherSitesAreRefused) {
  const std::string view = temp_.MakeSubfolder("view");
  const std::string drop = temp_.MakeSubfolder("drop");
  const std::string both = temp_.MakeSubfolder("both");
  for (const std::string& folder : {view, drop, both}) vmtest::WriteFileBytes(folder + "f", "f");
  TServedCore served({"Share;;" + share_, "View;;" + view, "Drop;;" + drop, "Both;;" + both},
                     "SHARE_MODES=" + HexEncode("Share") + ":full," + HexEncode("View") +
                         ":view," + HexEncode("Drop") + ":dropbox\r\n");
  const std::string before = Tree(temp_.Path());
  for (const std::string& folder : {view, drop, both}) {
    const std::string dir = "dir=" + HexEncode(folder);
    EXPECT_EQ(Post(served, "vm-trash", dir + "&items=" + Items({"f"})).Header("X-Velmarind-Refused"),
              "NotAllowed") << folder;
    EXPECT_EQ(Post(served, "vm-rename", dir + "&from=" + HexEncode("f") + "&to=" + HexEncode("g"))
                  .Header("X-Velmarind-Refused"),
              "NotAllowed") << folder;
    EXPECT_EQ(Post(served, "vm-mkdir", dir + "&name=" + HexEncode("d")).Header("X-Velmarind-Refused"),
              "NotAllowed") << folder;
  }
  const std::string form = "dir=" + HexEncode(share_) + "&items=" + Items({"a.txt"});
  EXPECT_EQ(served.Get("/velmarind/vm-trash?" + form).statusLine,
            "HTTP/1.1 405 Method not allowed");
  EXPECT_EQ(Post(served, "vm-trash", form, "Sec-Fetch-Site: cross-site\r\n").statusLine,
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Post(served, "vm-trash", form, "Origin: http://evil.example\r\n").statusLine,
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Tree(temp_.Path()), before);
}

// The trash at the top of another file system: the shared one when it is a sticky folder,
// else the user's own; none when that name is taken by something else.
TEST(TrashCan, TopdirTrashFollowsTheSharedTrashRules) {
  const unsigned uid = getuid();
  struct TCase {
    const char* label;
    const char* shared;  // what ".Trash" is: "" none, "sticky", "plain", "link"
    bool ownTaken;       // ".Trash-uid" exists as a file
    std::string expected;  // relative to the top; "" none
  };
  const TCase cases[] = {
      {"no shared trash", "", false, ".Trash-" + std::to_string(uid)},
      {"a sticky shared trash", "sticky", false, ".Trash/" + std::to_string(uid)},
      {"a shared trash without the sticky bit", "plain", false, ".Trash-" + std::to_string(uid)},
      {"a link as the shared trash", "link", false, ".Trash-" + std::to_string(uid)},
      {"the own name taken by a file", "", true, ""},
  };
  for (const TCase& c : cases) {
    vmtest::TTempFolder top;
    const std::string shared = top.Path() + ".Trash";
    if (std::string(c.shared) == "sticky" || std::string(c.shared) == "plain") {
      ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
      if (std::string(c.shared) == "sticky") {
        ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
      }
    } else if (std::string(c.shared) == "link") {
      const std::string elsewhere = top.MakeSubfolder("elsewhere");
      ASSERT_EQ(chmod(elsewhere.c_str(), 01777), 0);
      ASSERT_EQ(symlink(elsewhere.c_str(), shared.c_str()), 0);
    }
    if (c.ownTaken) vmtest::WriteFileBytes(top.Path() + ".Trash-" + std::to_string(uid), "x");
    std::string root = top.Path();
    root.pop_back();
    const std::string trash = TopdirTrashPath(root, uid);
    EXPECT_EQ(trash, c.expected.empty() ? "" : top.Path() + c.expected) << c.label;
    if (!trash.empty()) {
      struct stat info {};
      ASSERT_EQ(lstat(trash.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 0777, 0700u) << c.label;
    }
  }
}

}  // namespace
}  // namespace vm
