// The body parser on bodies captured from real clients, the documented cases and hostile bodies.
#include "web/post_body.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "http/tcp_server.h"
#include "platform/fs_names.h"
#include "platform/spill_stream.h"
#include "platform/text_helpers.h"
#include "support/file_size_limit.h"
#include "support/multipart.h"
#include "support/page_lines.h"
#include "support/process_figures.h"
#include "support/random_bytes.h"
#include "support/scoped_env.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::kSanitizedBuild;
using vmtest::Multipart;
using vmtest::RandomBytes;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;

const std::string kDataHex = HexEncode("Data1");

std::string Fixture(const std::string& name) {
  return ReadFileBytes(std::string(VELMARIND_SOURCE_DIR) + "/tests/fixtures/" + name);
}

// A program folder and one shared folder "Data1" in a fresh temporary folder.
class PostBodyTest : public ::testing::Test {
 protected:
  PostBodyTest() {
    program_ = temp_.MakeSubfolder("program");
    share_ = temp_.MakeSubfolder("share");
    state_.ProgramFolder = program_;
    state_.SharedFolders = std::make_shared<const TSharedFolderList>(
        TSharedFolderList{"Other;;" + temp_.MakeSubfolder("other"), "Data1;;" + share_});
  }

  std::string Parse(const std::string& body) {
    TMemoryStream stream(body);
    return ParsePostBody(state_, stream);
  }
  // The result and what the parser says it did.
  struct TPosted {
    std::string result;
    TPostOutcome outcome;
  };
  TPosted Post(const std::string& body) {
    TMemoryStream stream(body);
    TPosted posted;
    posted.result = ParsePostBody(state_, stream, posted.outcome);
    return posted;
  }
  std::vector<std::string> Saved() const { return temp_.List("share"); }
  std::string SavedBytes(const std::string& name) const { return ReadFileBytes(share_ + name); }
  // Removes what was saved, for the next case.
  void ForgetSaved() const {
    for (const std::string& name : Saved()) std::remove((share_ + name).c_str());
  }

  TTempFolder temp_;
  std::string program_, share_;
  TStateSnapshot state_;
};

// The body written into a stream the way the engine does, a block at a time.
void Fill(TStream& stream, const std::string& body) {
  constexpr size_t kBlock = 32768;
  for (size_t k = 0; k < body.size(); k += kBlock) {
    stream.Write(body.data() + k, std::min(kBlock, body.size() - k));
  }
}

// The paths below root of every entry (links not followed), sorted; the program folder's
// "pastdata.txt" left out.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string().substr(root.size());
    if (path != "program/pastdata.txt") paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The saved upload name is the prefix, fifteen digits and the extension.
void ExpectUploadName(const std::string& name, const std::string& extension) {
  ASSERT_EQ(name.size(), 11 + 15 + extension.size()) << name;
  EXPECT_EQ(name.substr(0, 11), "__vupd_img_");
  EXPECT_TRUE(vmtest::IsStamp(name.substr(11, 15))) << name;
  EXPECT_EQ(name.substr(26), extension);
}

TEST_F(PostBodyTest, CurlUploadOfOneFileBetweenFields) {
  const std::string body = Fixture("curl_upload_one_file.bin");
  const std::string result = Parse(body);
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 1u);
  ExpectUploadName(saved[0], ".jpg");
  EXPECT_EQ(SavedBytes(saved[0]), "first line\r\nsecond line\r\n");
  EXPECT_EQ(result, "&menu=updimg&dirname=4461746131&ifile=" + HexEncode(saved[0]));
  EXPECT_EQ(ReadFileBytes(program_ + "pastdata.txt"), body);
}

TEST_F(PostBodyTest, CurlUploadWithFilesLastSavesBoth) {
  // The last file is followed directly by the closing delimiter, and its content holds the
  // new-text marker: both files are saved, and no text file is made.
  const std::string result = Parse(Fixture("curl_upload_two_files.bin"));
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  std::string jpg = saved[0].ends_with(".jpg") ? saved[0] : saved[1];
  std::string txt = saved[0].ends_with(".txt") ? saved[0] : saved[1];
  ExpectUploadName(jpg, ".jpg");
  ExpectUploadName(txt, ".txt");
  EXPECT_EQ(SavedBytes(jpg), "first line\r\nsecond line\r\n");
  EXPECT_EQ(SavedBytes(txt), "menu=newtext inside a file\n");
  EXPECT_EQ(result,
            "&menu=updimg&dirname=4461746131&ifile=" + HexEncode(jpg) + "&ifile=" + HexEncode(txt));
}

TEST_F(PostBodyTest, ChromiumUploadOfTwoFiles) {
  const std::string result = Parse(Fixture("chromium_upload_two_files.bin"));
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  // "写真.PNG" arrives in Shift_JIS; only its lower-cased extension survives. "data" has none.
  std::string png = saved[0].ends_with(".png") ? saved[0] : saved[1];
  std::string bare = saved[0].ends_with(".png") ? saved[1] : saved[0];
  ExpectUploadName(png, ".png");
  ExpectUploadName(bare, "");
  EXPECT_EQ(SavedBytes(png), "first line\r\nsecond line\r\n");
  EXPECT_EQ(SavedBytes(bare), std::string("\x00\x01\x02\r\n--\xff", 8));
  EXPECT_EQ(result, "&menu=updimg&dirname=4461746131&ifile=" + HexEncode(png) +
                        "&ifile=" + HexEncode(bare));
}

TEST_F(PostBodyTest, ChromiumNewTextKeepsAmpersandsAndLineEnds) {
  const std::string body = Fixture("chromium_new_text.bin");
  const std::string result = Parse(body);
  EXPECT_EQ(Saved(), std::vector<std::string>{"メモ 1.txt"});
  EXPECT_EQ(SavedBytes("メモ 1.txt"), Sjis("一行目 a&b\r\n100% 表\r\n"));
  EXPECT_EQ(result, PercentDecoded(body));
}

TEST_F(PostBodyTest, UploadVariants) {
  struct Row {
    const char* label;
    std::vector<std::pair<std::string, std::string>> parts;
    std::string extension;  // of the one saved file
    std::string content;
  };
  const std::vector<Row> rows = {
      {"path and upper-case extension",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"C:\\x\\A.PNG\"", "png\r\n"},
        {"name=\"dirname\"", kDataHex}},
       ".png",
       "png\r\n"},
      {"empty file part",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"e.txt\"", ""},
        {"name=\"dirname\"", kDataHex}},
       ".txt",
       ""},
      {"no dot",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"README\"", "r"},
        {"name=\"dirname\"", kDataHex}},
       "",
       "r"},
      {"dot in a folder only",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"C:\\a.b\\c\"", "c"},
        {"name=\"dirname\"", kDataHex}},
       "",
       "c"},
      // 表 is 95 5C: its second byte is no separator, so the extension is ".表".
      {"Shift_JIS trail byte 0x5C",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"a." + Sjis("表") + "\"", "k"},
        {"name=\"dirname\"", kDataHex}},
       ".表",
       "k"},
      {"UTF-8 name whose last byte before the dot is a lead byte",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"あ.PNG\"", "u"},
        {"name=\"dirname\"", kDataHex}},
       ".png",
       "u"},
      {"headers in capitals",
       {{"NAME=\"menu\"", "updimg"},
        {"NAME=\"ifile\"; FILENAME=\"b.GIF\"", "g"},
        {"NAME=\"dirname\"", kDataHex}},
       ".gif",
       "g"},
      {"file last",
       {{"name=\"menu\"", "updimg"},
        {"name=\"dirname\"", kDataHex},
        {"name=\"ifile\"; filename=\"z.bin\"", "last"}},
       ".bin",
       "last"},
      {"field header inside the file",
       {{"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"f.txt\"", "x name=\"dirname\"\r\n\r\n4f74686572\r\n"},
        {"name=\"dirname\"", kDataHex}},
       ".txt",
       "x name=\"dirname\"\r\n\r\n4f74686572\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TTempFolder temp;
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"Data1;;" + temp.Path()});
    const std::string result = Parse(Multipart(row.parts));
    const auto saved = temp.List();
    ASSERT_EQ(saved.size(), 1u);
    ExpectUploadName(saved[0], row.extension);
    EXPECT_EQ(ReadFileBytes(temp.Path() + saved[0]), row.content);
    EXPECT_NE(result.find("&menu=updimg"), std::string::npos) << result;
    EXPECT_NE(result.find("&dirname=" + kDataHex), std::string::npos) << result;
    EXPECT_TRUE(result.ends_with(
        "=" + HexEncode("__vupd_img_" + saved[0].substr(11, 15) +
                        (row.extension == ".表" ? "." + Sjis("表") : row.extension))))
        << result;
  }
}

TEST_F(PostBodyTest, UploadsKeepTheBrowsersNameMadeSafeWhenSet) {
  state_.Settings.KeepUploadNames = true;
  struct Row {
    const char* label;
    std::string fileName;  // as sent
    bool utf8;             // the form says "_charset_=UTF-8", as the page script's does
    std::string saved;     // on disk (UTF-8)
  };
  const Row rows[] = {
      {"UTF-8, as the page script sends", "\xE5\x86\x99\xE7\x9C\x9F.JPG", true,
       "\xE5\x86\x99\xE7\x9C\x9F.JPG"},
      {"the same name again is not replaced", "\xE5\x86\x99\xE7\x9C\x9F.JPG", true,
       "\xE5\x86\x99\xE7\x9C\x9F (2).JPG"},
      {"Shift_JIS, as the page's own form sends", "\x95\x5c.txt", false, "\xE8\xA1\xA8.txt"},
      {"never a hidden file", "..profile", true, "profile"},
      {"no control character", "a\x01" "b.txt", true, "a_b.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::pair<std::string, std::string>> parts = {
        {"name=\"menu\"", "updimg"},
        {"name=\"ifile\"; filename=\"" + row.fileName + "\"", row.label},
        {"name=\"dirname\"", kDataHex}};
    if (row.utf8) parts.push_back({"name=\"_charset_\"", "UTF-8"});
    const TPosted posted = Post(Multipart(parts));
    EXPECT_EQ(SavedBytes(row.saved), row.label);
    EXPECT_EQ(posted.outcome.SavedNames, std::vector<std::string>{NativeToSystem(row.saved)});
  }
}

TEST_F(PostBodyTest, UploadRefusedSavesNothing) {
  const std::string file = "name=\"ifile\"; filename=\"a.png\"";
  struct Row {
    const char* label;
    std::vector<std::pair<std::string, std::string>> parts;
    TPostRefusal refusal;  // only a body that asks to save is refused
  };
  const std::vector<Row> rows = {
      {"no dirname", {{"name=\"menu\"", "updimg"}, {file, "x"}}, TPostRefusal::NoFolder},
      {"empty dirname",
       {{"name=\"menu\"", "updimg"}, {file, "x"}, {"name=\"dirname\"", ""}},
       TPostRefusal::NoFolder},
      {"other menu",
       {{"name=\"menu\"", "other"}, {file, "x"}, {"name=\"dirname\"", kDataHex}},
       TPostRefusal::None},
      {"no menu", {{file, "x"}, {"name=\"dirname\"", kDataHex}}, TPostRefusal::None},
      {"unknown folder",
       {{"name=\"menu\"", "updimg"}, {file, "x"}, {"name=\"dirname\"", HexEncode("Nope")}},
       TPostRefusal::NoFolder},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const TPosted posted = Post(Multipart(row.parts));
    EXPECT_EQ(posted.result, "");
    EXPECT_EQ(posted.outcome.Refusal, row.refusal);
    EXPECT_FALSE(posted.outcome.Change);
    EXPECT_TRUE(Saved().empty());
  }
}

TEST_F(PostBodyTest, NoFileChosenGivesFieldsOnly) {
  const std::string body = Multipart({{"name=\"menu\"", "updimg"},
                                      {"name=\"ifile\"; filename=\"\"", ""},
                                      {"name=\"dirname\"", kDataHex}});
  EXPECT_EQ(Parse(body), "&menu=updimg&dirname=" + kDataHex);
  EXPECT_TRUE(Saved().empty());
}

TEST_F(PostBodyTest, CopyLimitOnNamesAndFileNames) {
  const std::string longName(5000, 'n'), justName(4999, 'n');
  const std::string body =
      Multipart({{"name=\"menu\"", "updimg"},
                 {"name=\"" + longName + "\"", "dropped"},
                 {"name=\"" + justName + "\"", "kept"},
                 {"name=\"ifile\"; filename=\"" + std::string(4996, 'f') + ".png\"", "long"},
                 {"name=\"ifile\"; filename=\"" + std::string(4995, 'f') + ".gif\"", "fits"},
                 {"name=\"dirname\"", kDataHex}});
  const std::string result = Parse(body);
  EXPECT_EQ(result.find("dropped"), std::string::npos);
  EXPECT_NE(result.find("&" + justName + "=kept"), std::string::npos);
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 1u);
  ExpectUploadName(saved[0], ".gif");
  EXPECT_EQ(SavedBytes(saved[0]), "fits");
}

TEST_F(PostBodyTest, BoundaryOf5000BytesIsRefused) {
  const std::string body = Multipart({{"name=\"menu\"", "updimg"},
                                      {"name=\"ifile\"; filename=\"a.png\"", "x"},
                                      {"name=\"dirname\"", kDataHex}},
                                     std::string(4998, 'b'));
  EXPECT_EQ(Parse(body), "");
  EXPECT_TRUE(Saved().empty());
  EXPECT_FALSE(vmtest::FileExists(program_ + "pastdata.txt")) << "a body that saved nothing";
}

TEST_F(PostBodyTest, TruncatedBodiesSaveWholeFilesOrNothing) {
  // Cut at every offset: nothing crashes, and whatever is saved is a complete file.
  const std::string body = Fixture("curl_upload_two_files.bin");
  for (size_t cut = 1; cut < body.size(); ++cut) {
    TTempFolder temp;
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"Data1;;" + temp.Path()});
    Parse(body.substr(0, cut));
    for (const std::string& name : temp.List()) {
      const std::string bytes = ReadFileBytes(temp.Path() + name);
      EXPECT_TRUE(bytes == "first line\r\nsecond line\r\n" ||
                  bytes == "menu=newtext inside a file\n")
          << "cut " << cut << ": " << name;
    }
  }
}

TEST_F(PostBodyTest, NewTextCases) {
  struct Row {
    const char* label;
    std::string body;
    std::string file;  // "" when nothing may be written
    std::string content;
    TPostRefusal refusal = TPostRefusal::None;
  };
  const std::string dir = "&dirname=" + kDataHex;
  const std::vector<Row> rows = {
      {"plain", "menu=newtext" + dir + "&fname=a.txt&tbody=line1%0D%0Aline2", "a.txt",
       "line1\r\nline2"},
      {"plus and percent", "menu=newtext" + dir + "&fname=b.txt&tbody=1+%2B+1%3D2%25", "b.txt",
       "1 + 1=2%"},
      {"marker in capitals", "MENU=NEWTEXT" + dir + "&fname=c.txt&tbody=C", "c.txt", "C"},
      {"no text", "menu=newtext" + dir + "&fname=d.txt", "d.txt", ""},
      {"empty name", "menu=newtext" + dir + "&fname=&tbody=x", "", "", TPostRefusal::BadName},
      {"no name", "menu=newtext" + dir + "&tbody=x", "", "", TPostRefusal::BadName},
      {"dot", "menu=newtext" + dir + "&fname=.&tbody=x", "", "", TPostRefusal::BadName},
      {"dot dot", "menu=newtext" + dir + "&fname=..&tbody=x", "", "", TPostRefusal::BadName},
      // Regression: a name starting with "." made a settings file (".bashrc" in a home share).
      {"leading dot", "menu=newtext" + dir + "&fname=.bashrc&tbody=x", "", "",
       TPostRefusal::BadName},
      {"separator", "menu=newtext" + dir + "&fname=..%2Fescape.txt&tbody=x", "", "",
       TPostRefusal::BadName},
      {"line break", "menu=newtext" + dir + "&fname=a%0Ab.txt&tbody=x", "", "",
       TPostRefusal::BadName},
      {"zero byte", "menu=newtext" + dir + "&fname=a.txt%00.sh&tbody=x", "", "",
       TPostRefusal::BadName},
      {"tab", "menu=newtext" + dir + "&fname=a%09b&tbody=x", "", "", TPostRefusal::BadName},
      {"delete", "menu=newtext" + dir + "&fname=a%7Fb&tbody=x", "", "", TPostRefusal::BadName},
      {"right-to-left override", "menu=newtext&_charset_=UTF-8" + dir + "&fname=a%E2%80%AEtxt.exe",
       "", "", TPostRefusal::BadName},
      {"longer than the file system takes",
       "menu=newtext" + dir + "&fname=" + std::string(300, 'n') + "&tbody=x", "", "",
       TPostRefusal::BadName},
      {"unknown folder", "menu=newtext&dirname=" + HexEncode("Nope") + "&fname=e.txt&tbody=x", "",
       "", TPostRefusal::NoFolder},
      {"no folder", "menu=newtext&fname=e.txt&tbody=x", "", "", TPostRefusal::NoFolder},
      {"a shared folder deleted meanwhile",
       "menu=newtext&dirname=" + HexEncode("Gone") + "&fname=e.txt&tbody=x", "", "",
       TPostRefusal::NoFolder},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TTempFolder temp;
    state_.SharedFolders = std::make_shared<const TSharedFolderList>(TSharedFolderList{
        "Data1;;" + temp.MakeSubfolder("share"), "Gone;;" + temp.Path() + "gone"});
    const TPosted posted = Post(row.body);
    EXPECT_EQ(posted.outcome.Refusal, row.refusal);
    if (row.file.empty()) {
      EXPECT_EQ(posted.result, "");
      EXPECT_FALSE(posted.outcome.Change);
      EXPECT_TRUE(temp.List("share").empty());
      EXPECT_EQ(temp.List(), std::vector<std::string>{"share"});
    } else {
      EXPECT_EQ(posted.result, PercentDecoded(row.body));
      EXPECT_EQ(temp.List("share"), std::vector<std::string>{row.file});
      EXPECT_EQ(ReadFileBytes(temp.Path() + "share/" + row.file), row.content);
      ASSERT_TRUE(posted.outcome.Change);
      EXPECT_EQ(posted.outcome.Change->FileName, row.file);
      EXPECT_EQ(posted.outcome.Change->FolderName, "Data1");
    }
  }
}

TEST_F(PostBodyTest, NewTextNeverReplacesAnEntry) {
  // Regression: posting the name of an existing file replaced its bytes and reset its mode.
  vmtest::WriteFileBytes(share_ + "a.txt", "an older and longer text");
  chmod((share_ + "a.txt").c_str(), 0600);
  mkdir((share_ + "folder.txt").c_str(), 0755);
  symlink((temp_.Path() + "elsewhere.txt").c_str(), (share_ + "link.txt").c_str());
  struct Row {
    const char* name;
    const char* saved;
  };
  const std::vector<Row> rows = {
      {"a.txt", "a (2).txt"},
      {"a.txt", "a (3).txt"},
      {"a (2).txt", "a (2) (2).txt"},
      {"notes", "notes"},
      {"notes", "notes (2)"},
      {"archive.tar.gz", "archive.tar.gz"},
      {"archive.tar.gz", "archive.tar (2).gz"},
      {"folder.txt", "folder (2).txt"},
      {"link.txt", "link (2).txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TPosted posted =
        Post("menu=newtext&dirname=" + kDataHex + "&fname=" + row.name + "&tbody=new");
    EXPECT_EQ(posted.result, PercentDecoded("menu=newtext&dirname=" + kDataHex +
                                            "&fname=" + row.name + "&tbody=new"));
    ASSERT_TRUE(posted.outcome.Change);
    EXPECT_EQ(posted.outcome.Change->FileName, row.saved);
    EXPECT_EQ(SavedBytes(row.saved), "new");
  }
  EXPECT_EQ(SavedBytes("a.txt"), "an older and longer text");
  EXPECT_EQ(vmtest::PermissionsOf(share_ + "a.txt"), 0600u);
  EXPECT_FALSE(vmtest::FileExists(temp_.Path() + "elsewhere.txt"));
  EXPECT_EQ(Saved().size(), 3 + rows.size());
}

// A drop box answered "d (2).txt" for a new text "d.txt", telling a client that cannot list the
// folder that "d.txt" was there.
TEST_F(PostBodyTest, ADropBoxNeverTellsWhichNamesAreTaken) {
  state_.Settings.ShareModes = {{"Data1", TShareMode::UploadOnly}};
  state_.Settings.KeepUploadNames = true;
  vmtest::WriteFileBytes(share_ + "d.txt", "old");
  vmtest::WriteFileBytes(share_ + "p.png", "old");
  const auto upload = [](const std::string& name) {
    return Multipart({{"name=\"menu\"", "updimg"},
                      {"name=\"ifile\"; filename=\"" + name + "\"", "new"},
                      {"name=\"dirname\"", kDataHex}});
  };
  for (const std::string name : {"d.txt", "e.txt"}) {
    const TPosted posted =
        Post("menu=newtext&dirname=" + kDataHex + "&fname=" + name + "&tbody=new");
    EXPECT_EQ(posted.outcome.SavedNames, std::vector<std::string>{name});
  }
  for (const std::string name : {"p.png", "q.png"}) {
    EXPECT_EQ(Post(upload(name)).outcome.SavedNames, std::vector<std::string>{name});
  }
  // A taken name got ten letters or digits, no number a client could count up to.
  const std::vector<std::string> saved = Saved();
  ASSERT_EQ(saved.size(), 6u);
  EXPECT_EQ(saved[0].substr(0, 3) + saved[0].substr(13), "d ().txt");
  EXPECT_EQ(saved[3].substr(0, 3) + saved[3].substr(13), "p ().png");
  for (const std::string& name : {saved[0], saved[3], std::string("e.txt"), std::string("q.png")}) {
    EXPECT_EQ(SavedBytes(name), "new");
  }
  EXPECT_EQ(SavedBytes("d.txt") + SavedBytes("p.png"), "oldold");
}

// Every byte but letters and digits as "%XX", as a browser sends a form field.
std::string FormEncoded(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte)) {
      out.push_back(c);
    } else {
      out += {'%', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    }
  }
  return out;
}

TEST_F(PostBodyTest, NewTextSentAsUtf8IsSavedAsTyped) {
  // Regression: text that Shift_JIS cannot hold was saved as the browser's "&#220;" codes.
  struct Row {
    const char* label;
    std::string charset;
    std::string name, text;  // as typed, UTF-8 (Shift_JIS when no charset is sent)
    std::string diskName;    // UTF-8, as on disk
    std::string bytes;       // in the file
    std::string systemName;  // in the notice
  };
  const std::vector<Row> rows = {
      {"Shift_JIS holds both", "UTF-8", "メモ.txt", "一行目 a&b\r\n表", "メモ.txt",
       Sjis("一行目 a&b\r\n表"), Sjis("メモ.txt")},
      {"text Shift_JIS cannot hold", "UTF-8", "t.txt", "Ü © — 😀 表", "t.txt", "Ü © — 😀 表",
       "t.txt"},
      {"name Shift_JIS cannot hold", "UTF-8", "Ü.txt", "x", "Ü.txt", "x", "Ü.txt"},
      {"charset in lower case", "utf-8", "é.txt", "é", "é.txt", "é", "é.txt"},
      {"no charset: Shift_JIS as before", "", Sjis("表.txt"), Sjis("表"), "表.txt", Sjis("表"),
       Sjis("表.txt")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TTempFolder temp;
    state_.SharedFolders =
        std::make_shared<const TSharedFolderList>(TSharedFolderList{"Data1;;" + temp.Path()});
    const std::string charset = row.charset.empty() ? "" : "&_charset_=" + row.charset;
    const std::string body = "menu=newtext&dirname=" + kDataHex + charset +
                             "&fname=" + FormEncoded(row.name) + "&tbody=" + FormEncoded(row.text);
    const TPosted posted = Post(body);
    EXPECT_EQ(posted.result, PercentDecoded(body));
    EXPECT_EQ(temp.List(), std::vector<std::string>{row.diskName});
    EXPECT_EQ(ReadFileBytes(temp.Path() + row.diskName), row.bytes);
    ASSERT_TRUE(posted.outcome.Change);
    EXPECT_EQ(posted.outcome.Change->FileName, row.systemName);
  }
}

TEST_F(PostBodyTest, UploadsAndTextsGoToTheFolderBeingViewed) {
  temp_.MakeSubfolder("share/sub/deeper");
  temp_.MakeSubfolder("share/.hidden");
  symlink(temp_.MakeSubfolder("elsewhere").c_str(), (share_ + "away").c_str());
  vmtest::WriteFileBytes(share_ + "file.txt", "f");
  struct Row {
    const char* label;
    std::string dirpath;  // system path; "" sends no field
    std::string folder;   // where the file lands, under the share; "-" when refused
  };
  const std::vector<Row> rows = {
      {"no field: the share", "", ""},
      {"the share itself", share_, ""},
      {"a sub-folder", share_ + "sub/", "sub/"},
      {"deeper", share_ + "sub/deeper/", "sub/deeper/"},
      {"back up inside", share_ + "sub/deeper/../", "sub/"},
      {"another share", temp_.Path() + "other/", "-"},
      {"outside", temp_.Path(), "-"},
      {"through a link outside", share_ + "away/", "-"},
      {"a hidden folder", share_ + ".hidden/", "-"},
      {"missing", share_ + "gone/", "-"},
      {"a file", share_ + "file.txt", "-"},
  };
  int number = 0;
  for (const Row& row : rows) {
    for (const bool upload : {false, true}) {
      SCOPED_TRACE(std::string(row.label) + (upload ? ", upload" : ", new text"));
      const std::string name = "t" + std::to_string(++number) + ".txt";
      std::string body;
      if (upload) {
        std::vector<std::pair<std::string, std::string>> parts = {
            {"name=\"menu\"", "updimg"},
            {"name=\"ifile\"; filename=\"" + name + "\"", name},
            {"name=\"dirname\"", kDataHex}};
        if (!row.dirpath.empty()) parts.push_back({"name=\"dirpath\"", HexEncode(row.dirpath)});
        body = Multipart(parts);
      } else {
        body = "menu=newtext&dirname=" + kDataHex + "&fname=" + name + "&tbody=" + name +
               (row.dirpath.empty() ? "" : "&dirpath=" + HexEncode(row.dirpath));
      }
      const auto before = Tree(temp_.Path());
      const TPosted posted = Post(body);
      if (row.folder == "-") {
        EXPECT_EQ(posted.result, "");
        EXPECT_EQ(posted.outcome.Refusal, TPostRefusal::NoFolder);
        EXPECT_EQ(Tree(temp_.Path()), before);
        continue;
      }
      ASSERT_TRUE(posted.outcome.Change);
      EXPECT_EQ(posted.outcome.Change->FolderName, "Data1");
      const auto after = Tree(temp_.Path());
      ASSERT_EQ(after.size(), before.size() + 1);
      std::string added;
      for (const std::string& path : after) {
        if (std::find(before.begin(), before.end(), path) == before.end()) added = path;
      }
      EXPECT_EQ(added.substr(0, added.rfind('/') + 1), "share/" + row.folder);
      EXPECT_EQ(ReadFileBytes(temp_.Path() + added), name);
    }
  }
  // With dot files published, a hidden folder takes files like any other.
  state_.Settings.PublishDotFiles = true;
  Post("menu=newtext&dirname=" + kDataHex +
       "&fname=h.txt&tbody=h&dirpath=" + HexEncode(share_ + ".hidden/"));
  EXPECT_EQ(ReadFileBytes(share_ + ".hidden/h.txt"), "h");
}

using vmtest::TFileSizeLimit;

TEST_F(PostBodyTest, WhatCannotBeWrittenLeavesNothingAndSaysSo) {
  const std::string big(64 * 1024, 'x');
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"new text", "menu=newtext&dirname=" + kDataHex + "&fname=a.txt&tbody=" + big},
      {"upload", Multipart({{"name=\"menu\"", "updimg"},
                            {"name=\"ifile\"; filename=\"a.bin\"", big},
                            {"name=\"dirname\"", kDataHex}})},
  };
  for (const auto& [label, body] : rows) {
    SCOPED_TRACE(label);
    // The body lies in a file that becomes "pastdata.txt" by a link: nothing to write there.
    TSpillStream stream(1024, program_);
    Fill(stream, body);
    TPostOutcome outcome;
    {
      const TFileSizeLimit full(4096);
      ParsePostBody(state_, stream, outcome);
    }
    EXPECT_EQ(outcome.Refusal, TPostRefusal::CannotWrite);
    EXPECT_FALSE(outcome.Change);
    EXPECT_EQ(temp_.List("share"), std::vector<std::string>{});
    EXPECT_EQ(temp_.List("program"), std::vector<std::string>{}) << "no pastdata.txt, no temporary";
  }
}

TEST_F(PostBodyTest, SavedFilesAppearOnlyWhole) {
  // A file that showed under its name while being written would be listed, and could be
  // downloaded, half-written. A watcher looks for the name all the while.
  constexpr size_t kSize = 8 << 20;
  std::string content = RandomBytes(kSize, 3);
  for (char& c : content) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"new text",
       "menu=newtext&dirname=" + kDataHex + "&fname=big.txt&tbody=" + FormEncoded(content)},
      {"upload", Multipart({{"name=\"menu\"", "updimg"},
                            {"name=\"ifile\"; filename=\"big.txt\"", content},
                            {"name=\"dirname\"", kDataHex}})},
  };
  for (const auto& [label, body] : rows) {
    SCOPED_TRACE(label);
    std::atomic<bool> done{false};
    int looks = 0, seenPartial = 0;
    std::thread watcher([&] {
      // Bounded: the parse takes well under this many looks.
      for (; !done && looks < 1000000; ++looks) {
        for (const std::string& name : temp_.List("share")) {
          struct stat info {};
          if (stat((share_ + name).c_str(), &info) == 0 && info.st_size != kSize) ++seenPartial;
        }
      }
    });
    auto stream = CreatePostStream(program_);
    Fill(*stream, body);
    TPostOutcome outcome;
    ParsePostBody(state_, *stream, outcome);
    done = true;
    watcher.join();
    std::printf("%s: %d looks while saving, %d at a part of the file\n", label, looks, seenPartial);
    EXPECT_EQ(seenPartial, 0);
    ASSERT_EQ(Saved().size(), 1u);
    EXPECT_TRUE(SavedBytes(Saved()[0]) == content);
    ForgetSaved();
  }
}

// CPU time of the calling thread, in milliseconds: what a parse costs, whatever else runs.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// unit repeated up to size bytes.
std::string Repeated(const std::string& unit, size_t size) {
  std::string bytes;
  bytes.reserve(size + unit.size());
  while (bytes.size() < size) bytes += unit;
  bytes.resize(size);
  return bytes;
}

TEST_F(PostBodyTest, HostileBodiesCostLinearTime) {
  // Regression: a boundary of 4,999 copies of one letter made the scan cost the body's size
  // times the boundary's length (512 KiB took 3.75 s of CPU). Every search of the two passes
  // meets such a body here, after fields that let the second pass run.
  constexpr size_t kSize = 1 << 20;
  constexpr double kBoundMs = 50;
  const std::string letters(4999, 'a');
  const std::string nearLetters = std::string(4998, 'a') + "b";
  const std::string overlapping = Repeated("-a", 4998) + "b";
  auto gated = [](const std::string& boundary, const std::string& tail) {
    const std::string head = "\r\nContent-Disposition: form-data; name=\"";
    return Repeated(boundary + head + "menu\"\r\n\r\nupdimg\r\n" + boundary + head +
                        "dirname\"\r\n\r\n" + kDataHex + "\r\n" + boundary + "\r\n" + tail,
                    kSize);
  };
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"a value of almost-boundaries",
       gated(letters, " name=\"f\"\r\n\r\n" + Repeated(nearLetters, kSize))},
      {"a boundary that overlaps itself",
       gated(overlapping, " name=\"f\"\r\n\r\n" + Repeated("-a", kSize))},
      {"a name of almost-boundaries", gated(letters, " name=\"" + Repeated(nearLetters, kSize))},
      {"a file name of almost-boundaries",
       gated(letters, " name=\"f\"; filename=\"" + Repeated(nearLetters, kSize))},
      {"many empty file names", gated("--b", Repeated(" filename=\"\"", kSize))},
      {"many parts without data", gated("--b", Repeated(" filename=\"a\"\r\n--b", kSize))},
      {"the marker everywhere", Repeated("menu=NEWTEXT", kSize)},
  };
  for (const auto& [label, body] : rows) {
    SCOPED_TRACE(label);
    TMemoryStream stream(body);
    TPostOutcome outcome;
    const double start = ThreadCpuMs();
    ParsePostBody(state_, stream, outcome);
    const double spent = ThreadCpuMs() - start;
    std::printf("%-34s 1 MiB in %6.1f ms of CPU\n", label, spent);
    if (!kSanitizedBuild) {
      EXPECT_LT(spent, kBoundMs);
    }
    ForgetSaved();
  }
}

// The resident size of this process now and at its peak since the peak was last reset, in
// bytes; nullopt where the system does not tell or cannot reset the peak.
std::optional<std::pair<size_t, size_t>> ResidentNowAndPeak() {
  const long now = vmtest::ResidentKiB(), peak = vmtest::StatusKiB("VmHWM");
  if (now <= 0 || peak <= 0) return std::nullopt;
  return std::make_pair(static_cast<size_t>(now) * 1024, static_cast<size_t>(peak) * 1024);
}

bool ResetResidentPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";  // resets the peak resident size
  clear.flush();
  return clear.good();
}

TEST_F(PostBodyTest, ManyFieldsCostAboutOneCopyOfThem) {
  // Regression: a 64 MiB body of small fields raised the peak memory from 30 to 152 MB (the
  // body's pages stayed mapped behind the scan, and the parameter text grew by doubling).
  if (kSanitizedBuild) GTEST_SKIP() << "memory is not measured in sanitizer builds";
  constexpr size_t kSize = 64 << 20;
  const std::string value(24, 'v');
  const std::string part =
      "--b\r\nContent-Disposition: form-data; name=\"field\"\r\n\r\n" + value + "\r\n";
  const size_t parts = kSize / part.size();
  TSpillStream stream(kSpillMemoryLimit, program_);
  const std::string gate =
      Multipart({{"name=\"menu\"", "updimg"}, {"name=\"dirname\"", kDataHex}}, "b");
  stream.Write(gate.data(), gate.size() - 4);  // without the closing "--" and line end
  stream.Write("\r\n", 2);
  std::string block;
  for (size_t k = 0; k < 1024; ++k) block += part;
  for (size_t k = 0; k < parts / 1024; ++k) stream.Write(block.data(), block.size());
  stream.Write("--b--\r\n", 7);
  const size_t fields = parts / 1024 * 1024 * (5 + value.size());  // names and values
  if (!ResetResidentPeak()) GTEST_SKIP() << "the peak resident size cannot be reset here";
  const auto before = ResidentNowAndPeak();
  ASSERT_TRUE(before);
  TPostOutcome outcome;
  const std::string result = ParsePostBody(state_, stream, outcome);
  const auto after = ResidentNowAndPeak();
  ASSERT_TRUE(after);
  const double extra = static_cast<double>(after->second - before->first);
  std::printf("%zu MiB body, %zu MiB of fields: %.1f MiB more at the peak (%.2f of the fields)\n",
              kSize >> 20, fields >> 20, extra / (1 << 20), extra / static_cast<double>(fields));
  EXPECT_EQ(result.size(), 31 + fields + 2 * (parts / 1024 * 1024));
  EXPECT_LT(extra, 1.5 * static_cast<double>(fields) + (8 << 20));
}

TEST_F(PostBodyTest, OtherBodiesComeBackUnchanged) {
  EXPECT_EQ(Parse("x=1&y=2"), "x=1&y=2");
  EXPECT_EQ(Parse("\r\nx=1"), "\r\nx=1");
  EXPECT_EQ(Parse(""), "");
  EXPECT_TRUE(Saved().empty());
}

TEST_F(PostBodyTest, NothingHappensWhenPastDataCannotBeWritten) {
  state_.ProgramFolder = temp_.Path() + "missing/";
  EXPECT_EQ(Parse(Fixture("curl_upload_one_file.bin")), "");
  EXPECT_EQ(Parse("menu=newtext&dirname=" + kDataHex + "&fname=a.txt&tbody=x"), "");
  EXPECT_EQ(Parse("x=1"), "x=1");  // saves nothing, so keeps nothing either
  EXPECT_TRUE(Saved().empty());
}

TEST_F(PostBodyTest, UploadsInTheSameMillisecondAllSurvive) {
  // Regression: two uploads stamped alike once replaced one another.
  constexpr int kThreads = 2, kEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int n = 0; n < kEach; ++n) {
        TMemoryStream stream(
            Multipart({{"name=\"menu\"", "updimg"},
                       {"name=\"ifile\"; filename=\"p.png\"", "t" + std::to_string(t)},
                       {"name=\"dirname\"", kDataHex}}));
        ParsePostBody(state_, stream);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), static_cast<size_t>(kThreads * kEach));
  int perThread[kThreads] = {};
  for (const std::string& name : saved) {
    ExpectUploadName(name, ".png");
    const std::string bytes = SavedBytes(name);
    if (bytes == "t0") ++perThread[0];
    if (bytes == "t1") ++perThread[1];
  }
  EXPECT_EQ(perThread[0], kEach);
  EXPECT_EQ(perThread[1], kEach);
  // The copy of the latest body is whole: one of the bodies, never a mix.
  const std::string past = ReadFileBytes(program_ + "pastdata.txt");
  EXPECT_TRUE(past.find("\r\n\r\nt0\r\n") != std::string::npos ||
              past.find("\r\n\r\nt1\r\n") != std::string::npos);
}

TEST_F(PostBodyTest, LargeUploadThroughSpillStream) {
  constexpr size_t kSize = 64u << 20;
  std::string content = RandomBytes(kSize, 12345);
  // Lines that look like a delimiter but are not the body's.
  content.replace(1000, 17, "\r\n------b0undar\r\n");
  const std::string boundary = "----b0undary";
  std::string head =
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"menu\"\r\n\r\nupdimg\r\n--" +
      boundary + "\r\nContent-Disposition: form-data; name=\"ifile\"; filename=\"big.iso\"\r\n\r\n";
  std::string tail = "\r\n--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"dirname\"\r\n\r\n" + kDataHex +
                     "\r\n--" + boundary + "--\r\n";
  auto stream = CreatePostStream();
  stream->Write(head.data(), head.size());
  for (size_t k = 0; k < kSize; k += 1 << 16) stream->Write(content.data() + k, 1 << 16);
  stream->Write(tail.data(), tail.size());
  ASSERT_TRUE(dynamic_cast<TSpillStream&>(*stream).Spilled());
  const std::string result = ParsePostBody(state_, *stream);
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 1u);
  ExpectUploadName(saved[0], ".iso");
  const std::string bytes = SavedBytes(saved[0]);
  ASSERT_EQ(bytes.size(), content.size());
  EXPECT_TRUE(bytes == content);
  EXPECT_EQ(result, "&menu=updimg&dirname=" + kDataHex + "&ifile=" + HexEncode(saved[0]));
  struct stat info {};
  ASSERT_EQ(stat((program_ + "pastdata.txt").c_str(), &info), 0);
  EXPECT_EQ(static_cast<size_t>(info.st_size), head.size() + kSize + tail.size());
}

TEST_F(PostBodyTest, LargePartsAreSavedExactlyWhereverTheirDelimiterFalls) {
  // Large parts are searched in windows (of some MiB; here of 4 KiB): the delimiter after a
  // file, or a line that only looks like one, may start just before a window's end, straddle it
  // or follow it.
  constexpr size_t kKiB = 1 << 10;
  const TBodyScanSizes sizes{4 * kKiB, kKiB};
  struct TCase {
    std::string label;
    std::vector<size_t> fileSizes;  // one file part each, between "menu" and "dirname"
    size_t fakeAt;                  // where a line that is almost the delimiter goes
  };
  std::vector<TCase> cases = {
      {"8 KiB and 5", {8 * kKiB + 5}, 4 * kKiB - 3},
      {"two files of some KiB", {3 * kKiB + 7, 5 * kKiB + 1}, 2 * kKiB},
      {"small file after a large one", {6 * kKiB, 10}, 5},
  };
  // Files just under a window: with the part's header lines the delimiter after the data starts
  // a few dozen bytes later, so one of these sizes puts it across the window's end, others just
  // before or after it, and the line that only looks like one likewise.
  for (size_t less = 20; less <= 80; less += 4) {
    cases.push_back({"4 KiB less " + std::to_string(less), {4 * kKiB - less}, 4 * kKiB - 2 * less});
  }
  const std::string boundary = "----b0undary";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::pair<std::string, std::string>> parts = {{"name=\"menu\"", "updimg"}};
    std::vector<std::string> contents;
    for (size_t k = 0; k < c.fileSizes.size(); ++k) {
      std::string content = RandomBytes(c.fileSizes[k], k + 1);
      const std::string fake = "\r\n--" + boundary.substr(0, boundary.size() - 1) + "\r\n";
      if (c.fakeAt + fake.size() <= content.size()) content.replace(c.fakeAt, fake.size(), fake);
      contents.push_back(content);
      parts.push_back({"name=\"f" + std::to_string(k) + "\"; filename=\"x.bin\"", content});
    }
    parts.push_back({"name=\"dirname\"", kDataHex});
    const std::string body = Multipart(parts, boundary);
    // In a file, so that the windows passed are really handed back and read again.
    TSpillStream stream(kKiB, program_);
    Fill(stream, body);
    ASSERT_TRUE(stream.Spilled());
    TPostOutcome outcome;
    const std::string result = ParsePostBody(state_, stream, outcome, sizes);
    const auto saved = Saved();
    ASSERT_EQ(saved.size(), contents.size());
    std::string expected = "&menu=updimg&dirname=" + kDataHex;
    for (size_t k = 0; k < saved.size(); ++k) {
      EXPECT_TRUE(SavedBytes(saved[k]) == contents[k]) << saved[k];
      expected += "&f" + std::to_string(k) + "=" + HexEncode(saved[k]);
    }
    EXPECT_EQ(result, expected);
    ForgetSaved();
  }
}

TEST_F(PostBodyTest, PastDataIsTheWholeBodyWhetherLinkedOrCopied) {
  // A folder on another file system than the program folder's, when this machine has one.
  const vmtest::TOtherDiskFolder otherDisk;
  const std::string& other = otherDisk.Path();
  const std::string body =
      Multipart({{"name=\"menu\"", "updimg"},
                 {"name=\"ifile\"; filename=\"a.bin\"", RandomBytes(6 << 20, 9)},
                 {"name=\"dirname\"", kDataHex}});
  struct TCase {
    const char* label;
    std::string body;
    std::function<std::unique_ptr<TStream>()> make;
    bool tmpdirOnOtherDisk;
  };
  const std::vector<TCase> cases = {
      {"in memory (copied)", "menu=newtext&dirname=" + kDataHex + "&fname=p.txt&tbody=x",
       [] { return std::make_unique<TMemoryStream>(); }, false},
      {"in a file of the program folder's disk (linked)", body,
       [this] { return CreatePostStream(program_); }, false},
      {"no nameless file in the program folder: in the temporary folder", body + "2",
       [this] { return CreatePostStream(temp_.Path() + "missing/"); }, false},
      {"in a file of another disk (copied)", body + "3",
       [this] { return CreatePostStream(temp_.Path() + "missing/"); }, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<vmtest::TScopedEnv> tmpdir;
    if (c.tmpdirOnOtherDisk) {
      if (other.empty()) continue;  // no second file system on this machine
      tmpdir.emplace("TMPDIR", other);
    }
    {
      auto stream = c.make();
      Fill(*stream, c.body);
      ParsePostBody(state_, *stream);
      // Whole, the owner's alone, and no temporary left beside it.
      EXPECT_TRUE(ReadFileBytes(program_ + "pastdata.txt") == c.body);
      EXPECT_EQ(vmtest::PermissionsOf(program_ + "pastdata.txt"), 0600u);
      EXPECT_EQ(temp_.List("program"), std::vector<std::string>{"pastdata.txt"});
    }
    // The copy outlives the stream it came from.
    EXPECT_TRUE(ReadFileBytes(program_ + "pastdata.txt") == c.body);
  }
  ForgetSaved();
}

TEST_F(PostBodyTest, ConcurrentLargePostsLeaveOneWholePastData) {
  constexpr int kThreads = 4;
  std::vector<std::string> bodies;
  for (int t = 0; t < kThreads; ++t) {
    bodies.push_back(
        Multipart({{"name=\"menu\"", "updimg"},
                   {"name=\"ifile\"; filename=\"a.bin\"", RandomBytes((5 << 20) + t, t)},
                   {"name=\"dirname\"", kDataHex}}));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &bodies] {
      auto stream = CreatePostStream(program_);
      Fill(*stream, bodies[t]);
      ParsePostBody(state_, *stream);
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string past = ReadFileBytes(program_ + "pastdata.txt");
  int matches = 0;
  for (const std::string& body : bodies) matches += past == body ? 1 : 0;
  EXPECT_EQ(matches, 1);
  EXPECT_EQ(temp_.List("program"), std::vector<std::string>{"pastdata.txt"});
  EXPECT_EQ(Saved().size(), static_cast<size_t>(kThreads));
}

}  // namespace
}  // namespace vm
