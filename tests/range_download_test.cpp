// Partial and resumed downloads through the real server and dispatcher on loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "support/expected_pages.h"
#include "support/random_bytes.h"
#include "support/served_core.h"

namespace {

using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::THttpAnswer;
using vmtest::TServedCore;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

constexpr size_t kFileSize = 1000;

// Noise, so that an offset slip shows.
std::string PatternBytes(size_t size) { return vmtest::RandomBytes(size, 251); }

// The head of a download answer: status line, the fixed lines, then lines (the range lines)
// between the Content-Disposition line and the Server line, and the empty line.
std::string DownloadHead(const std::string& status, uint64_t length,
                         const std::vector<std::string>& lines,
                         const std::string& name = "data.bin") {
  std::vector<std::string> head = {status, "Connection: close",
                                   "Content-Type: application/octet-stream",
                                   "Content-Length: " + std::to_string(length),
                                   "X-Content-Type-Options: nosniff",
                                   "Referrer-Policy: same-origin",
                                   "Content-Disposition: attachment;filename=" + name};
  head.insert(head.end(), lines.begin(), lines.end());
  head.push_back("Server: Velmarind/1.0");
  head.push_back("");
  return JoinCrLf(head);
}

class RangeDownload : public ::testing::Test {
 protected:
  RangeDownload() : share_(files_.MakeSubfolder("P")), served_({"P;;" + share_}) {
    WriteFileBytes(share_ + "data.bin", content_);
  }

  std::string Target(const std::string& name) const {
    return "/velmarind/download.html?file=" + vm::HexEncode(share_ + name);
  }
  // The raw answer to a download of name with the given Range value ("" = no Range line).
  std::string Download(const std::string& range, const std::string& method = "GET",
                       const std::string& name = "data.bin") const {
    return served_.Exchange(
        vmtest::Request(method, Target(name), range.empty() ? "" : "Range: " + range + "\r\n"));
  }

  const std::string content_ = PatternBytes(kFileSize);
  TTempFolder files_;  // declared before the server: removed only after it has stopped
  std::string share_;
  TServedCore served_;
};

TEST_F(RangeDownload, OneRangeGetsExactlyItsBytes) {
  struct Row {
    const char* label;
    const char* range;
    size_t first, length;
  };
  const std::vector<Row> rows = {
      {"first bytes", "bytes=0-9", 0, 10},
      {"middle", "bytes=250-499", 250, 250},
      {"one byte", "bytes=999-999", 999, 1},
      {"open end", "bytes=990-", 990, 10},
      {"open end, whole file", "bytes=0-", 0, kFileSize},
      {"suffix", "bytes=-7", 993, 7},
      {"suffix past the start", "bytes=-5000", 0, kFileSize},
      {"end past the size", "bytes=900-99999", 900, 100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string contentRange = "Content-Range: bytes " + std::to_string(row.first) + "-" +
                                     std::to_string(row.first + row.length - 1) + "/1000";
    const std::string head = DownloadHead("HTTP/1.1 206 Partial Content", row.length,
                                          {"Accept-Ranges: bytes", contentRange});
    EXPECT_EQ(Download(row.range), head + content_.substr(row.first, row.length));
    // HEAD: the same head, and not one byte of the file.
    EXPECT_EQ(Download(row.range, "HEAD"), head);
  }
}

TEST_F(RangeDownload, RangeNoByteMeetsGets416AndNoFileBytes) {
  for (const char* range : {"bytes=1000-", "bytes=5000-6000", "bytes=-0", "bytes=10-5"}) {
    SCOPED_TRACE(range);
    const std::string head = DownloadHead("HTTP/1.1 416 Requested Range Not Satisfiable", 0,
                                          {"Accept-Ranges: bytes", "Content-Range: bytes */1000"});
    EXPECT_EQ(Download(range), head);
    EXPECT_EQ(Download(range, "HEAD"), head);
  }
  // An empty file has no byte to give.
  WriteFileBytes(share_ + "empty.txt", "");
  EXPECT_EQ(Download("bytes=0-", "GET", "empty.txt"),
            DownloadHead("HTTP/1.1 416 Requested Range Not Satisfiable", 0,
                         {"Accept-Ranges: bytes", "Content-Range: bytes */0"}, "empty.txt"));
}

TEST_F(RangeDownload, WithoutAUsableRangeTheWholeFileIsSent) {
  const std::string whole = DownloadHead("HTTP/1.1 200 OK", kFileSize, {"Accept-Ranges: bytes"});
  // No Range at all: the answer of old, with only the Accept-Ranges line added.
  EXPECT_EQ(Download(""), whole + content_);
  EXPECT_EQ(Download("", "HEAD"), whole);
  // Several ranges, other units and malformed values are ignored, as clients expect.
  for (const char* range : {"bytes=0-1,5-6", "bytes=0-1, 990-", "items=0-5", "bytes=abc",
                            "bytes=", "bytes=-", "0-5", "bytes=1-2-3"}) {
    SCOPED_TRACE(range);
    EXPECT_EQ(Download(range), whole + content_);
  }
}

TEST_F(RangeDownload, OtherAnswersNeitherAdvertiseNorHonourRanges) {
  for (const char* target : {"/velmarind/vcom.css", "/velmarind/index.html", "/velmarind/"}) {
    SCOPED_TRACE(target);
    const THttpAnswer answer = served_.Get(target, "Range: bytes=0-3\r\n");
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("Accept-Ranges"), "");
    EXPECT_EQ(answer.Header("Content-Range"), "");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.body.size()));
    EXPECT_GT(answer.body.size(), 4u);
  }
  // A download that fails is the error answer it always was: the range plays no part.
  const THttpAnswer missing = vmtest::SplitAnswer(Download("bytes=0-3", "GET", "missing.bin"));
  EXPECT_EQ(missing.statusLine, "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(missing.Header("Accept-Ranges"), "");
  EXPECT_EQ(missing.Header("Content-Range"), "");
}

TEST(RangeDownloadGate, ClientThatMustLogInGetsTheLoginFormWhateverTheRange) {
  TTempFolder files;
  const std::string share = files.MakeSubfolder("P");
  WriteFileBytes(share + "data.bin", PatternBytes(kFileSize));
  TServedCore served({"P;;" + share}, "PASS_FLG=1\r\nPASSWORD=736563726574\r\n");
  const THttpAnswer answer = served.Get(
      "/velmarind/download.html?file=" + vm::HexEncode(share + "data.bin"), "Range: bytes=0-9\r\n");
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.Header("Content-Type"), "text/html");
  EXPECT_EQ(answer.Header("Accept-Ranges"), "");
  const std::string stamp = vmtest::StampAfter(answer.body, "name=\"tt\" value=\"");
  EXPECT_EQ(answer.body, JoinCrLf(vmtest::ExpectedLoginForm(false, stamp)));
}

// Offsets past 4 GiB reach the right bytes (a sparse file: no disk is used).
TEST_F(RangeDownload, OffsetsPast4GiBAreExact) {
  const uint64_t size = (uint64_t{5} << 30) + 16;
  const uint64_t marker = (uint64_t{4} << 30) + 3;
  {
    WriteFileBytes(share_ + "big.bin", "");
    std::filesystem::resize_file(share_ + "big.bin", size);
    FILE* file = std::fopen((share_ + "big.bin").c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fseeko(file, static_cast<off_t>(marker), SEEK_SET), 0);
    std::fputs("MARK", file);
    ASSERT_EQ(fseeko(file, static_cast<off_t>(size - 4), SEEK_SET), 0);
    std::fputs("TAIL", file);
    std::fclose(file);
  }
  const std::string total = "/" + std::to_string(size);
  const std::string first = std::to_string(marker - 1);
  EXPECT_EQ(Download("bytes=" + first + "-" + std::to_string(marker + 4), "GET", "big.bin"),
            DownloadHead("HTTP/1.1 206 Partial Content", 6,
                         {"Accept-Ranges: bytes", "Content-Range: bytes " + first + "-" +
                                                      std::to_string(marker + 4) + total},
                         "big.bin") +
                std::string("\0MARK\0", 6));
  EXPECT_EQ(
      Download("bytes=-4", "GET", "big.bin"),
      DownloadHead("HTTP/1.1 206 Partial Content", 4,
                   {"Accept-Ranges: bytes", "Content-Range: bytes " + std::to_string(size - 4) +
                                                "-" + std::to_string(size - 1) + total},
                   "big.bin") +
          "TAIL");
  EXPECT_EQ(Download("", "HEAD", "big.bin"),
            DownloadHead("HTTP/1.1 200 OK", size, {"Accept-Ranges: bytes"}, "big.bin"));
}

// --- Resuming with curl ----------------------------------------------------------------------

bool HaveCurl() { return std::system("curl --version >/dev/null 2>&1") == 0; }

// Runs a shell command; returns its exit status (-1 when it did not exit normally).
int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first field of sha256sum's output for the file.
std::string Sha256(const std::string& path) {
  FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return "";
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  const std::string text = read ? line : "";
  return text.substr(0, text.find(' '));
}

constexpr int kCurlOperationTimeout = 60;  // seconds: no curl run can hang the suite
constexpr int kCurlRateLimit = 1 << 20;    // bytes per second while being cut off
constexpr int kCutOffSeconds = 1;          // the cut-off transfer's whole life
// 24 s at the rate limit; curl lets the first few MiB through at full speed, so the file must
// be well larger than that burst to be always cut off.
constexpr size_t kLargeFileSize = 24 << 20;

TEST_F(RangeDownload, CurlResumesAnInterruptedDownloadToTheSameBytes) {
  if (!HaveCurl()) GTEST_SKIP() << "curl is not installed (tools/setup.sh test installs it)";
  WriteFileBytes(share_ + "large.bin", PatternBytes(kLargeFileSize));
  const std::string url =
      "http://127.0.0.1:" + std::to_string(served_.Port()) + Target("large.bin");
  const std::string out = files_.Path() + "large.part";
  const std::string curl =
      "curl --silent --show-error --max-time " + std::to_string(kCurlOperationTimeout) + " ";

  // A transfer cut off by its time limit (curl exits 28), the part kept on disk.
  const int cut =
      RunShell("curl --silent --limit-rate " + std::to_string(kCurlRateLimit) + " --max-time " +
               std::to_string(kCutOffSeconds) + " -o '" + out + "' '" + url + "'");
  EXPECT_EQ(cut, 28);
  const std::string part = ReadFileBytes(out);
  ASSERT_LT(part.size(), kLargeFileSize);
  EXPECT_EQ(part, PatternBytes(kLargeFileSize).substr(0, part.size()));

  // curl -C - asks for the rest from the size of what it has and appends it.
  ASSERT_EQ(RunShell(curl + "-C - -o '" + out + "' '" + url + "'"), 0);
  EXPECT_EQ(Sha256(out), Sha256(share_ + "large.bin"));
  EXPECT_EQ(ReadFileBytes(out).size(), kLargeFileSize);

  // A cut at an odd place, by hand, resumes just as well.
  std::filesystem::resize_file(out, 1234567);
  ASSERT_EQ(RunShell(curl + "-C - -o '" + out + "' '" + url + "'"), 0);
  EXPECT_EQ(Sha256(out), Sha256(share_ + "large.bin"));

  // Fetched as two explicit ranges and joined, the file is whole too.
  const std::string head = files_.Path() + "head.bin", tail = files_.Path() + "tail.bin";
  ASSERT_EQ(RunShell(curl + "--range 0-999999 -o '" + head + "' '" + url + "'"), 0);
  ASSERT_EQ(RunShell(curl + "--range 1000000- -o '" + tail + "' '" + url + "'"), 0);
  EXPECT_EQ(ReadFileBytes(head) + ReadFileBytes(tail), PatternBytes(kLargeFileSize));
}

}  // namespace
