// The thumbnail maker: thumbnails upright within their square, the caps that keep a hostile or
// huge image from stalling or swelling the worker, the queue of waiting requests, the caches.
#include "thumbs/thumbnail_maker.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/page_lines.h"
#include "support/waiting.h"

extern char** environ;

namespace {

using vm::thumbs::TMade;
using vm::thumbs::TThumbnailLimits;
using vm::thumbs::TThumbnailMaker;
using vm::thumbs::TThumbnailWorkers;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;
using Outcome = TMade::TOutcome;

// The time cap of the tests that wait a job out: the next job, on a program started afresh,
// must still make its thumbnail within it on a busy machine.
constexpr std::chrono::milliseconds kTimeCap{3000};

// Bytes of an image ImageMagick (a test package) makes: a gradient of width x height, written as
// format (e.g. "jpg", "png"), with the extra options before the output name. The images are made
// in another process: the test process runs no image library of its own.
std::string MakeImage(int width, int height, const std::string& format,
                      const std::vector<std::string>& options = {},
                      const std::string& source = "gradient:gray20-gray80") {
  const TTempFolder folder;
  // "png24": RGB, even for grey pixels (a plain PNG of grey pixels is stored as grey).
  const bool rgb = format == "png24";
  const std::string out = folder.Path() + "image." + (rgb ? "png" : format);
  std::vector<std::string> args = {
      "convert", "-size", std::to_string(width) + "x" + std::to_string(height),
      "-depth",  "8",     source};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back((rgb ? "png24:" : "") + out);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawnp(&pid, "convert", nullptr, nullptr, argv.data(), environ), 0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "convert failed";
  return vmtest::ReadFileBytes(out);
}

// The JPEG with an EXIF segment that says how the camera was held (6: turned right).
std::string WithOrientation(const std::string& jpeg, char orientation) {
  const std::string exif = std::string("Exif\0\0MM\0*\0\0\0\x08\0\x01", 16) +
                           std::string("\x01\x12\0\x03\0\0\0\x01\0", 9) + orientation +
                           std::string("\0\0\0\0\0\0", 6);
  const size_t length = exif.size() + 2;
  return jpeg.substr(0, 2) + "\xff\xe1" + char(length >> 8) + char(length & 0xFF) + exif +
         jpeg.substr(2);
}

// A PNG whose header says 30,000 x 30,000 pixels, followed by a few bytes of data: what a
// decompression bomb shows before it is inflated. CRCs are computed as a decoder checks them.
std::string HugePngHeader() {
  auto crc = [](const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return c ^ 0xFFFFFFFFu;
  };
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    return be32(uint32_t(data.size())) + type + data + be32(crc(type + data));
  };
  const std::string ihdr = be32(30000) + be32(30000) + std::string("\x08\x02\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
         chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
}

// A PNG with the text entries of the desktop's thumbnail scheme (only they are read).
std::string SharedThumbnailPng(const std::string& uri, time_t mtime) {
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto text = [&](const std::string& key, const std::string& value) {
    const std::string data = key + '\0' + value;
    return be32(uint32_t(data.size())) + "tEXt" + data + be32(0);
  };
  return std::string("\x89PNG\r\n\x1a\n", 8) + text("Thumb::URI", uri) +
         text("Thumb::MTime", std::to_string(mtime)) + be32(0) + "IEND" + be32(0);
}

struct TImageSize {
  int width = 0, height = 0;
};

// The size a JPEG's frame header gives; zero for anything else.
TImageSize SizeOf(const std::string& jpeg) {
  size_t at = 2;
  while (at + 9 < jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
    const size_t length = (size_t(static_cast<unsigned char>(jpeg[at + 2])) << 8) |
                          static_cast<unsigned char>(jpeg[at + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      auto byte = [&](size_t k) { return int(static_cast<unsigned char>(jpeg[at + k])); };
      return {(byte(7) << 8) | byte(8), (byte(5) << 8) | byte(6)};
    }
    at += 2 + length;
  }
  return {};
}

class ThumbnailMaker : public ::testing::Test {
 protected:
  // A file of the bytes in the test folder, opened for reading.
  vm::TUniqueFd File(const std::string& name, const std::string& bytes) const {
    WriteFileBytes(files_.Path() + name, bytes);
    return vm::TUniqueFd(open((files_.Path() + name).c_str(), O_RDONLY | O_CLOEXEC));
  }

  TMade MakeWith(TThumbnailWorkers& workers, const std::string& name, const std::string& bytes) {
    vm::TUniqueFd fd = File(name, bytes);
    return workers.Make(fd.Get(), nullptr);
  }

  TTempFolder files_;
};

TEST_F(ThumbnailMaker, FitsTheSquareUpright) {
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, TThumbnailLimits());
  // Orientation 6: the camera was turned; shown upright, 600 x 400 stands as 400 x 600.
  const TMade turned =
      MakeWith(workers, "turned.jpg", WithOrientation(MakeImage(600, 400, "jpg"), 6));
  ASSERT_EQ(turned.Outcome, Outcome::Image);
  EXPECT_EQ(turned.ContentType, "image/jpeg");
  const TImageSize size = SizeOf(turned.Bytes);
  EXPECT_EQ(size.height, 256);
  EXPECT_NEAR(size.width, 171, 1);
  // Never enlarged.
  EXPECT_EQ(SizeOf(MakeWith(workers, "small.png", MakeImage(40, 30, "png")).Bytes).width, 40);
}

TEST_F(ThumbnailMaker, HostileOrHugeImagesGetPlaceholders) {
  TThumbnailLimits limits;
  limits.MemoryMiB = 64;
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, limits);
  const std::string jpeg = MakeImage(800, 600, "jpg");
  struct Row {
    const char* label;
    const char* name;
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {"30,000 x 30,000 pixels", "bomb.png", HugePngHeader()},
      {"truncated jpeg", "cut.jpg", jpeg.substr(0, jpeg.size() / 2)},
      {"not an image", "text.jpg", "<html><script>alert(1)</script></html>"},
      {"svg is never decoded", "drawing.png",
       "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>"},
      // Interlaced: decoded whole, 5,000 x 5,000 x 3 bytes, beyond the memory cap.
      {"over the memory cap", "wide.png",
       MakeImage(5000, 5000, "png24", {"-interlace", "PNG"}, "xc:gray50")},
      {"empty file", "empty.jpg", ""},
  };
  for (const Row& row : rows) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MakeWith(workers, row.name, row.bytes).Outcome, Outcome::Placeholder) << row.label;
    EXPECT_LT(std::chrono::steady_clock::now() - start, limits.Time) << row.label;
    // The worker is still of use after each.
    EXPECT_EQ(MakeWith(workers, "fine.jpg", jpeg).Outcome, Outcome::Image) << row.label;
  }
}

TEST_F(ThumbnailMaker, SlowJobEndsItsWorkerAtTheTimeCap) {
  TThumbnailLimits limits;
  limits.Time = kTimeCap;
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, limits);
  // A pipe nobody writes to: the worker reads for ever.
  int pipe_ends[2];
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
  vm::TUniqueFd reading(pipe_ends[0]), writing(pipe_ends[1]);
  EXPECT_EQ(workers.Make(reading.Get(), nullptr).Outcome, Outcome::Placeholder);
  EXPECT_EQ(workers.Counters().ended, 1u);
  EXPECT_EQ(MakeWith(workers, "next.jpg", MakeImage(100, 100, "jpg")).Outcome, Outcome::Image);
}

TEST_F(ThumbnailMaker, NewestWaiterFirstGoneDroppedOldestPushedOut) {
  TThumbnailLimits limits;
  limits.Workers = 1;
  limits.MaxWaiting = 2;
  limits.Time = kTimeCap;
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, limits);
  int pipe_ends[2];
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
  vm::TUniqueFd reading(pipe_ends[0]), writing(pipe_ends[1]);
  const std::string image = MakeImage(100, 100, "jpg");

  // The second waiter reads a pipe nobody writes to, as the first job does: had it the worker
  // before the third, it would keep it until the time cap and end long after the third.
  int stall_ends[2];
  ASSERT_EQ(pipe2(stall_ends, O_CLOEXEC), 0);
  vm::TUniqueFd stall(stall_ends[0]), stall_writing(stall_ends[1]);

  std::atomic<int> finished{0};
  std::vector<int> order(4, -1);
  std::vector<Outcome> outcomes(4, Outcome::Placeholder);
  std::vector<vm::TUniqueFd> files;
  for (int k = 1; k <= 3; ++k) files.push_back(File("w" + std::to_string(k) + ".jpg", image));
  const std::vector<int> waiting = {files[1].Get(), stall.Get(), files[2].Get()};
  auto run = [&](int k, int fd) {
    outcomes[k] = workers.Make(fd, nullptr).Outcome;
    order[k] = finished++;
  };
  std::vector<std::thread> threads;
  threads.emplace_back(run, 0, reading.Get());  // holds the one worker until the time cap
  ASSERT_TRUE(vmtest::WaitUntil([&] { return !workers.ProgramIds().empty(); }));
  // A request whose browser has gone leaves the queue.
  EXPECT_EQ(workers.Make(files[0].Get(), [] { return true; }).Outcome, Outcome::Dropped);
  // Two may wait: the third pushes the oldest out. Each is in the queue before the next comes.
  for (int k = 1; k <= 3; ++k) {
    threads.emplace_back(run, k, waiting[static_cast<size_t>(k - 1)]);
    EXPECT_TRUE(vmtest::WaitUntil(vmtest::OthersAsleep));
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(outcomes[1], Outcome::Busy);
  EXPECT_EQ(outcomes[2], Outcome::Placeholder);
  EXPECT_EQ(outcomes[3], Outcome::Image);
  EXPECT_LT(order[3], order[2]) << "the newest waiter goes first";
}

TEST_F(ThumbnailMaker, KeepsThumbnailsAndUsesTheDesktopsFresh) {
  TTempFolder cache, shared;
  TThumbnailMaker maker({VELMARIND_THUMBNAILER, cache.Path(), shared.Path(), TThumbnailLimits()});
  const std::string path = files_.Path() + "photo.jpg";
  vm::TUniqueFd fd = File("photo.jpg", MakeImage(300, 200, "jpg"));
  struct stat info {};
  ASSERT_EQ(fstat(fd.Get(), &info), 0);

  const vm::thumbs::TThumbnailResult made = maker.Thumbnail(fd.Get(), path, info, nullptr);
  ASSERT_EQ(made.Outcome, Outcome::Image);
  const vm::thumbs::TThumbnailResult again =
      maker.Thumbnail(fd.Get(), files_.Path() + "./photo.jpg", info, nullptr);
  EXPECT_TRUE(again.File) << "asked by another spelling, the second comes from the cache";
  EXPECT_EQ(maker.Workers().Counters().made, 1u);

  // A fresh desktop thumbnail of another file is taken as it is; a stale one is not.
  const std::string other = files_.Path() + "other.jpg";
  vm::TUniqueFd otherFd = File("other.jpg", MakeImage(300, 200, "jpg"));
  struct stat otherInfo {};
  ASSERT_EQ(fstat(otherFd.Get(), &otherInfo), 0);
  gchar* uri = g_filename_to_uri(other.c_str(), nullptr, nullptr);
  gchar* md5 = g_compute_checksum_for_string(G_CHECKSUM_MD5, uri, -1);
  shared.MakeSubfolder("large");
  const std::string thumbPath = shared.Path() + "large/" + md5 + ".png";
  WriteFileBytes(thumbPath, SharedThumbnailPng(uri, otherInfo.st_mtime + 1));
  EXPECT_FALSE(maker.Thumbnail(otherFd.Get(), other, otherInfo, nullptr).File) << "stale";
  WriteFileBytes(thumbPath, SharedThumbnailPng(uri, otherInfo.st_mtime));
  otherInfo.st_mtim.tv_nsec += 1;  // a new state of the file: not in our cache yet
  const vm::thumbs::TThumbnailResult fresh =
      maker.Thumbnail(otherFd.Get(), other, otherInfo, nullptr);
  EXPECT_EQ(fresh.ContentType, "image/png");
  EXPECT_TRUE(fresh.File);
  g_free(md5);
  g_free(uri);
}

}  // namespace
