// The folder listing line: header, records, order, dates, sizes, names, and confinement.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "support/page_lines.h"
#include "support/scoped_env.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::ReadFileBytes;
using vmtest::WriteFileBytes;

// 2013-01-01 18:04:05 UTC, which is 2013/01/02_03:04:05 in the zone used below.
constexpr time_t kStamp = 1357063445;

class ListingTest : public ::testing::Test {
 protected:
  ListingTest() {
    share_ = temp_.MakeSubfolder("Photos");
    page_ = temp_.Path() + "listing.html";
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"Photos;;" + share_});
  }

  // Makes a file (or a folder, for a name ending in "/") dated kStamp.
  void Make(const std::string& name, const std::string& content = "") {
    const std::string path = share_ + name;
    if (name.ends_with("/"))
      mkdir(path.c_str(), 0755);
    else
      WriteFileBytes(path, content);
    const timespec times[2] = {{kStamp, 0}, {kStamp, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  // The listing's page file, which the descriptor returned for serving reads too.
  std::string List(const std::string& path, const std::string& name = "Photos") {
    const TUniqueFd served = MakeListingPage(
        state_, "pid=m1&name=" + HexEncode(name) + "&path=" + HexEncode(path), page_, &found_);
    const std::string page = ReadFileBytes(page_);
    EXPECT_EQ(ReadFileBytes("/proc/self/fd/" + std::to_string(served.Get())), page);
    return page;
  }

  std::string Header(const std::string& path) const {
    return "m1;;Photos;;" + HexEncode("Photos") + ";;" + HexEncode(path);
  }
  std::string File(const std::string& u8, const std::string& system,
                   const std::string& size) const {
    return ";;F::" + u8 + "::" + HexEncode(system) + "::" + HexEncode(share_ + system) +
           "::2013/01/02_03:04:05::" + size;
  }
  std::string Folder(const std::string& u8, const std::string& system) const {
    return ";;D::" + u8 + "::" + HexEncode(system) + "::" + HexEncode(share_ + system + "/") +
           "::::";
  }

  // A fixed zone nine hours east of UTC, so the expected dates do not depend on the host.
  vmtest::TScopedZone zone_{"JST-9"};
  vmtest::TTempFolder temp_;
  std::string share_, page_;
  bool found_ = false;  // what the last List said of its folder
  TStateSnapshot state_;
};

TEST_F(ListingTest, EmptyFolderGivesTheHeaderAlone) {
  EXPECT_EQ(List(share_), Header(share_) + "\r\n");
  EXPECT_TRUE(found_);
}

TEST_F(ListingTest, FoldersFirstThenFilesIgnoringCase) {
  for (const char* name : {"b/", "A/", "C/", "z.txt", "B.txt"}) Make(name, "12345");
  EXPECT_EQ(List(share_), Header(share_) + Folder("A", "A") + Folder("b", "b") + Folder("C", "C") +
                              File("B.txt", "B.txt", "5") + File("z.txt", "z.txt", "5") + "\r\n");
}

TEST_F(ListingTest, DotEntriesOnlyWhenPublished) {
  for (const char* name : {".hidden/", ".hidden/in.txt", "a.txt", ".profile"}) Make(name, "1");
  symlink((share_ + ".hidden").c_str(), (share_ + "door").c_str());
  const std::string hidden = share_ + ".hidden/";
  EXPECT_EQ(List(share_), Header(share_) + File("a.txt", "a.txt", "1") + "\r\n");
  EXPECT_EQ(List(hidden), Header(hidden) + "\r\n");
  EXPECT_FALSE(found_);
  EXPECT_EQ(List(share_ + "door/"), Header(share_ + "door/") + "\r\n");
  EXPECT_FALSE(found_);

  state_.Settings.PublishDotFiles = true;
  const std::string line = List(share_);
  EXPECT_EQ(line.substr(0, line.find(";;D::door::")),
            Header(share_) + Folder(".hidden", ".hidden"));
  EXPECT_TRUE(
      line.ends_with(File(".profile", ".profile", "1") + File("a.txt", "a.txt", "1") + "\r\n"))
      << line;
  EXPECT_EQ(List(hidden), Header(hidden) + ";;F::in.txt::" + HexEncode("in.txt") +
                              "::" + HexEncode(hidden + "in.txt") + "::2013/01/02_03:04:05::1\r\n");
  EXPECT_TRUE(found_);
}

TEST_F(ListingTest, ADotInTheSharesOwnPathDoesNotHideIt) {
  const std::string share = temp_.MakeSubfolder(".config/Photos");
  state_.SharedFolders =
      std::make_shared<const TSharedFolderList>(TSharedFolderList{"Photos;;" + share});
  share_ = share;
  Make("a.txt", "1");
  EXPECT_EQ(List(share), Header(share) + File("a.txt", "a.txt", "1") + "\r\n");
}

TEST_F(ListingTest, NamesInUtf8AndHexOfTheSystemText) {
  Make("表.txt", "ab");
  Make("Vidéos/");
  const std::string line = List(share_);
  // 表.txt is 95 5C 2E 74 78 74 in Shift_JIS; "Vidéos" has no Shift_JIS form and keeps its bytes.
  EXPECT_EQ(HexEncode(Sjis("表.txt")), "955c2e747874");
  EXPECT_EQ(line, Header(share_) + Folder("Vidéos", "Vidéos") +
                      File("表.txt", Sjis("表.txt"), "2") + "\r\n");
}

TEST_F(ListingTest, NameThatIsNotUtf8IsShownLossilyAndStillReachable) {
  Make("\xff\xfe.bin", "x");
  const std::string line = List(share_);
  const std::string prefix = Header(share_) + ";;F::\xEF\xBF\xBD\xEF\xBF\xBD.bin::";
  ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line;
  // The full-path field leads back to the file, as a download would use it.
  const size_t start = line.find("::", prefix.size()) + 2;
  const std::string full = HexDecode(line.substr(start, line.find("::", start) - start));
  MakeListingPage(state_, "pid=m1&path=" + HexEncode(full.substr(0, full.rfind('/') + 1)), page_);
  EXPECT_NE(ReadFileBytes(page_).find(".bin::"), std::string::npos);
}

// Linux names may hold ":" and ";": "a::b" and "x;" used to cut the line at the wrong places.
TEST_F(ListingTest, SeparatorCharactersInNamesCannotCutTheLine) {
  Make("a::b/");
  Make("x;", "1");
  const std::string colon = "\xEA\x9E\x89", semicolon = "\xCD\xBE";
  EXPECT_EQ(List(share_), Header(share_) + Folder("a" + colon + colon + "b", "a::b") +
                              File("x" + semicolon, "x;", "1") + "\r\n");
}

TEST_F(ListingTest, SizesPast4GiBAreShownWhole) {
  WriteFileBytes(share_ + "big.iso", "");
  ASSERT_EQ(truncate((share_ + "big.iso").c_str(), int64_t{4} << 30), 0);  // sparse
  const timespec times[2] = {{kStamp, 0}, {kStamp, 0}};
  utimensat(AT_FDCWD, (share_ + "big.iso").c_str(), times, 0);
  EXPECT_EQ(List(share_), Header(share_) + File("big.iso", "big.iso", "4294967296") + "\r\n");
}

TEST_F(ListingTest, SubFolderAndRecordPaths) {
  Make("Trip/");
  Make("Trip/a.jpg", "1234");
  const std::string sub = share_ + "Trip/";
  EXPECT_EQ(List(sub), Header(sub) + ";;F::a.jpg::" + HexEncode("a.jpg") +
                           "::" + HexEncode(sub + "a.jpg") + "::2013/01/02_03:04:05::4\r\n");
}

TEST_F(ListingTest, PathsOutsideTheSharesGiveTheHeaderAlone) {
  Make("a.txt", "a");
  const std::string sibling = temp_.MakeSubfolder("Photos2");
  WriteFileBytes(sibling + "secret.txt", "s");
  const std::string outside = temp_.MakeSubfolder("outside");
  WriteFileBytes(outside + "secret.txt", "s");
  symlink(outside.c_str(), (share_ + "away").c_str());
  const std::vector<std::string> paths = {
      sibling,     share_ + "../Photos2/", share_ + "../", share_ + "away/", "/", "",
      "relative/", share_ + "missing/"};
  for (const std::string& path : paths) {
    EXPECT_EQ(List(path), Header(path) + "\r\n") << path;
    EXPECT_FALSE(found_) << path;
  }
}

TEST_F(ListingTest, LinksLeadingOutsideAreLeftOutAndInsideLinksListed) {
  const std::string outside = temp_.MakeSubfolder("outside");
  Make("a.txt", "a");
  Make("inner/");
  symlink(outside.c_str(), (share_ + "away").c_str());
  symlink("/nonexistent/target", (share_ + "dangling").c_str());
  symlink((share_ + "inner").c_str(), (share_ + "alias").c_str());
  const std::string line = List(share_);
  EXPECT_EQ(line.find("away"), std::string::npos) << line;
  EXPECT_EQ(line.find("dangling"), std::string::npos) << line;
  EXPECT_NE(line.find(";;D::alias::"), std::string::npos) << line;
  EXPECT_NE(line.find(";;D::inner::"), std::string::npos) << line;
  EXPECT_NE(line.find(";;F::a.txt::"), std::string::npos) << line;
}

}  // namespace
}  // namespace vm
