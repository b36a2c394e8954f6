#include <gtest/gtest.h>

#include <memory>

#include "support/expected_pages.h"
#include "support/page_lines.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::ExpectedIndexPage;
using vmtest::IndexLink;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;

// Writes the index page for the folder list and returns its bytes.
std::string IndexPageFor(TSharedFolderList folders) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "index_127.0.0.1.html";
  TStateSnapshot state;
  state.SharedFolders = std::make_shared<const TSharedFolderList>(std::move(folders));
  MakeIndexPage(state, "dirname=41&tt=1", page);
  return ReadFileBytes(page);
}

TEST(IndexPage, NoSharedFoldersGivesTwentyLinesAndSaysSo) {
  const std::string bytes = IndexPageFor({});
  EXPECT_EQ(bytes, JoinCrLf(ExpectedIndexPage({})));
  EXPECT_EQ(vmtest::SplitCrLf(bytes).size(), 21u);
}

TEST(IndexPage, LinksFollowTheListOrderWithHexArguments) {
  const std::string bytes = IndexPageFor({
      "Photos;;/home/u/P/",
      Sjis("表;;/home/u/表/"),
      "a<b&c;;/srv/x/",
  });
  EXPECT_EQ(bytes, JoinCrLf(ExpectedIndexPage({
                       IndexLink("50686f746f73", "2f686f6d652f752f502f", "Photos"),
                       // The Shift_JIS bytes of 表 are 95 5c, shown as they stand.
                       IndexLink("955c", "2f686f6d652f752f955c2f", Sjis("表")),
                       // Names go into the link text unchanged.
                       IndexLink("613c622663", "2f7372762f782f", "a<b&c"),
                   })));
}

TEST(IndexPage, OddEntriesStillGiveALink) {
  const std::string bytes = IndexPageFor({
      "NoPath", "", "  Spaced ;; /srv/s/  ",
      "Bare;;/srv/bare",  // typed without the final separator
  });
  EXPECT_EQ(bytes, JoinCrLf(ExpectedIndexPage({
                       IndexLink("4e6f50617468", "", "NoPath"),
                       IndexLink("", "", ""),
                       IndexLink("53706163656420", "202f7372762f732f", "Spaced "),
                       IndexLink("42617265", "2f7372762f626172652f", "Bare"),
                   })));
}

}  // namespace
}  // namespace vm
