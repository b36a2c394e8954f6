// Files shown in the browser: the type table, and the viewing document through the real server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "support/served_core.h"
#include "web/view_types.h"

namespace {

using vm::TViewKind;
using vmtest::TServedCore;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

TEST(ViewTypes, KindAndTypeByExtension) {
  TTempFolder folder;
  // A system table that offers a newer type, a markup type and one of another family.
  WriteFileBytes(folder.Path() + "mime.types",
                 "# comment\nimage/x-new-jpeg jpg\nimage/svg+xml png\ntext/html mp4\n"
                 "audio/x-wav wav\ntext/markdown md\n");
  // This build converts HEIC and TIFF, and nothing else.
  const vm::TViewTypes types(folder.Path() + "mime.types", "heic,tif");
  struct Row {
    const char* label;
    const char* name;
    TViewKind kind;
    const char* type;
  };
  const std::vector<Row> rows = {
      {"system type of the family wins", "/s/a.JPG", TViewKind::Image, "image/x-new-jpeg"},
      {"system markup type is never taken", "/s/a.png", TViewKind::Image, "image/png"},
      {"system type of another family is not taken", "/s/a.mp4", TViewKind::Video, "video/mp4"},
      {"system audio type", "/s/a.wav", TViewKind::Audio, "audio/x-wav"},
      {"built-in without registration", "/s/a.webm", TViewKind::Video, "video/webm"},
      {"markdown is plain text", "/s/a.md", TViewKind::Text, "text/plain"},
      {"html is its text", "/s/a.html", TViewKind::Text, "text/plain"},
      {"svg is its text", "/s/a.svg", TViewKind::Text, "text/plain"},
      {"source code", "/s/main.cpp", TViewKind::Text, "text/plain"},
      {"pdf", "/s/a.pdf", TViewKind::Pdf, "application/pdf"},
      {"a picture converted here", "/s/IMG_1.HEIC", TViewKind::Picture, "image/heic"},
      {"a picture not converted here is only downloaded", "/s/a.jxl", TViewKind::None, ""},
      {"a video the viewer asks about first", "/s/a.mkv", TViewKind::Video, "video/x-matroska"},
      {"unknown extension", "/s/a.exe", TViewKind::None, ""},
      {"no extension", "/s/README", TViewKind::None, ""},
      {"dot file without extension", "/s/.jpg", TViewKind::None, ""},
      {"dot in a folder only", "/s.jpg/a", TViewKind::None, ""},
  };
  for (const Row& row : rows) {
    const vm::TViewType found = types.Lookup(row.name);
    EXPECT_EQ(found.Kind, row.kind) << row.label;
    EXPECT_EQ(found.ContentType, row.type) << row.label;
  }
}

TEST(ViewTypes, TextCharsetByBytes) {
  struct Row {
    const char* label;
    std::string bytes;
    const char* charset;
  };
  const std::vector<Row> rows = {
      {"ascii", "plain text", "utf-8"},
      {"utf-8 japanese", "\xe8\xa1\xa8\xe3\x81\xae", "utf-8"},
      {"utf-8 cut by the sample", "ab\xe8\xa1", "utf-8"},
      {"shift_jis japanese", "\x95\x5c\x82\xcc", "Shift_JIS"},
      {"shift_jis half-width kana", "\xb1\xb2", "Shift_JIS"},
  };
  for (const Row& row : rows) EXPECT_EQ(vm::DetectTextCharset(row.bytes), row.charset) << row.label;
}

class ViewDocument : public ::testing::Test {
 protected:
  ViewDocument()
      : share_(files_.MakeSubfolder("P")),
        drop_(files_.MakeSubfolder("D")),
        served_({"P;;" + share_, "D;;" + drop_},
                "SHARE_MODES=" + vm::HexEncode("D") + ":dropbox\r\n") {
    WriteFileBytes(share_ + "a.jpg", kJpeg);
    WriteFileBytes(drop_ + "a.jpg", kJpeg);
    WriteFileBytes(share_ + "page.html", "<script>alert(1)</script>");
    WriteFileBytes(share_ + "tool.exe", "MZ");
    WriteFileBytes(share_ + ".hidden.jpg", kJpeg);
    WriteFileBytes(files_.Path() + "outside.jpg", kJpeg);
    files_.MakeSubfolder("P/album.jpg");
  }

  vmtest::THttpAnswer View(const std::string& path, const std::string& headers = "") const {
    return served_.Get("/velmarind/vm-view?file=" + vm::HexEncode(path), headers);
  }

  const std::string kJpeg = std::string("\xff\xd8\xff\xe0", 4) + std::string(96, 'j');
  TTempFolder files_;
  std::string share_;
  std::string drop_;  // a drop box: what is in it is not shown
  TServedCore served_;
};

TEST_F(ViewDocument, ServesInlineSandboxedUnderItsType) {
  const vmtest::THttpAnswer answer = View(share_ + "a.jpg");
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.Header("Content-Type"), "image/jpeg");
  EXPECT_EQ(answer.Header("Content-Security-Policy"), "sandbox");
  EXPECT_EQ(answer.Header("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(answer.Header("Content-Disposition"), "inline; filename*=UTF-8''a.jpg");
  EXPECT_EQ(answer.Header("Accept-Ranges"), "bytes");
  EXPECT_EQ(answer.body, kJpeg);
}

TEST_F(ViewDocument, AnswersByteRanges) {
  const vmtest::THttpAnswer part = View(share_ + "a.jpg", "Range: bytes=2-5\r\n");
  EXPECT_EQ(part.statusLine, "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(part.body, kJpeg.substr(2, 4));
  EXPECT_EQ(View(share_ + "a.jpg", "Range: bytes=500-\r\n").statusLine.substr(9, 3), "416");
}

TEST_F(ViewDocument, MarkupIsPlainText) {
  const vmtest::THttpAnswer answer = View(share_ + "page.html");
  EXPECT_EQ(answer.Header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(answer.Header("Content-Security-Policy"), "sandbox");
}

TEST_F(ViewDocument, RefusalsLookAlike) {
  const vmtest::THttpAnswer missing = View(share_ + "gone.jpg");
  EXPECT_EQ(missing.statusLine, "HTTP/1.1 404 Not Found");
  struct Row {
    const char* label;
    std::string path;
    std::string headers;
  };
  const std::vector<Row> rows = {
      {"outside the shares", files_.Path() + "outside.jpg", ""},
      {"climbing out", share_ + "../outside.jpg", ""},
      {"dot file", share_ + ".hidden.jpg", ""},
      {"not a viewable kind", share_ + "tool.exe", ""},
      {"a folder", share_ + "album.jpg", ""},
      {"started by another site", share_ + "a.jpg", "Sec-Fetch-Site: cross-site\r\n"},
      {"in a drop box", drop_ + "a.jpg", ""},
  };
  for (const Row& row : rows) {
    const vmtest::THttpAnswer answer = View(row.path, row.headers);
    EXPECT_EQ(answer.statusLine, missing.statusLine) << row.label;
    EXPECT_EQ(answer.headers, missing.headers) << row.label;
    EXPECT_EQ(answer.body, missing.body) << row.label;
  }
}

TEST_F(ViewDocument, ThumbnailWithoutMakerIsPlaceholder) {
  // Unit tests run without the thumbnail program beside them.
  const vmtest::THttpAnswer thumb =
      served_.Get("/velmarind/vm-thumb?file=" + vm::HexEncode(share_ + "a.jpg"));
  EXPECT_EQ(thumb.statusLine.substr(9, 3), "415");
  const vmtest::THttpAnswer text =
      served_.Get("/velmarind/vm-thumb?file=" + vm::HexEncode(share_ + "page.html"));
  EXPECT_EQ(text.statusLine.substr(9, 3), "404");
}

}  // namespace
