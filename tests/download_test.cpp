// Download answers: content type and Content-Disposition byte for byte, and the refusals.
#include "web/download.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/exception.h"
#include "platform/text_helpers.h"
#include "support/page_lines.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

class DownloadTest : public ::testing::Test {
 protected:
  DownloadTest() {
    share_ = temp_.MakeSubfolder("P");
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"P;;" + share_});
  }

  // The path handed to the serving step, and the header lines set on the response.
  std::string Prepare(const std::string& path) {
    return PrepareDownload(state_, "file=" + HexEncode(path), response_);
  }

  vmtest::TTempFolder temp_;
  std::string share_;
  TStateSnapshot state_;
  TIdHTTPResponseInfo response_{nullptr};
};

TEST_F(DownloadTest, AsciiNameIsSentPlain) {
  vmtest::WriteFileBytes(share_ + "a.jpg", "jpg");
  EXPECT_EQ(Prepare(share_ + "a.jpg"), share_ + "a.jpg");
  EXPECT_EQ(response_.ContentType, "application/octet-stream");
  EXPECT_EQ(response_.CustomHeaders.Lines(),
            std::vector<std::string>{"Content-Disposition: attachment;filename=a.jpg"});
}

TEST_F(DownloadTest, OtherNamesAlsoCarryTheUtf8Form) {
  struct Row {
    const char* label;
    std::string diskName;    // UTF-8, as on disk
    std::string systemName;  // as the listing hands it out
    std::string header;
  };
  const std::vector<Row> rows = {
      {"Japanese", "表 1.txt", Sjis("表 1.txt"),
       "Content-Disposition: attachment;filename=" + Sjis("表 1.txt") +
           "; filename*=UTF-8''%E8%A1%A8%201.txt"},
      {"accented, kept as UTF-8", "Vidéo.mp4", "Vidéo.mp4",
       "Content-Disposition: attachment;filename=Vidéo.mp4; filename*=UTF-8''Vid%C3%A9o.mp4"},
      // ":" is a name character here, not a separator.
      {"colon", "a:b.txt", "a:b.txt", "Content-Disposition: attachment;filename=a:b.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    vmtest::WriteFileBytes(share_ + row.diskName, "x");
    TIdHTTPResponseInfo response(nullptr);
    EXPECT_EQ(PrepareDownload(state_, "file=" + HexEncode(share_ + row.systemName), response),
              share_ + row.systemName);
    EXPECT_EQ(response.CustomHeaders.Lines(), std::vector<std::string>{row.header});
  }
}

TEST_F(DownloadTest, RefusalsAnswerLikeAFileThatCannotBeOpened) {
  const std::string outside = temp_.MakeSubfolder("outside");
  vmtest::WriteFileBytes(outside + "secret.txt", "s");
  const std::string sibling = temp_.MakeSubfolder("P2");
  vmtest::WriteFileBytes(sibling + "s.txt", "s");
  symlink((outside + "secret.txt").c_str(), (share_ + "link.txt").c_str());
  temp_.MakeSubfolder("P/sub");
  const std::vector<std::string> paths = {outside + "secret.txt", share_ + "../outside/secret.txt",
                                          sibling + "s.txt",      share_ + "link.txt",
                                          share_ + "missing.txt", share_ + "sub/",
                                          share_ + "sub",         ""};
  for (const std::string& path : paths) {
    TIdHTTPResponseInfo response(nullptr);
    try {
      PrepareDownload(state_, "file=" + HexEncode(path), response);
      ADD_FAILURE() << "served " << path;
    } catch (const EFOpenError& error) {
      EXPECT_EQ(error.Message(), EFOpenError(path).Message());
    }
    // The attachment line stays on the error answer, as for any file that cannot be opened.
    EXPECT_EQ(response.ContentType, "application/octet-stream");
    ASSERT_EQ(response.CustomHeaders.Count(), 1);
    EXPECT_EQ(response.CustomHeaders.Line(0).rfind("Content-Disposition: attachment;filename=", 0),
              0u);
  }
}

TEST_F(DownloadTest, LineBreaksInTheNameCannotSplitTheHeader) {
  // A CR LF in a requested name (hex "0d0a") used to go raw into the Content-Disposition
  // line, so any client could add header lines of its own to the answer, error answers included.
  for (const std::string& name : {std::string("a\r\nSet-Cookie: x=1"), std::string("b\nc\t.txt")}) {
    SCOPED_TRACE(name);
    TIdHTTPResponseInfo response(nullptr);
    EXPECT_THROW(PrepareDownload(state_, "file=" + HexEncode(share_ + name), response),
                 EFOpenError);
    ASSERT_EQ(response.CustomHeaders.Count(), 1);
    const std::string line = response.CustomHeaders.Line(0);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
  }
  // A real file with such a name is still served, and its true name travels percent-encoded.
  vmtest::WriteFileBytes(share_ + "x\ny.txt", "x");
  EXPECT_EQ(Prepare(share_ + "x\ny.txt"), share_ + "x\ny.txt");
  EXPECT_EQ(response_.CustomHeaders.Lines(),
            std::vector<std::string>{
                "Content-Disposition: attachment;filename=x_y.txt; filename*=UTF-8''x%0Ay.txt"});
}

TEST_F(DownloadTest, LinkStayingInsideIsServed) {
  vmtest::WriteFileBytes(share_ + "a.txt", "a");
  symlink((share_ + "a.txt").c_str(), (share_ + "alias.txt").c_str());
  EXPECT_EQ(Prepare(share_ + "alias.txt"), share_ + "alias.txt");
  EXPECT_EQ(response_.CustomHeaders.Lines(),
            std::vector<std::string>{"Content-Disposition: attachment;filename=alias.txt"});
}

}  // namespace
}  // namespace vm
