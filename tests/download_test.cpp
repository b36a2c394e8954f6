// Download answers: content type and Content-Disposition byte for byte, the file that is
// served, and the refusals.
#include "web/download.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/exception.h"
#include "platform/text_helpers.h"
#include "support/page_lines.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

// The bytes a prepared download would send.
std::string ServedBytes(const TDownload& download) {
  std::string bytes;
  char block[4096];
  for (ssize_t n; (n = pread(download.File.Get(), block, sizeof block, bytes.size())) > 0;) {
    bytes.append(block, static_cast<size_t>(n));
  }
  return bytes;
}

// What a client learns from an answer: the failure message (or the served bytes), the content
// type and the header lines.
struct TAnswer {
  std::string outcome;
  std::string contentType;
  std::vector<std::string> headers;
  bool operator==(const TAnswer&) const = default;
};

class DownloadTest : public ::testing::Test {
 protected:
  DownloadTest() {
    share_ = temp_.MakeSubfolder("P");
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"P;;" + share_});
  }

  TAnswer Answer(const std::string& path) const {
    TIdHTTPResponseInfo response(nullptr);
    TAnswer answer;
    try {
      TDownload download = PrepareDownload(state_, "file=" + HexEncode(path), response);
      EXPECT_EQ(download.Path, path);
      answer.outcome = "served " + ServedBytes(download);
    } catch (const EFOpenError& error) {
      answer.outcome = error.Message();
    }
    answer.contentType = response.ContentType;
    answer.headers = response.CustomHeaders.Lines();
    return answer;
  }
  TAnswer Served(const std::string& content, const std::string& disposition) const {
    return {"served " + content,
            "application/octet-stream",
            {"Content-Disposition: attachment;filename=" + disposition}};
  }

  vmtest::TTempFolder temp_;
  std::string share_;
  TStateSnapshot state_;
};

TEST_F(DownloadTest, AsciiNameIsSentPlain) {
  vmtest::WriteFileBytes(share_ + "a.jpg", "jpg");
  EXPECT_EQ(Answer(share_ + "a.jpg"), Served("jpg", "a.jpg"));
}

TEST_F(DownloadTest, NamesThePlainFormCannotCarryAlsoTravelEncoded) {
  struct Row {
    const char* label;
    std::string diskName;    // UTF-8, as on disk
    std::string systemName;  // as the listing hands it out
    std::string disposition;
  };
  const std::vector<Row> rows = {
      {"Japanese", "表 1.txt", Sjis("表 1.txt"),
       Sjis("表 1.txt") + "; filename*=UTF-8''%E8%A1%A8%201.txt"},
      {"accented, kept as UTF-8", "Vidéo.mp4", "Vidéo.mp4",
       "Vidéo.mp4; filename*=UTF-8''Vid%C3%A9o.mp4"},
      // A browser ended the name at the first ";" and decoded "%20" into a space.
      {"semicolons", "semi;;colon.txt", "semi;;colon.txt",
       "semi__colon.txt; filename*=UTF-8''semi%3B%3Bcolon.txt"},
      {"percent", "pct%20x.txt", "pct%20x.txt", "pct%20x.txt; filename*=UTF-8''pct%2520x.txt"},
      {"quotes", "say \"hi\" 'x'.txt", "say \"hi\" 'x'.txt",
       "say _hi_ 'x'.txt; filename*=UTF-8''say%20%22hi%22%20%27x%27.txt"},
      {"backslash", "a\\b.txt", "a\\b.txt", "a\\b.txt; filename*=UTF-8''a%5Cb.txt"},
      {"space at the end", "end ", "end ", "end ; filename*=UTF-8''end%20"},
      // ":" and inner spaces are ordinary name characters.
      {"colon and space", "a:b c.txt", "a:b c.txt", "a:b c.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    vmtest::WriteFileBytes(share_ + row.diskName, "x");
    EXPECT_EQ(Answer(share_ + row.systemName), Served("x", row.disposition));
  }
}

TEST_F(DownloadTest, RefusalsAnswerLikeAFileThatCannotBeOpened) {
  const std::string outside = temp_.MakeSubfolder("outside");
  vmtest::WriteFileBytes(outside + "secret.txt", "s");
  const std::string sibling = temp_.MakeSubfolder("P2");
  vmtest::WriteFileBytes(sibling + "s.txt", "s");
  symlink((outside + "secret.txt").c_str(), (share_ + "link.txt").c_str());
  temp_.MakeSubfolder("P/sub");
  mkfifo((share_ + "fifo").c_str(), 0600);
  vmtest::WriteFileBytes(share_ + "locked.txt", "l");
  chmod((share_ + "locked.txt").c_str(), 0);
  const std::vector<std::string> paths = {outside + "secret.txt", share_ + "../outside/secret.txt",
                                          sibling + "s.txt",      share_ + "link.txt",
                                          share_ + "missing.txt", share_ + "sub/",
                                          share_ + "sub",         share_ + "fifo",
                                          "relative.txt",         ""};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    // The attachment line stays on the error answer, as for any file that cannot be opened.
    EXPECT_EQ(Answer(path), (TAnswer{EFOpenError(path).Message(),
                                     "application/octet-stream",
                                     {"Content-Disposition: attachment;filename=" +
                                      path.substr(path.rfind('/') + 1)}}));
  }
  if (geteuid() != 0) {  // the owner of every file may read it
    EXPECT_EQ(Answer(share_ + "locked.txt").outcome, EFOpenError(share_ + "locked.txt").Message());
  }
}

TEST_F(DownloadTest, OutsideTheSharesTheAnswerDoesNotTellWhetherAFileExists) {
  // Regression: the encoded name was taken from the disk before the check, so a name outside
  // the shares was answered one way when it existed and another when it did not.
  const std::string outside = temp_.MakeSubfolder("outside");
  temp_.MakeSubfolder("P/.ssh");
  const std::vector<std::string> files = {outside + "Vidéo secrète.txt", outside + "秘密.txt",
                                          share_ + ".ssh/id_rsa", share_ + ".profile",
                                          share_ + "link-out"};
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string asked = file.ends_with("秘密.txt") ? Sjis(file) : file;
    const TAnswer absent = Answer(asked);
    if (file.ends_with("link-out")) {
      symlink((outside + "Vidéo secrète.txt").c_str(), file.c_str());
    }
    vmtest::WriteFileBytes(file, "secret");
    EXPECT_EQ(Answer(asked), absent);
    EXPECT_EQ(absent.outcome, EFOpenError(asked).Message());
  }
}

TEST_F(DownloadTest, DotFilesAreServedOnlyWhenPublished) {
  temp_.MakeSubfolder("P/.config");
  vmtest::WriteFileBytes(share_ + ".config/app.ini", "ini");
  vmtest::WriteFileBytes(share_ + ".profile", "prof");
  symlink((share_ + ".profile").c_str(), (share_ + "visible-link").c_str());
  for (const std::string name : {".config/app.ini", ".profile", "visible-link"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Answer(share_ + name).outcome, EFOpenError(share_ + name).Message());
  }
  state_.Settings.PublishDotFiles = true;
  EXPECT_EQ(Answer(share_ + ".config/app.ini"), Served("ini", "app.ini"));
  EXPECT_EQ(Answer(share_ + ".profile"), Served("prof", ".profile"));
  EXPECT_EQ(Answer(share_ + "visible-link"), Served("prof", "visible-link"));
}

TEST_F(DownloadTest, LineBreaksInTheNameCannotSplitTheHeader) {
  // A CR LF in a requested name (hex "0d0a") used to go raw into the Content-Disposition
  // line, so any client could add header lines of its own to the answer, error answers included.
  for (const std::string& name : {std::string("a\r\nSet-Cookie: x=1"), std::string("b\nc\t.txt")}) {
    SCOPED_TRACE(name);
    const TAnswer answer = Answer(share_ + name);
    ASSERT_EQ(answer.headers.size(), 1u);
    EXPECT_EQ(answer.headers[0].find_first_of("\r\n"), std::string::npos) << answer.headers[0];
  }
  // A real file with such a name is still served, and its true name travels percent-encoded.
  vmtest::WriteFileBytes(share_ + "x\ny.txt", "x");
  EXPECT_EQ(Answer(share_ + "x\ny.txt"), Served("x", "x_y.txt; filename*=UTF-8''x%0Ay.txt"));
  EXPECT_EQ(Answer(share_ + "gone;\"x.txt").headers,  // an error answer's value is read to its end too
            std::vector<std::string>{"Content-Disposition: attachment;filename=gone__x.txt"});
}

TEST_F(DownloadTest, LinkStayingInsideIsServed) {
  vmtest::WriteFileBytes(share_ + "a.txt", "a");
  symlink((share_ + "a.txt").c_str(), (share_ + "alias.txt").c_str());
  EXPECT_EQ(Answer(share_ + "alias.txt"), Served("a", "alias.txt"));
}

}  // namespace
}  // namespace vm
