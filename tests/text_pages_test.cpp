#include <gtest/gtest.h>

#include <regex>

#include "support/expected_pages.h"
#include "support/page_lines.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::ExpectedBlankPage;
using vmtest::ExpectedTextPage;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::SplitCrLf;
using vmtest::TTempFolder;

struct TextPageCase {
  const char* label;
  std::string params;
  std::string dirValue;   // the dirname field's value
  std::string shownName;  // the bold folder name
  std::string pathValue;  // the dirpath field's value
};

constexpr size_t kTextPageLines = 64;
constexpr size_t kDirnameLine = 13;
constexpr size_t kDirpathLine = 14;
constexpr size_t kShownNameLine = 15;
constexpr size_t kFileNameLine = 17;

TEST(TextPage, ByteExactWithEscapedValues) {
  const TextPageCase cases[] = {
      {"plain hex and name", "dirname=50686f746f73&tt=1", "50686f746f73", "Photos", ""},
      {"Japanese name as Shift_JIS", "dirname=955c", "955c", Sjis("表"), ""},
      {"absent dirname", "tt=1", "", "", ""},
      {"markup in the decoded name", "dirname=3c623e2622", "3c623e2622", "&lt;b&gt;&amp;&quot;",
       ""},
      // The heading names the folder below the share as well: /p/a/ in the share Photos at /p/.
      {"folder being viewed", "dirname=50686f746f73&dirpath=2f702f612f", "50686f746f73",
       "Photos / a", "2f702f612f"},
      {"markup in dirpath", "dirpath=\"><b>", "", "", "&quot;&gt;&lt;b&gt;"},
  };
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "text_127.0.0.1.html";
  const std::regex fnamePattern(R"~(name="fname" value="(__vupd_text_(\d{15})\.txt)")~");
  TStateSnapshot state;
  state.SharedFolders = std::make_shared<const TSharedFolderList>(TSharedFolderList{"Photos;;/p/"});
  for (const TextPageCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string before = RequestStamp();
    MakeTextPage(state, c.params, page);
    const std::string after = RequestStamp();
    const std::string bytes = ReadFileBytes(page);
    const std::vector<std::string> lines = SplitCrLf(bytes);
    ASSERT_EQ(lines.size(), kTextPageLines);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[kFileNameLine], m, fnamePattern)) << lines[kFileNameLine];
    EXPECT_EQ(m[1].length(), 31);
    EXPECT_LE(before, m[2].str());
    EXPECT_LE(m[2].str(), after);
    EXPECT_EQ(bytes, JoinCrLf(ExpectedTextPage(c.dirValue, c.shownName, m[1], c.pathValue)));
  }
}

TEST(TextPage, CraftedDirnameCannotLeaveTheAttribute) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "text_127.0.0.1.html";
  MakeTextPage(TStateSnapshot{}, "dirname=\"><script>alert('x')</script>", page);
  const std::vector<std::string> lines = SplitCrLf(ReadFileBytes(page));
  ASSERT_EQ(lines.size(), kTextPageLines);
  EXPECT_EQ(
      lines[kDirnameLine],
      R"(<input type="hidden" name="dirname" value="&quot;&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;">)");
  // Whatever the loose hex decoding makes of it, the shown name holds no markup of its own.
  const std::string& shownLine = lines[kShownNameLine];
  const std::string shown = shownLine.substr(29, shownLine.size() - 29 - 8);
  EXPECT_EQ(shownLine.substr(0, 29), R"(<p style="font-size:13pt"><b>)");
  EXPECT_EQ(shown.find_first_of("<>\"'"), std::string::npos) << shown;
}

// Closing the window right after submit() let the browser cancel the post and lose the text:
// the save button closes the window only in the handler of the answer.
TEST(TextPage, SaveClosesOnlyOnceTheAnswerIsIn) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "text_127.0.0.1.html";
  MakeTextPage(TStateSnapshot{}, "", page);
  const std::string bytes = ReadFileBytes(page);
  const size_t start = bytes.find("function cmd_go(){");
  const std::string cmdGo = bytes.substr(start, bytes.find("\r\n}\r\n", start) - start);
  EXPECT_LT(cmdGo.find(".then(function(r){"), cmdGo.find("close();"));
  EXPECT_NE(cmdGo.find("mform.submit(); return;"), std::string::npos);
}

TEST(BlankPage, ReloadsTheOpenerAndClosesWhateverTheParameters) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "blank_127.0.0.1.html";
  const std::string expected = JoinCrLf(ExpectedBlankPage());
  for (const char* params : {"", "menu=newtext&dirname=41&fname=a.txt&tbody=x"}) {
    MakeBlankPage(TStateSnapshot{}, params, page);
    EXPECT_EQ(ReadFileBytes(page), expected) << params;
  }
}

}  // namespace
}  // namespace vm
