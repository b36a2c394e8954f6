// Folders and selections as one zip: what archive tools read back from the wire, the paths that
// are refused, and an archive broken off when a file changes size on the way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "platform/unique_fd.h"
#include "support/loopback_client.h"
#include "support/random_bytes.h"
#include "support/served_core.h"
#include "support/waiting.h"

namespace vm {
namespace {

using vmtest::THttpAnswer;
using vmtest::TServedCore;

constexpr uint64_t kLargeMemberSize = (uint64_t{4} << 30) + 4096;  // past the 32-bit fields
constexpr size_t kReceiveBlock = 1 << 20;

// Compares every member of the archive with the file of the same relative path under the root,
// reading members as a stream (their CRC is checked at their end), and prints the names in
// order, then "ok". Folder members are checked to be folders.
constexpr char kCompareScript[] = R"(
import os, sys, zipfile
archive, root = sys.argv[1], sys.argv[2]
def same(a, b):
    while (block := a.read(1 << 20)) == b.read(1 << 20):
        if not block:
            return True
    return False
with zipfile.ZipFile(archive) as z:
    for info in z.infolist():
        assert info.flag_bits & 0x800, info.filename
        path = os.path.join(root, info.filename)
        print(info.filename)
        if info.is_dir():
            assert os.path.isdir(path), path
            continue
        with z.open(info) as member, open(path, 'rb') as original:
            assert same(member, original), info.filename
print('ok')
)";

// Runs a command and returns what it printed and whether it exited with 0.
std::pair<std::string, bool> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"", false};
  char block[4096];
  for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) output.append(block, n);
  return {output, pclose(pipe) == 0};
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The zip document's target for a folder and, when given, some of its entries.
std::string ZipTarget(const std::string& folder, const std::vector<std::string>& names = {}) {
  std::string target = "/velmarind/vm-zip?dir=" + HexEncode(folder);
  for (size_t i = 0; i < names.size(); ++i) {
    target += (i == 0 ? "&items=" : ".") + HexEncode(names[i]);
  }
  return target;
}

// Fetches target and writes the body to path, leaving holes for blocks of zeros (a 4 GiB member
// of zeros costs no disk). Returns the head; body length in length.
std::string FetchToSparseFile(int port, const std::string& target, const std::string& path,
                              uint64_t& length) {
  vm::testing::LoopbackClient client(port);
  client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  std::string head = client.ReadAtLeast(1);
  while (head.find("\r\n\r\n") == std::string::npos) {
    const std::string more = client.ReadAtLeast(1);
    if (more.empty()) return head;
    head += more;
  }
  const size_t bodyStart = head.find("\r\n\r\n") + 4;
  std::string pending = head.substr(bodyStart);
  head.resize(bodyStart);
  const TUniqueFd out(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  length = 0;
  for (bool open = true; open;) {
    const size_t wanted = kReceiveBlock;
    const std::string more = client.ReadAtLeast(wanted);
    open = more.size() >= wanted;  // fewer: the server has closed
    pending += more;
    if (pending.find_first_not_of('\0') != std::string::npos) {
      EXPECT_EQ(pwrite(out.Get(), pending.data(), pending.size(), static_cast<off_t>(length)),
                static_cast<ssize_t>(pending.size()));
    }
    length += pending.size();
    pending.clear();
  }
  EXPECT_EQ(ftruncate(out.Get(), static_cast<off_t>(length)), 0);
  return head;
}

class ZipDownloadTest : public ::testing::Test {
 protected:
  ZipDownloadTest() : share_(temp_.MakeSubfolder("share")) {}

  void Write(const std::string& relative, const std::string& content) const {
    vmtest::WriteFileBytes(share_ + relative, content);
  }
  void Folder(const std::string& relative) const { ASSERT_EQ(mkdir((share_ + relative).c_str(), 0755), 0); }

  vmtest::TTempFolder temp_;
  const std::string share_;
};

TEST_F(ZipDownloadTest, ArchiveOfJapaneseNamesAndALargeMemberReadsBackIdentical) {
  Folder("写真");
  Folder("写真/空");
  Write("写真/旅行.jpg", vmtest::RandomBytes(300'000, 1));
  Write("表.txt", "表\n");
  {
    // Sparse: 4 GiB of holes between two written ends.
    const TUniqueFd big(open((share_ + "big.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_EQ(pwrite(big.Get(), "head", 4, 0), 4);
    ASSERT_EQ(pwrite(big.Get(), "tail", 4, kLargeMemberSize - 4), 4);
  }
  Write("z.txt", "after the large member: an offset past 4 GiB");
  const TServedCore served({"Share;;" + share_});
  const std::string archive = temp_.Path() + "out.zip";
  uint64_t length = 0;
  const THttpAnswer head = vmtest::SplitAnswer(
      FetchToSparseFile(served.Port(), ZipTarget(share_), archive, length));
  ASSERT_EQ(head.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(head.Header("Content-Type"), "application/zip");
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(length));
  // Named after the share as the browser shows it, not after its folder on disk.
  EXPECT_EQ(head.Header("Content-Disposition"), "attachment;filename=Share.zip");

  vmtest::WriteFileBytes(temp_.Path() + "compare.py", kCompareScript);
  const auto [listed, same] =
      RunCommand("python3 " + Quoted(temp_.Path() + "compare.py") + " " + Quoted(archive) + " " +
          Quoted(temp_.Path()));
  EXPECT_TRUE(same) << listed;
  EXPECT_EQ(listed,
            "share/\nshare/big.bin\nshare/z.txt\nshare/写真/\nshare/写真/旅行.jpg\nshare/写真/空/\n"
            "share/表.txt\nok\n");
  const auto [tested, unzipOk] = RunCommand("unzip -tq " + Quoted(archive));
  EXPECT_TRUE(unzipOk) << tested;
  const auto [entries, bsdtarOk] = RunCommand("bsdtar -tf " + Quoted(archive));
  EXPECT_TRUE(bsdtarOk) << entries;
  EXPECT_NE(entries.find("share/写真/旅行.jpg"), std::string::npos) << entries;
}

// A zip held 4.7 KB per member until its client had read it: its records now go to a
// temporary file beyond a few MiB. Nine folders of 250-character names hold the files here,
// so that the planned members and the central directory both take some 5 MB.
TEST_F(ZipDownloadTest, ArchiveWhoseRecordsOutgrowMemoryReadsBackIdentical) {
  constexpr int kFiles = 2000;
  std::string deep;
  for (char level = 'a'; level < 'a' + 9; ++level) {
    deep += std::string(250, level) + "/";
    Folder(deep);
  }
  for (int i = 0; i < kFiles; ++i) Write(deep + "f" + std::to_string(i), std::to_string(i));
  const TServedCore served({"Share;;" + share_});
  const std::string archive = temp_.Path() + "out.zip";
  uint64_t length = 0;
  const THttpAnswer head =
      vmtest::SplitAnswer(FetchToSparseFile(served.Port(), ZipTarget(share_), archive, length));
  ASSERT_EQ(head.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(length));
  vmtest::WriteFileBytes(temp_.Path() + "compare.py", kCompareScript);
  const auto [listed, same] = RunCommand("python3 " + Quoted(temp_.Path() + "compare.py") + " " +
                                         Quoted(archive) + " " + Quoted(temp_.Path()));
  EXPECT_TRUE(same) << listed.substr(listed.size() - std::min<size_t>(listed.size(), 500));
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 1 + 9 + kFiles + 1);
}

// Each archive walks a tree and holds a thread: one client gets at most two at once.
TEST_F(ZipDownloadTest, AClientGetsAtMostTwoArchivesAtOnce) {
  Write("big.bin", "");
  ASSERT_EQ(truncate((share_ + "big.bin").c_str(), int64_t{1} << 30), 0);  // sparse
  const TServedCore served({"Share;;" + share_});
  const std::string get = "GET " + ZipTarget(share_) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string head = "HEAD" + get.substr(3);
  const auto status = [&](const std::string& address) {
    return vmtest::SplitAnswer(served.Exchange(head, address)).statusLine;
  };
  // Two archives on their way to a client that reads no further than their first bytes.
  std::vector<std::unique_ptr<vm::testing::LoopbackClient>> held;
  for (int i = 0; i < 2; ++i) {
    held.push_back(std::make_unique<vm::testing::LoopbackClient>(served.Port(), "127.0.0.2"));
    held.back()->Send(get);
    ASSERT_FALSE(held.back()->ReadAtLeast(1).empty());
  }
  const THttpAnswer third = vmtest::SplitAnswer(served.Exchange(head, "127.0.0.2"));
  EXPECT_EQ(third.statusLine, "HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(third.Header("X-Velmarind-Refused"), "TooManyZips");
  EXPECT_EQ(status("127.0.0.3"), "HTTP/1.1 200 OK");
  // Once one of them has ended, the client may have another.
  held.front()->Reset();
  EXPECT_TRUE(vmtest::WaitUntil([&] { return status("127.0.0.2") == "HTTP/1.1 200 OK"; }));
}

// What a selection of the share's folder gives: the member names in order, or the refusal.
struct TSelectionCase {
  const char* label;
  std::string folder;  // relative to the temporary folder; "" is the share itself
  std::vector<std::string> items;
  std::string expected;  // names joined by " ", or the status line
};

TEST_F(ZipDownloadTest, SelectionsTakeOnlyWhatLiesInsideADownloadableShare) {
  Write("a.txt", "a");
  Folder("sub");
  Write("sub/b.txt", "b");
  Write(".secret", "s");
  const std::string sibling = temp_.MakeSubfolder("share-sibling");
  vmtest::WriteFileBytes(sibling + "outside.txt", "o");
  ASSERT_EQ(symlink((sibling + "outside.txt").c_str(), (share_ + "escape.txt").c_str()), 0);
  ASSERT_EQ(symlink(sibling.c_str(), (share_ + "escape-dir").c_str()), 0);
  ASSERT_EQ(symlink((share_ + "sub").c_str(), (share_ + "inside-link").c_str()), 0);
  ASSERT_EQ(symlink(share_.c_str(), (share_ + "sub/loop").c_str()), 0);
  const std::string drop = temp_.MakeSubfolder("drop");
  vmtest::WriteFileBytes(drop + "private.txt", "p");
  const std::string viewOnly = temp_.MakeSubfolder("view");
  vmtest::WriteFileBytes(viewOnly + "v.txt", "v");
  const TServedCore served(
      {"Share;;" + share_, "Drop;;" + drop, "View;;" + viewOnly},
      "SHARE_MODES=" + HexEncode("Drop") + ":dropbox," + HexEncode("View") + ":view\r\n");
  const std::string notFound = "HTTP/1.1 404 Not Found";
  const TSelectionCase cases[] = {
      {"the items chosen", share_, {"a.txt", "sub"}, "a.txt sub/ sub/b.txt"},
      {"a link inside is followed, one back up is not", share_, {"inside-link"},
       "inside-link/ inside-link/b.txt"},
      {"a link to a file outside", share_, {"escape.txt"}, notFound},
      {"a link to a folder outside", share_, {"escape-dir"}, notFound},
      {"a dot name", share_, {".secret"}, notFound},
      {"a name with a separator", share_, {"sub/b.txt"}, notFound},
      {"a name going up", share_, {".."}, notFound},
      {"an absolute name", share_, {share_ + "a.txt"}, notFound},
      {"a folder going up out of the share", share_ + "../share-sibling/", {}, notFound},
      {"a sibling folder sharing the prefix", sibling, {}, notFound},
      {"an absolute folder elsewhere", "/etc/", {"passwd"}, notFound},
      {"a drop box", drop, {}, notFound},
      {"a drop box's file", drop, {"private.txt"}, notFound},
      {"a share for viewing", viewOnly, {"v.txt"}, "v.txt"},
  };
  for (const TSelectionCase& c : cases) {
    const THttpAnswer answer = served.Get(ZipTarget(c.folder, c.items));
    const std::string archive = temp_.Path() + "selection.zip";
    vmtest::WriteFileBytes(archive, answer.body);
    std::string names = answer.statusLine;
    if (answer.statusLine == "HTTP/1.1 200 OK") {
      names = RunCommand("python3 -c \"import sys,zipfile; print(' '.join(zipfile.ZipFile(sys.argv[1])"
                  ".namelist()))\" " + Quoted(archive)).first;
      if (!names.empty() && names.back() == '\n') names.pop_back();
    }
    EXPECT_EQ(names, c.expected) << c.label;
  }
  // The encoded forms of ".." arrive decoded once, and go no further than a plain "..".
  EXPECT_EQ(served.Get("/velmarind/vm-zip?dir=" + HexEncode(share_) + "&items=2e2e").statusLine,
            notFound);
  EXPECT_EQ(served.Get("/velmarind/vm-zip?dir=" + HexEncode(share_) + "%32%65%32%65%32%66").statusLine,
            notFound);
}

// A file truncated while the archive streams: the answer stops short of its announced length,
// without the central directory, so no tool takes it for a whole archive.
TEST_F(ZipDownloadTest, FileChangingSizeBreaksTheArchiveOff) {
  constexpr size_t kSize = 64 << 20;  // far more than the socket buffers hold
  Write("big.bin", vmtest::RandomBytes(kSize, 7));
  const TServedCore served({"Share;;" + share_});
  vm::testing::LoopbackClient client(served.Port());
  client.Send("GET " + ZipTarget(share_, {"big.bin"}) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  std::string received = client.ReadAtLeast(1 << 20);
  ASSERT_EQ(truncate((share_ + "big.bin").c_str(), 1), 0);
  received += client.ReadAll();
  const THttpAnswer answer = vmtest::SplitAnswer(received);
  ASSERT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_LT(answer.body.size(), std::stoull(answer.Header("Content-Length")));
  EXPECT_EQ(answer.body.find("PK\x05\x06"), std::string::npos);
  EXPECT_EQ(answer.body.find("PK\x01\x02"), std::string::npos);
}

}  // namespace
}  // namespace vm
