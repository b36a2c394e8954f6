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

using vm::thumbs::TJobKind;
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

// Runs a command of a test package (ImageMagick's convert, heif-enc, ffmpeg) in a fresh folder,
// "OUT" in args standing for the file it writes there, "IN" for one holding input; returns the
// written file's bytes. Images and videos are made in other processes: the test process runs no
// image or video library of its own.
std::string MadeBy(std::vector<std::string> args, const std::string& out,
                   const std::string& input = "", const std::string& in = "in.jpg") {
  const TTempFolder folder;
  if (!input.empty()) WriteFileBytes(folder.Path() + in, input);
  for (std::string& a : args) {
    if (a.ends_with("OUT")) a.replace(a.size() - 3, 3, folder.Path() + out);
    if (a == "IN") a = folder.Path() + in;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0) << args[0];
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << " failed";
  return vmtest::ReadFileBytes(folder.Path() + out);
}

// Bytes of an image ImageMagick (a test package) makes: a gradient of width x height, written as
// format (e.g. "jpg", "png"), with the extra options before the output name.
std::string MakeImage(int width, int height, const std::string& format,
                      const std::vector<std::string>& options = {},
                      const std::string& source = "gradient:gray20-gray80") {
  // "png24": RGB, even for grey pixels (a plain PNG of grey pixels is stored as grey).
  const bool rgb = format == "png24";
  std::vector<std::string> args = {
      "convert", "-size", std::to_string(width) + "x" + std::to_string(height),
      "-depth",  "8",     source};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(rgb ? "png24:OUT" : "OUT");
  return MadeBy(args, "image." + (rgb ? std::string("png") : format));
}

// A HEIC of a JPEG of a coloured gradient (heif-enc, a test package).
std::string MakeHeic(int width, int height) {
  return MadeBy({"heif-enc", "-q", "50", "-o", "OUT", "IN"}, "photo.heic",
                MakeImage(width, height, "jpg", {}, "gradient:red-blue"));
}

// The HEIC as a phone held upright stores it: to be turned 90 degrees clockwise by a rotation
// property (irot). It takes the place of heif-enc's pixel property, which has the same size.
std::string TurnedHeic(std::string heic) {
  const size_t at = heic.find("pixi");
  if (at == std::string::npos || at < 4 || heic.compare(at - 4, 4, std::string("\0\0\0\x10", 4))) {
    ADD_FAILURE() << "heif-enc wrote no pixel property of 16 bytes";
    return heic;
  }
  return heic.replace(at, 12, std::string("irot\x03", 5) + std::string(7, '\0'));
}

// A second of an H.264 video (ffmpeg, a test package) whose stream says it is to be shown
// turned 90 degrees clockwise, as a phone held upright films.
std::string MakeTurnedVideo(int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string plain =
      MadeBy({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=10",
              "-t", "1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "OUT"},
             "plain.mp4");
  return MadeBy(
      {"ffmpeg", "-v", "error", "-i", "IN", "-c", "copy", "-metadata:s:v:0", "rotate=90", "OUT"},
      "turned.mp4", plain, "in.mp4");
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

// A camera's RAW file as a DNG holds it (little-endian TIFF), taken with the camera turned
// (orientation 6): a first directory of the sensor's 32 x 32 samples under a colour filter, and
// beneath it the preview: a JPEG, or RGB pixels of the given size.
std::string DngWithPreview(const std::string& preview, TImageSize pixels = {}) {
  auto u16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
  auto u32 = [&](uint32_t v) { return u16(v) + u16(v >> 16); };
  auto directory = [&](const std::vector<uint32_t>& entries) {  // tag, type, count, value each
    std::string bytes = u16(uint32_t(entries.size() / 4));
    for (size_t k = 0; k < entries.size(); k += 4) {
      bytes += u16(entries[k]) + u16(entries[k + 1]) + u32(entries[k + 2]) + u32(entries[k + 3]);
    }
    return bytes + u32(0);
  };
  const bool jpeg = pixels.width == 0;
  const TImageSize size = jpeg ? SizeOf(preview) : pixels;
  const uint32_t below = 8 + 2 + 9 * 12 + 4, sensorAt = below + 2 + 9 * 12 + 4;
  return std::string("II*\0", 4) + u32(8) +
         directory({0x100, 4, 1, 32,    0x101, 4, 1, 32,       0x102,  3, 1, 16,
                    0x106, 3, 1, 32803, 0x111, 4, 1, sensorAt, 0x112,  3, 1, 6,
                    0x117, 4, 1, 2048,  0x14A, 4, 1, below,    0xC612, 1, 4, 0x401}) +
         directory({0xFE,  4, 1, 1,
                    0x100, 4, 1, uint32_t(size.width),
                    0x101, 4, 1, uint32_t(size.height),
                    0x102, 3, 1, 8,
                    0x103, 3, 1, jpeg ? 7u : 1u,
                    0x106, 3, 1, jpeg ? 6u : 2u,
                    0x111, 4, 1, sensorAt + 2048,
                    0x115, 3, 1, 3,
                    0x117, 4, 1, uint32_t(preview.size())}) +
         std::string(2048, '\0') + preview;
}

// The JPEG tagged with an ICC profile that swaps sRGB's red and green primaries.
std::string WithSwappedPrimaries(const std::string& jpeg) {
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto xyz = [&](double x, double y, double z) {
    return "XYZ " + be32(0) + be32(x * 65536) + be32(y * 65536) + be32(z * 65536);
  };
  std::string tags = be32(6);  // the three primaries, one curve for all three
  for (int k = 0; k < 6; ++k)
    tags += std::string("rXYZgXYZbXYZrTRCgTRCbTRC", 4 * k, 4) + be32(204 + 20 * (k < 3 ? k : 3)) +
            be32(k < 3 ? 20 : 14);
  const std::string segment = "ICC_PROFILE" + std::string("\0\x01\x01", 3) + be32(278) + be32(0) +
                              be32(0x02100000) + "mntrRGB XYZ " + std::string(12, '\0') + "acsp" +
                              std::string(88, '\0') + tags + xyz(0.3851, 0.7169, 0.0971) +
                              xyz(0.4361, 0.2225, 0.0139) + xyz(0.1431, 0.0606, 0.7141) + "curv" +
                              be32(0) + be32(1) + std::string("\x01\0", 2);
  return jpeg.substr(0, 2) + "\xff\xe2" + char((segment.size() + 2) >> 8) +
         char((segment.size() + 2) & 0xFF) + segment + jpeg.substr(2);
}

class ThumbnailMaker : public ::testing::Test {
 protected:
  // A file of the bytes in the test folder, opened for reading.
  vm::TUniqueFd File(const std::string& name, const std::string& bytes) const {
    WriteFileBytes(files_.Path() + name, bytes);
    return vm::TUniqueFd(open((files_.Path() + name).c_str(), O_RDONLY | O_CLOEXEC));
  }

  TMade MakeWith(TThumbnailWorkers& workers, const std::string& name, const std::string& bytes,
                 TJobKind kind = TJobKind::Thumbnail) {
    vm::TUniqueFd fd = File(name, bytes);
    return workers.Make(fd.Get(), nullptr, kind);
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

TEST_F(ThumbnailMaker, ConvertsPicturesAndVideosUpright) {
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, TThumbnailLimits());
  const std::string heic = MakeHeic(320, 240);
  const std::string video = MakeTurnedVideo(320, 240);
  const std::string dng = DngWithPreview(MakeImage(640, 480, "jpg"));
  struct Row {
    const char* label;
    const char* name;
    std::string bytes;
    TJobKind kind;
    TImageSize size;  // zero: a placeholder
  };
  const std::vector<Row> rows = {
      {"heic view, never enlarged", "a.heic", heic, TJobKind::View, {320, 240}},
      {"heic thumbnail", "a.heic", heic, TJobKind::Thumbnail, {256, 192}},
      {"heic turned by its rotation", "t.heic", TurnedHeic(heic), TJobKind::View, {240, 320}},
      {"tiff fitted, turned by its orientation",
       "o.tif",
       MakeImage(3000, 1000, "tif", {"-orient", "RightTop"}),
       TJobKind::View,
       {853, 2560}},
      {"broken heic", "b.heic", heic.substr(0, heic.size() / 2), TJobKind::View, {}},
      {"broken heic thumbnail", "b.heic", heic.substr(0, heic.size() / 2), TJobKind::Thumbnail, {}},
      {"camera's preview, turned as the camera was held", "r.dng", dng, TJobKind::View, {480, 640}},
      {"a camera's file cut within its preview, never its sensor's data",
       "c.dng",
       dng.substr(0, dng.size() - 1000),
       TJobKind::View,
       {}},
      {"camera's preview of plain pixels, turned",
       "p.dng",
       DngWithPreview(std::string(64 * 48 * 3, '\x80'), {64, 48}),
       TJobKind::View,
       {48, 64}},
      {"video frame, turned", "v.mp4", video, TJobKind::VideoThumbnail, {192, 256}},
      {"a photo is no video", "p.mp4", heic, TJobKind::VideoThumbnail, {}},
      {"nor has it a video's facts", "p.mp4", heic, TJobKind::VideoFacts, {}},
  };
  for (const Row& row : rows) {
    const TMade made = MakeWith(workers, row.name, row.bytes, row.kind);
    if (row.size.width == 0) {
      EXPECT_EQ(made.Outcome, Outcome::Placeholder) << row.label;
      continue;
    }
    ASSERT_EQ(made.Outcome, Outcome::Image) << row.label;
    EXPECT_EQ(made.ContentType, "image/jpeg") << row.label;
    const TImageSize size = SizeOf(made.Bytes);
    EXPECT_EQ(size.width, row.size.width) << row.label;
    EXPECT_EQ(size.height, row.size.height) << row.label;
  }
  // The facts a browser is asked about: shown size turned, codec as it names it.
  const TMade facts = MakeWith(workers, "v.mp4", video, TJobKind::VideoFacts);
  ASSERT_EQ(facts.Outcome, Outcome::Image);
  EXPECT_EQ(facts.ContentType, "text/plain");
  EXPECT_TRUE(facts.Bytes.starts_with("type=video/mp4\ncodecs=avc1.64")) << facts.Bytes;
  EXPECT_TRUE(facts.Bytes.ends_with("\nduration=1.000\nwidth=240\nheight=320\n")) << facts.Bytes;
  EXPECT_EQ(workers.Counters().ended, 0u) << "no decoder crashed or hung";
}

TEST_F(ThumbnailMaker, ViewsShowTaggedColoursInSrgb) {
  TThumbnailWorkers workers(VELMARIND_THUMBNAILER, TThumbnailLimits());
  const std::string red = WithSwappedPrimaries(MakeImage(64, 48, "jpg", {}, "xc:red"));
  const std::string rgb =  // the view's mean red, green and blue
      MadeBy({"convert", "IN", "-resize", "1x1!", "-depth", "8", "rgb:OUT"}, "c.rgb",
             MakeWith(workers, "c.jpg", red, TJobKind::View).Bytes);
  EXPECT_GT(uint8_t(rgb.at(1)), uint8_t(rgb.at(0)) + 64) << "the profile's red is green";
}

TEST_F(ThumbnailMaker, HostileOrHugeImagesGetPlaceholders) {
  TThumbnailLimits limits;
  // The program's libraries take about 40 MiB of it before any image (the video decoders' among
  // them); the rest is the room a decode has.
  limits.MemoryMiB = 96;
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
  // The pixel cap holds for cameras' previews as for any picture.
  limits.MaxPixels = 64 * 48 - 1;
  TThumbnailWorkers capped(VELMARIND_THUMBNAILER, limits);
  for (const std::string& dng : {DngWithPreview(MakeImage(64, 48, "jpg")),
                                 DngWithPreview(std::string(64 * 48 * 3, 'x'), {64, 48})}) {
    EXPECT_EQ(MakeWith(capped, "capped.dng", dng).Outcome, Outcome::Placeholder);
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
