// Hostile paths through HTTP against the real server and dispatcher: nothing outside the
// shared folders is read or written, whatever the path, its encoding, or the links on the way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/sjis.h"
#include "platform/text_helpers.h"
#include "support/multipart.h"
#include "support/served_core.h"

namespace {

namespace fs = std::filesystem;
using vm::HexDecode;
using vm::HexEncode;
using vm::Sjis;
using vmtest::ReadFileBytes;
using vmtest::THttpAnswer;
using vmtest::TServedCore;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

// The content of every file outside the shares: it must never appear in an answer.
constexpr char kSecret[] = "TOP-SECRET-5f2c9e1a";
constexpr char kWritten[] = "WRITTEN-BY-REQUEST";
constexpr char kBoundary[] = "----VelmarindPathSafety";

// "%" and two hex digits for every byte: decoded once by the server, it is text again.
std::string PercentEncodeEvery(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) out += {'%', kDigits[c >> 4], kDigits[c & 0x0F]};
  return out;
}

// Every file below root (links not followed) with its bytes: what "nothing written" compares.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string();
    if (entry.is_symlink()) {
      files[path] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      files[path] = ReadFileBytes(path);
    } else {
      files[path] = "(folder)";
    }
  }
  return files;
}

// Layout under a temporary root:
//   P/            the one share: a.txt, sub/, file-link -> ../outside/secret.txt,
//                 folder-link -> ../outside
//   P2/           not shared (a share "P" must not admit "P2" by its prefix)
//   outside/      not shared: secret.txt, a Japanese-named file, deeper/secret.txt
class PathSafety : public ::testing::Test {
 protected:
  PathSafety()
      : root_(temp_.Path()),
        share_(temp_.MakeSubfolder("P")),
        outside_(temp_.MakeSubfolder("outside")),
        served_({"P;;" + share_}) {
    WriteFileBytes(share_ + "a.txt", "inside");
    temp_.MakeSubfolder("P/sub");
    WriteFileBytes(temp_.MakeSubfolder("P2") + "secret.txt", kSecret);
    WriteFileBytes(outside_ + "secret.txt", kSecret);
    WriteFileBytes(outside_ + "秘密.txt", kSecret);
    WriteFileBytes(temp_.MakeSubfolder("outside/deeper") + "secret.txt", kSecret);
    EXPECT_EQ(symlink((outside_ + "secret.txt").c_str(), (share_ + "file-link").c_str()), 0);
    EXPECT_EQ(symlink(outside_.c_str(), (share_ + "folder-link").c_str()), 0);
  }

  // Everything outside the share, as it stands.
  std::map<std::string, std::string> OutsideState() const {
    std::map<std::string, std::string> state;
    for (const auto& [path, bytes] : Snapshot(root_)) {
      if (path.rfind(share_, 0) != 0) state[path] = bytes;
    }
    return state;
  }

  std::string Download(const std::string& hexPath) const {
    return served_.Exchange(vmtest::Request("GET", "/velmarind/download.html?file=" + hexPath));
  }
  std::string Listing(const std::string& hexPath) const {
    return served_.Exchange(
        vmtest::Request("GET", "/velmarind/script.html?pid=m1&name=50&path=" + hexPath));
  }
  std::string Post(const std::string& document, const std::string& contentType,
                   const std::string& body) const {
    return served_.Exchange(
        vmtest::Request("POST", document, "Content-Type: " + contentType + "\r\n", body));
  }
  // The text-creation form as the page sends it (fname already URL-encoded by the caller).
  std::string NewText(const std::string& dirnameHex, const std::string& encodedName,
                      const std::string& dirpathHex = "") const {
    return Post("/velmarind/blank.html", "application/x-www-form-urlencoded",
                "menu=newtext&dirname=" + dirnameHex + "&dirpath=" + dirpathHex +
                    "&fname=" + encodedName + "&tbody=" + kWritten);
  }
  // The upload form as browsers send it: menu, the file part, dirname, dirpath.
  std::string Upload(const std::string& dirnameHex, const std::string& fileName,
                     const std::string& dirpathHex = "") const {
    const std::string body =
        vmtest::Multipart({{"name=\"menu\"", "updimg"},
                           {"name=\"ifile\"; filename=\"" + fileName + "\"", kWritten},
                           {"name=\"dirname\"", dirnameHex},
                           {"name=\"dirpath\"", dirpathHex}},
                          kBoundary);
    return Post("/velmarind/index.html", std::string("multipart/form-data; boundary=") + kBoundary,
                body);
  }

  TTempFolder temp_;  // declared before the server: removed only after it has stopped
  std::string root_, share_, outside_;
  TServedCore served_;
};

TEST_F(PathSafety, DownloadsOutsideTheShareReadNothing) {
  const std::string sjisSecret = Sjis(outside_ + "秘密.txt");
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"absolute path", HexEncode(outside_ + "secret.txt")},
      {"Shift_JIS name outside", HexEncode(sjisSecret)},
      {"share/../outside", HexEncode(share_ + "../outside/secret.txt")},
      {"share/sub/../../outside", HexEncode(share_ + "sub/../../outside/deeper/secret.txt")},
      {"share/./../outside", HexEncode(share_ + "./.././outside/secret.txt")},
      {"doubled slashes", HexEncode(share_ + "..//outside//secret.txt")},
      {"prefix-alike folder", HexEncode(root_ + "P2/secret.txt")},
      {"link to a file outside", HexEncode(share_ + "file-link")},
      {"through a folder link", HexEncode(share_ + "folder-link/secret.txt")},
      {"folder link, Shift_JIS", HexEncode(Sjis(share_ + "folder-link/秘密.txt"))},
      {"relative path", HexEncode("../outside/secret.txt")},
      {"upper-case hex", vm::UpperAscii(HexEncode(outside_ + "secret.txt"))},
      {"hex percent-encoded", PercentEncodeEvery(HexEncode(outside_ + "secret.txt"))},
      {"\"..\" percent-encoded in hex",
       HexEncode(share_) + "%32%65%32%65" + HexEncode("/outside/secret.txt")},
      {"cut by a zero byte",
       HexEncode(share_ + "a.txt") + "00" + HexEncode("/../../outside/secret.txt")},
  };
  for (const auto& [label, hex] : rows) {
    SCOPED_TRACE(label);
    const std::string answer = Download(hex);
    EXPECT_EQ(answer.find(kSecret), std::string::npos) << answer;
    EXPECT_NE(answer.find("HTTP/1.1 "), std::string::npos);  // answered, not dropped
  }
  // The same road to a file inside works: the refusals above are not a broken request.
  EXPECT_NE(Download(HexEncode(share_ + "sub/../a.txt")).find("\r\n\r\ninside"), std::string::npos);
}

TEST_F(PathSafety, DocumentPathsNeverReachAFile) {
  // The document only picks the kind of answer; a path in it is never opened.
  const std::string fromRoot = outside_.substr(1) + "secret.txt";  // without the leading "/"
  for (const std::string& target :
       {"/../../../../" + fromRoot, "/velmarind/%2e%2e/%2e%2e/%2e%2e/%2e%2e/" + fromRoot,
        "/%2E%2E%2F%2E%2E%2F%2E%2E%2F%2E%2E%2F" + fromRoot, "/" + outside_ + "secret.txt",
        "//" + fromRoot, "http://127.0.0.1" + outside_ + "secret.txt",
        "/velmarind/../../../../../" + fromRoot + "/vcom.css",
        "/velmarind/%2e%2e%2f%2e%2e%2fdownload.html?file=" + HexEncode(outside_ + "secret.txt")}) {
    SCOPED_TRACE(target);
    const THttpAnswer answer = served_.Get(target);
    EXPECT_EQ(answer.body.find(kSecret), std::string::npos) << answer.body;
    EXPECT_NE(answer.statusLine, "");
  }
}

TEST_F(PathSafety, ListingsOutsideTheShareShowNothing) {
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"outside folder", HexEncode(outside_)},
      {"parent of the share", HexEncode(root_)},
      {"file-system root", HexEncode("/")},
      {"share/..", HexEncode(share_ + "..")},
      {"share/../", HexEncode(share_ + "../")},
      {"share/../outside/", HexEncode(share_ + "../outside/")},
      {"share/sub/../../outside/", HexEncode(share_ + "sub/../../outside/")},
      {"prefix-alike folder", HexEncode(root_ + "P2/")},
      {"through a folder link", HexEncode(share_ + "folder-link/")},
      {"folder link, deeper", HexEncode(share_ + "folder-link/deeper/")},
      {"relative", HexEncode("../")},
      {"Shift_JIS hex of the outside folder", HexEncode(Sjis(outside_))},
      {"no path", ""},
  };
  for (const auto& [label, hex] : rows) {
    SCOPED_TRACE(label);
    const THttpAnswer answer = vmtest::SplitAnswer(Listing(hex));
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    // The header alone: no record, so no name, date or size of anything outside.
    EXPECT_EQ(answer.body, "m1;;P;;50;;" + hex + "\r\n");
  }
  // The share itself lists its own entries, and neither link that leads out of it.
  const std::string inside = vmtest::SplitAnswer(Listing(HexEncode(share_))).body;
  EXPECT_NE(inside.find("::a.txt::"), std::string::npos) << inside;
  EXPECT_NE(inside.find(";;D::sub::"), std::string::npos) << inside;
  EXPECT_EQ(inside.find("link"), std::string::npos) << inside;
}

TEST_F(PathSafety, NewTextsAndUploadsWriteNothingOutsideTheShare) {
  const auto before = OutsideState();
  const std::string share = HexEncode("P");
  const std::string absolute = outside_ + "new.txt";
  struct Row {
    const char* label;
    bool upload;  // the upload form; else the text-creation form
    std::string dirname;
    std::string name;
    std::string dirpath = "";  // hex; the folder being viewed
  };
  const std::string plain = "new.txt";
  std::vector<Row> rows = {
      {"text: ../", false, share, "..%2Foutside%2Fnew.txt"},
      {"text: %2e%2e", false, share, "%252e%252e%252foutside%252fnew.txt"},
      {"text: raw ../", false, share, "../outside/new.txt"},
      {"text: absolute", false, share, absolute},
      {"text: sub/../../", false, share, "sub%2F..%2F..%2Foutside%2Fnew.txt"},
      {"text: ..", false, share, ".."},
      {"text: .", false, share, "."},
      {"text: through a folder link", false, share, "folder-link%2Fnew.txt"},
      {"text: over a file link", false, share, "file-link"},
      {"text: folder as a path", false, HexEncode(outside_), "new.txt"},
      {"text: folder ..", false, HexEncode(".."), "new.txt"},
      {"text: folder P/..", false, HexEncode("P/.."), "new.txt"},
      {"upload: ../ in the name", true, share, "../../outside/new.txt"},
      {"upload: \\ in the name", true, share, "..\\..\\outside\\new.txt"},
      {"upload: absolute name", true, share, absolute},
      {"upload: name ..", true, share, ".."},
      {"upload: extension with /", true, share, "x./../../outside/new"},
      {"upload: folder as a path", true, HexEncode(outside_), "new.txt"},
      {"upload: folder ../outside", true, HexEncode("../outside"), "new.txt"},
      {"upload: folder P/../outside", true, HexEncode("P/../outside"), "new.txt"},
  };
  for (const bool upload : {false, true}) {
    for (const std::string& dirpath : std::vector<std::string>{
             outside_, share_ + "../outside/", share_ + "folder-link/", root_ + "P2/", root_, "/",
             "../outside/", share_ + "sub/../../outside/"}) {
      rows.push_back({"view outside", upload, share, plain, HexEncode(dirpath)});
    }
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    SCOPED_TRACE(HexDecode(row.dirpath));
    const std::string answer = row.upload ? Upload(row.dirname, row.name, row.dirpath)
                                          : NewText(row.dirname, row.name, row.dirpath);
    EXPECT_NE(answer.find("HTTP/1.1 200 OK"), std::string::npos) << answer;
    EXPECT_EQ(answer.find(kSecret), std::string::npos);
    EXPECT_EQ(OutsideState(), before);
  }
  // Whatever was written went into the share, beside the link of that name, not through it.
  EXPECT_EQ(ReadFileBytes(share_ + "file-link (2)"), kWritten);
  EXPECT_EQ(ReadFileBytes(outside_ + "secret.txt"), kSecret);

  // The same forms with a plain name do write into the share: the refusals are not an accident.
  NewText(share, "plain.txt");
  EXPECT_EQ(ReadFileBytes(share_ + "plain.txt"), kWritten);
  size_t uploads = 0;
  for (const auto& entry : fs::directory_iterator(share_)) {
    if (entry.path().filename().string().rfind("__vupd_img_", 0) == 0) ++uploads;
  }
  EXPECT_GT(uploads, 0u);
  EXPECT_EQ(OutsideState(), before);
}

}  // namespace
