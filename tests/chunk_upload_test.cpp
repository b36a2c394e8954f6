// Resumable uploads through the real server on loopback: resumed after a cut, refused where
// they must be, behind the same guards as every document, and named as the settings say.
#include "web/chunk_upload.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/crc32.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "support/file_size_limit.h"
#include "support/loopback_client.h"
#include "support/page_lines.h"
#include "support/random_bytes.h"
#include "support/served_core.h"
#include "support/waiting.h"
#include "web/upload_records.h"

namespace vm {
namespace {

using vmtest::THttpAnswer;
using vmtest::TServedCore;
using vmtest::TTempFolder;

constexpr size_t kChunk = 256 * 1024;
constexpr char kShare[] = "Up";

// What a browser sends to name one upload.
struct TUpload {
  std::string id = "0123456789abcdef0123456789abcdef";
  std::string name = "movie.MP4";  // UTF-8
  int64_t size = 0;
  int64_t mtime = 1700000000123;
  std::string share = kShare;
  std::string folder;  // system path; "" for the share's own folder
};

std::string Target(const TUpload& u, const std::string& op) {
  std::string target = "/velmarind/vm-chunk?op=" + op + "&id=" + u.id +
                       "&dirname=" + HexEncode(u.share) + "&name=" + HexEncode(u.name) +
                       "&size=" + std::to_string(u.size) + "&mtime=" + std::to_string(u.mtime);
  if (!u.folder.empty()) target += "&dirpath=" + HexEncode(u.folder);
  return target;
}

std::string CrcHex(std::string_view bytes) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", Crc32(bytes));
  return hex;
}

// The request of one chunk, with its checksum (or a given one).
std::string PutRequest(const TUpload& u, int64_t offset, std::string_view bytes,
                       const std::string& headers = "", std::string crc = "") {
  if (crc.empty()) crc = CrcHex(bytes);
  return "POST " + Target(u, "put") + "&offset=" + std::to_string(offset) + "&crc=" + crc +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + std::string(bytes);
}

// A share "Up" served on loopback, with the settings lines given.
class TUploadServer {
 public:
  explicit TUploadServer(const std::string& settings = "")
      : share_(temp_.MakeSubfolder("share")),
        core_({std::string(kShare) + ";;" + share_}, settings) {}

  const std::string& Share() const { return share_; }
  TServedCore& Core() { return core_; }
  THttpAnswer Send(const std::string& request, const std::string& from = "") const {
    return vmtest::SplitAnswer(core_.Exchange(request, from));
  }
  THttpAnswer Held(const TUpload& u, const std::string& from = "") const {
    return Send("GET " + Target(u, "held") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", from);
  }
  THttpAnswer Put(const TUpload& u, int64_t offset, std::string_view bytes,
                  const std::string& from = "") const {
    return Send(PutRequest(u, offset, bytes), from);
  }
  // The visible entries of the share (partial files are hidden).
  std::vector<std::string> Visible() const {
    std::vector<std::string> names = temp_.List("share");
    std::erase_if(names, [](const std::string& n) { return n.front() == '.'; });
    return names;
  }
  // The partial files: in the program's folder at the share's top, and any hidden entry beside.
  std::vector<std::string> Hidden() const {
    const std::string partials(kPartialsFolder);
    std::vector<std::string> names = temp_.List("share");
    std::erase_if(names, [&](const std::string& n) { return n.front() != '.' || n == partials; });
    if (vmtest::FileExists(share_ + partials)) {
      for (const std::string& n : temp_.List("share/" + partials)) names.push_back(n);
    }
    return names;
  }

 private:
  TTempFolder temp_;
  std::string share_;
  TServedCore core_;
};

int64_t HeldOf(const THttpAnswer& answer) {
  const std::string held = answer.Header("X-Velmarind-Held");
  return held.empty() ? -1 : std::stoll(held);
}

TEST(Checksum, IsTheCrc32OfZlib) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
  const std::string noise = vmtest::RandomBytes(100000, 7);
  EXPECT_EQ(Crc32Update(Crc32(noise.substr(0, 333)), noise.data() + 333, noise.size() - 333),
            Crc32(noise));
}

// A phone loses its network in the middle of a chunk, either with a reset or by falling silent
// (its request then hangs in the server); the upload goes on from a new connection.
TEST(ChunkUpload, ResumesAfterACutByteExactSendingOneChunkTwice) {
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "client falls silent" : "client resets");
    TUploadServer server;
    TUpload u;
    const std::string file = vmtest::RandomBytes(4 * kChunk + 1000, silent ? 1 : 2);
    u.size = static_cast<int64_t>(file.size());
    std::map<int64_t, int> sends;  // chunk offset -> times sent
    const int64_t cutAt = 2 * kChunk;
    {
      vm::testing::LoopbackClient cut(server.Core().Port());
      for (int64_t offset = 0; offset < cutAt; offset += kChunk) {
        ++sends[offset];
        ASSERT_EQ(HeldOf(server.Put(u, offset, std::string_view(file).substr(offset, kChunk))),
                  offset + static_cast<int64_t>(kChunk));
      }
      ++sends[cutAt];
      const std::string whole = PutRequest(u, cutAt, std::string_view(file).substr(cutAt, kChunk));
      ASSERT_TRUE(cut.Send(whole.substr(0, whole.size() - kChunk / 2)));
      if (!silent) cut.Reset();
      // A new connection asks what arrived; a silent one's request is ended for it.
      const THttpAnswer held = server.Held(u);
      EXPECT_EQ(held.statusLine, "HTTP/1.1 200 OK");
      ASSERT_EQ(HeldOf(held), cutAt) << "a chunk that arrived cut does not count";
    }
    for (int64_t offset = cutAt; offset < u.size; offset += kChunk) {
      ++sends[offset];
      const THttpAnswer answer =
          server.Put(u, offset, std::string_view(file).substr(offset, kChunk));
      ASSERT_EQ(HeldOf(answer), std::min<int64_t>(offset + kChunk, u.size));
    }
    ASSERT_EQ(server.Visible().size(), 1u);
    const std::string saved = server.Visible().front();
    EXPECT_EQ(saved.substr(0, 11), "__vupd_img_");
    EXPECT_TRUE(vmtest::IsStamp(saved.substr(11, 15)));
    EXPECT_EQ(saved.substr(26), ".mp4");
    EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + saved), file);
    EXPECT_EQ(server.Hidden(), std::vector<std::string>{}) << "no partial file is left";
    // Sent twice: the cut chunk alone.
    EXPECT_EQ(std::count_if(sends.begin(), sends.end(), [](auto& s) { return s.second > 1; }), 1);
    EXPECT_EQ(sends[cutAt], 2);
    // An answer lost after the last chunk is asked again: the upload is not sent a second time.
    EXPECT_EQ(server.Held(u).Header("X-Velmarind-Saved"), HexEncode(saved));
  }
}

// A request from an older connection whose thread came late ended the newer request it met.
TEST(ChunkUpload, ALateRequestFromAnOlderConnectionEndsNothing) {
  TUploadServer server;
  TUpload u;
  u.size = kChunk;
  const std::string file = vmtest::RandomBytes(kChunk, 6);
  vm::testing::LoopbackClient older(server.Core().Port());
  vm::testing::LoopbackClient newer(server.Core().Port());
  const std::string put = PutRequest(u, 0, file);
  ASSERT_TRUE(newer.Send(put.substr(0, put.size() - kChunk / 2)));
  ASSERT_TRUE(vmtest::WaitUntil([&] { return !server.Hidden().empty(); }));  // newer holds it
  ASSERT_TRUE(older.Send(put));
  EXPECT_EQ(vmtest::SplitAnswer(older.ReadAll()).Header("X-Velmarind-Refused"), "Busy");
  ASSERT_TRUE(newer.Send(put.substr(put.size() - kChunk / 2)));
  EXPECT_EQ(HeldOf(vmtest::SplitAnswer(newer.ReadAll())), u.size);
  ASSERT_EQ(server.Visible().size(), 1u);
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + server.Visible().front()), file);
}

TEST(ChunkUpload, RefusesWhatItMustAndKeepsWhatItHeld) {
  TUploadServer server;
  TTempFolder outside;
  vmtest::WriteFileBytes(server.Share() + "kept.txt", "kept");
  TUpload u;
  u.size = 3 * kChunk;
  const std::string file = vmtest::RandomBytes(static_cast<size_t>(u.size), 3);
  const std::string_view first = std::string_view(file).substr(0, kChunk);
  ASSERT_EQ(HeldOf(server.Put(u, 0, first)), static_cast<int64_t>(kChunk));
  const auto with = [&u](auto edit) {
    TUpload other = u;
    edit(other);
    return other;
  };
  const TUpload outsideShare = with([&](TUpload& o) { o.folder = outside.Path(); });
  const TUpload unknownShare = with([](TUpload& o) { o.share = "None"; });
  const TUpload otherSize = with([](TUpload& o) { o.size += 1; });
  const TUpload badId = with([](TUpload& o) { o.id = "../../velmarind.ini0000000000000"; });
  const std::string second(file.substr(kChunk, kChunk));
  struct Row {
    const char* label;
    std::string request;
    std::string status;
    std::string refusal;
  };
  const Row rows[] = {
      {"past the announced size", PutRequest(u, 2 * kChunk, second + "x"),
       "HTTP/1.1 400 Bad Request", "BeyondSize"},
      {"a folder outside the shares", PutRequest(outsideShare, kChunk, second),
       "HTTP/1.1 404 Not Found", "NoFolder"},
      {"a share that is not there", PutRequest(unknownShare, kChunk, second),
       "HTTP/1.1 404 Not Found", "NoFolder"},
      {"not at the end of what is held", PutRequest(u, 2 * kChunk, second), "HTTP/1.1 409 Conflict",
       "Offset"},
      {"the same id for another file", PutRequest(otherSize, kChunk, second),
       "HTTP/1.1 409 Conflict", "Mismatch"},
      {"damaged on the way", PutRequest(u, kChunk, second, "", "00000001"),
       "HTTP/1.1 422 Unprocessable Content", "Checksum"},
      {"an id that is no token", PutRequest(badId, 0, second), "HTTP/1.1 400 Bad Request",
       "BadRequest"},
      {"larger than a chunk may be",
       "POST " + Target(u, "put") + "&offset=" + std::to_string(kChunk) +
           "&crc=00000000 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
           std::to_string(kMaxChunkBytes + 1) + "\r\n\r\n",
       "HTTP/1.1 413 Content Too Large", "TooLarge"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const THttpAnswer answer = server.Send(row.request);
    EXPECT_EQ(answer.statusLine, row.status);
    EXPECT_EQ(answer.Header("X-Velmarind-Refused"), row.refusal);
    EXPECT_EQ(HeldOf(server.Held(u)), static_cast<int64_t>(kChunk));
  }
  EXPECT_EQ(server.Visible(), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + "kept.txt"), "kept");
  EXPECT_EQ(outside.List(), std::vector<std::string>{});
  // The upload goes on as if nothing had happened; a cancel then removes what it held.
  ASSERT_EQ(HeldOf(server.Put(u, kChunk, second)), static_cast<int64_t>(2 * kChunk));
  EXPECT_EQ(server.Hidden().size(), 1u);
  const THttpAnswer cancelled =
      server.Send("POST " + Target(u, "cancel") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(HeldOf(cancelled), 0);
  EXPECT_EQ(server.Hidden(), std::vector<std::string>{});
  EXPECT_EQ(HeldOf(server.Held(u)), 0);
}

TEST(ChunkUpload, AViewOnlyShareTakesNoPiece) {
  TUploadServer server("SHARE_MODES=" + vm::HexEncode(kShare) + ":view\r\n");
  TUpload u;
  u.size = kChunk;
  const THttpAnswer answer = server.Put(u, 0, vmtest::RandomBytes(kChunk, 5));
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(server.Visible(), std::vector<std::string>{});
  EXPECT_EQ(server.Hidden(), std::vector<std::string>{});
}

TEST(ChunkUpload, NamesFollowTheSettingAndNeverReplace) {
  TUploadServer server("UPLOAD_KEEP_NAMES=1\r\n");
  vmtest::WriteFileBytes(server.Share() + "photo.JPG", "old");
  struct Row {
    const char* label;
    std::string name;
    std::string saved;
  };
  const Row rows[] = {
      {"a taken name gets the next number", "photo.JPG", "photo (2).JPG"},
      {"and the next", "photo.JPG", "photo (3).JPG"},
      {"a path and dots are no part of it", "../..\x01secret.txt", "_secret.txt"},
      {"a name Shift_JIS cannot hold stays UTF-8", "caf\xC3\xA9 \xF0\x9F\x98\x80.txt",
       "caf\xC3\xA9 \xF0\x9F\x98\x80.txt"},
      {"at most 255 bytes, its extension kept", std::string(300, 'n') + ".bin",
       std::string(251, 'n') + ".bin"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    TUpload u;
    u.id = std::string(31, 'c') + static_cast<char>('0' + n++);
    u.name = row.name;
    u.size = 5;
    const THttpAnswer answer = server.Put(u, 0, std::string(row.label).substr(0, 5));
    EXPECT_EQ(answer.Header("X-Velmarind-Saved"), HexEncode(NativeToSystem(row.saved)));
    EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + row.saved),
              std::string(row.label).substr(0, 5));
  }
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + "photo.JPG"), "old");
}

TEST(ChunkUpload, ADropBoxAnswersTheNameSentWhetherOrNotItWasTaken) {
  TUploadServer server("UPLOAD_KEEP_NAMES=1\r\nSHARE_MODES=" + HexEncode(kShare) + ":dropbox\r\n");
  vmtest::WriteFileBytes(server.Share() + "photo.JPG", "old");
  TUpload u;
  u.name = "photo.JPG";
  u.size = 3;
  EXPECT_EQ(server.Put(u, 0, "new").Header("X-Velmarind-Saved"), HexEncode("photo.JPG"));
  EXPECT_EQ(server.Held(u).Header("X-Velmarind-Saved"), HexEncode("photo.JPG"));
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + "photo.JPG"), "old");
  ASSERT_EQ(server.Visible().size(), 2u);
  EXPECT_EQ(server.Visible()[0].substr(0, 7), "photo (");  // before "photo.JPG"
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + server.Visible()[0]), "new");
}

// The program's folder of partial files lies in the share, but is never part of it: not even
// with dot files published can a client list, fetch, move or fill it.
TEST(ChunkUpload, PartialFilesAreNeverPartOfTheShare) {
  TUploadServer server("PUBLISH_DOT_FILES=1\r\nSHARE_MODES=" + HexEncode(kShare) + ":full\r\n");
  TUpload u;
  u.size = 10;
  ASSERT_EQ(HeldOf(server.Put(u, 0, "12345")), 5);
  const std::string partials = server.Share() + std::string(kPartialsFolder) + "/";
  const std::string listing = server.Core()
                                  .Get("/velmarind/script.html?pid=m1&name=" + HexEncode(kShare) +
                                       "&path=" + HexEncode(server.Share()))
                                  .body;
  EXPECT_EQ(listing.find(HexEncode(".velmarind")), std::string::npos);
  const THttpAnswer download = server.Core().Get("/velmarind/download.html?file=" +
                                                 HexEncode(partials + server.Hidden().front()));
  EXPECT_EQ(download.statusLine, "HTTP/1.1 500 Internal Server Error");
  TUpload inside = u;
  inside.id = std::string(32, 'd');
  inside.folder = partials;
  EXPECT_EQ(server.Put(inside, 0, "x").Header("X-Velmarind-Refused"), "NoFolder");
  server.Send(vmtest::Request("POST", "/velmarind/vm-rename", "",
                              "dir=" + HexEncode(server.Share()) +
                                  "&from=" + HexEncode(std::string(kPartialsFolder)) + "&to=78"));
  EXPECT_EQ(server.Hidden().size(), 1u) << "the folder and its one partial file stay";
  EXPECT_EQ(HeldOf(server.Held(u)), 5);
}

// Every chunk passes the gate and the checks against other sites, as every document does.
TEST(ChunkUpload, GuardsApplyToEveryChunk) {
  TUploadServer server("PASS_FLG=1\r\nPASSWORD=" + HexEncode("pw") + "\r\n");
  server.Core().State().Admit("127.0.0.2");
  TUpload u;
  u.size = 2 * kChunk;
  const std::string file = vmtest::RandomBytes(static_cast<size_t>(u.size), 4);
  const std::string_view first = std::string_view(file).substr(0, kChunk);
  const std::string_view second = std::string_view(file).substr(kChunk);
  ASSERT_EQ(HeldOf(server.Put(u, 0, first, "127.0.0.2")), static_cast<int64_t>(kChunk));
  struct Row {
    const char* label;
    std::string headers;
    std::string from;
    std::string status;
  };
  const Row rows[] = {
      {"a client that has not logged in", "", "127.0.0.3", "HTTP/1.1 200 OK"},
      {"another site's page", "Origin: http://evil.example\r\n", "127.0.0.2",
       "HTTP/1.1 403 Forbidden"},
      {"another site by fetch metadata", "Sec-Fetch-Site: cross-site\r\n", "127.0.0.2",
       "HTTP/1.1 403 Forbidden"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const THttpAnswer answer = server.Send(PutRequest(u, kChunk, second, row.headers), row.from);
    EXPECT_EQ(answer.statusLine, row.status);
    EXPECT_EQ(answer.Header("X-Velmarind-Held"), "");
    EXPECT_EQ(HeldOf(server.Held(u, "127.0.0.2")), static_cast<int64_t>(kChunk));
  }
  const std::string foreignHost =
      "POST " + Target(u, "put") + "&offset=0&crc=" + CrcHex(first) +
      " HTTP/1.1\r\nHost: rebound.example\r\nContent-Length: " + std::to_string(kChunk) +
      "\r\n\r\n";
  EXPECT_EQ(server.Send(foreignHost + std::string(first), "127.0.0.2").statusLine,
            "HTTP/1.1 421 Misdirected Request");
  EXPECT_EQ(server.Visible(), std::vector<std::string>{});
  ASSERT_EQ(HeldOf(server.Put(u, kChunk, second, "127.0.0.2")), u.size);
  EXPECT_EQ(server.Visible().size(), 1u);
}

// A full disk ends the upload with a clear answer, and nothing poses as the file.
TEST(ChunkUpload, AFullDiskSaysSoAndNamesNothing) {
  TUploadServer server;
  TUpload huge;
  huge.size = int64_t{1} << 49;  // more than any disk here holds
  const THttpAnswer refused = server.Put(huge, 0, "x");
  EXPECT_EQ(refused.statusLine, "HTTP/1.1 507 Insufficient Storage");
  EXPECT_EQ(refused.Header("X-Velmarind-Refused"), "DiskFull");
  EXPECT_EQ(server.Hidden(), std::vector<std::string>{});

  TUpload u;
  u.id = std::string(32, 'e');
  u.size = 2 * kChunk;
  const std::string file = vmtest::RandomBytes(static_cast<size_t>(u.size), 5);
  ASSERT_EQ(HeldOf(server.Put(u, 0, std::string_view(file).substr(0, kChunk))),
            static_cast<int64_t>(kChunk));
  {
    const vmtest::TFileSizeLimit full(kChunk + 4096);
    const THttpAnswer answer = server.Put(u, kChunk, std::string_view(file).substr(kChunk));
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 507 Insufficient Storage");
  }
  EXPECT_EQ(HeldOf(server.Held(u)), static_cast<int64_t>(kChunk));
  EXPECT_EQ(server.Visible(), std::vector<std::string>{});
  // With room again the upload goes on.
  EXPECT_EQ(HeldOf(server.Put(u, kChunk, std::string_view(file).substr(kChunk))), u.size);
  ASSERT_EQ(server.Visible().size(), 1u);
  EXPECT_EQ(vmtest::ReadFileBytes(server.Share() + server.Visible().front()), file);
}

// A byte sent now and then kept a partial upload from the sweep for ever, and one whose folder
// was renamed was never swept: its record went, its file stayed.
TEST(ChunkUpload, PartialUploadsAgeFromTheirLastGrowthWhereverTheirFolderMoved) {
  TUploadServer server;
  ASSERT_EQ(mkdir((server.Share() + "sub").c_str(), 0755), 0);
  struct Row {
    const char* label;
    std::string folder;  // below the share; renamed to folder + "2" once the upload began
    size_t piece;        // sent at held after the upload has aged
    bool survives;
  };
  const Row rows[] = {
      {"a byte does not renew it", "", 1, false},
      {"a megabyte does", "", size_t{1} << 20, true},
      {"its folder moved", "sub", 0, false},
  };
  std::vector<TUpload> uploads;
  for (const Row& row : rows) {
    TUpload u;
    u.id = std::string(31, 'a') + static_cast<char>('0' + uploads.size());
    u.size = 8 << 20;
    if (!row.folder.empty()) u.folder = server.Share() + row.folder;
    ASSERT_EQ(HeldOf(server.Put(u, 0, "12345")), 5) << row.label;
    // A day and an hour pass.
    const std::string record = server.Core().ProgramFolder() + "uploads/" + u.id;
    std::string text = vmtest::ReadFileBytes(record);
    const size_t grown = text.find("\ngrown=") + 7;
    text.replace(grown, text.find('\n', grown) - grown, std::to_string(time(nullptr) - 25 * 3600));
    vmtest::WriteFileBytes(record, text);
    if (row.piece > 0)
      ASSERT_EQ(HeldOf(server.Put(u, 5, std::string(row.piece, 'p'))), 5 + row.piece);
    if (!row.folder.empty()) ASSERT_EQ(rename(u.folder.c_str(), (u.folder + "2").c_str()), 0);
    uploads.push_back(u);
  }
  SweepPartialUploads(server.Core().ProgramFolder());
  EXPECT_EQ(server.Hidden().size(), 1u) << "the moved folder's partial file is gone too";
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(HeldOf(server.Held(uploads[k])) > 0, rows[k].survives) << rows[k].label;
  }
}

// One byte announcing a large file reserved the whole of it on the disk; partial uploads had no
// bound at all.
TEST(ChunkUpload, PartialUploadsHoldLittleAndAreBounded) {
  TUploadServer server;
  TUpload big;
  big.size = 64 << 20;
  ASSERT_EQ(HeldOf(server.Put(big, 0, "x")), 1);
  struct stat info {};
  const std::string partial = server.Share() + std::string(kPartialsFolder) + "/";
  ASSERT_EQ(stat((partial + server.Hidden().front()).c_str(), &info), 0);
  EXPECT_LT(info.st_blocks * 512, 1 << 20) << "no more than the next two pieces are reserved";
  // Four per client, thirty-two in all (the one above included).
  std::vector<TUpload> started{big};
  int n = 0;
  auto start = [&](const std::string& from) {
    TUpload u = big;
    u.id = std::string(28, 'b') + std::to_string(1000 + n++);
    const THttpAnswer answer = server.Put(u, 0, "x", from);
    if (HeldOf(answer) == 1) started.push_back(u);
    return answer;
  };
  for (int k = 0; k < 3; ++k) ASSERT_EQ(HeldOf(start("")), 1);
  THttpAnswer refused = start("");
  EXPECT_EQ(refused.statusLine, "HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(refused.Header("X-Velmarind-Refused"), "TooManyUploads");
  for (int client = 2; client <= 8; ++client) {
    for (int k = 0; k < 4; ++k) ASSERT_EQ(HeldOf(start("127.0.0." + std::to_string(client))), 1);
  }
  EXPECT_EQ(start("127.0.0.9").statusLine, "HTTP/1.1 429 Too Many Requests");
  // One cancelled or finished makes room again.
  server.Send("POST " + Target(started.front(), "cancel") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(HeldOf(start("127.0.0.9")), 1);
}

}  // namespace
}  // namespace vm
