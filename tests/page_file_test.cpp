#include "web/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/exception.h"
#include "support/page_lines.h"
#include "support/random_bytes.h"
#include "support/waiting.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;

TEST(PageFile, WritesLinesWithCrLfAndNoByteOrderMark) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "index_127.0.0.1.html";
  WritePageFile(page, {"<HTML>", "", Sjis("送信"), "</HTML>"});
  EXPECT_EQ(ReadFileBytes(page), "<HTML>\r\n\r\n\x91\x97\x90\x4d\r\n</HTML>\r\n");
}

TEST(PageFile, RewriteReplacesTheWholePageAndLeavesNoTemporaryFile) {
  TTempFolder folder;
  const std::string pageFolder = folder.MakeSubfolder("page");
  const std::string page = pageFolder + "text_127.0.0.1.html";
  WritePageFile(page, {"a much longer first page", "with two lines"});
  WritePageFile(page, {"short"});
  EXPECT_EQ(ReadFileBytes(page), "short\r\n");
  EXPECT_EQ(folder.List("page"), std::vector<std::string>{"text_127.0.0.1.html"});
  EXPECT_EQ(vmtest::PermissionsOf(page), kPageFileMode);
}

// A page written as it is made (a listing of hundreds of MB): the answer is the bytes written,
// also when another request replaces the page before they are sent; an unfinished page leaves
// nothing behind.
TEST(PageFile, PageWrittenAsItIsMadeIsServedFromItsOwnFile) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "script_127.0.0.1.html";
  const std::string large = vmtest::RandomBytes(300'000, 5);
  TPageFileWriter writer(page);
  writer.Append("m1;;");
  writer.Append(large);
  const TUniqueFd served = writer.Commit();
  EXPECT_EQ(vmtest::PermissionsOf(page), kPageFileMode);
  WritePageFile(page, {"the next request's page"});
  EXPECT_EQ(ReadFileBytes("/proc/self/fd/" + std::to_string(served.Get())), "m1;;" + large);
  { TPageFileWriter(page).Append("unfinished"); }
  EXPECT_EQ(folder.List("page"), std::vector<std::string>{"script_127.0.0.1.html"});
}

TEST(PageFile, UnchangedPageStaysTheSameFileAndAnyChangeReplacesIt) {
  TTempFolder folder;
  const std::string pageFolder = folder.MakeSubfolder("page");
  const std::string page = pageFolder + "index_127.0.0.1.html";
  auto inode = [&](const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
  };
  WritePageFile(page, {"abc"});
  const ino_t first = inode(page);
  WritePageFile(page, {"abc"});
  EXPECT_EQ(inode(page), first) << "the same bytes are not written again";
  WritePageFile(page, {"abd"});  // same size, other bytes
  EXPECT_EQ(ReadFileBytes(page), "abd\r\n");
  EXPECT_NE(inode(page), first);

  // A link put in the page's place is replaced, never read or written through.
  const std::string outside = folder.Path() + "outside.txt";
  vmtest::WriteFileBytes(outside, "abd\r\n");
  std::remove(page.c_str());
  ASSERT_EQ(::symlink(outside.c_str(), page.c_str()), 0);
  WritePageFile(page, {"abd"});
  struct stat info {};
  ASSERT_EQ(::lstat(page.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadFileBytes(outside), "abd\r\n");
}

// Something other than a file in the page's place (a FIFO nobody writes) is replaced at once:
// comparing it with the new page must not wait for a writer that never comes.
TEST(PageFile, FifoInThePagesPlaceIsReplacedWithoutWaiting) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "index_127.0.0.1.html";
  ASSERT_EQ(::mkfifo(page.c_str(), 0600), 0);
  auto write = std::async(std::launch::async, [&] { WritePageFile(page, {"abc"}); });
  if (write.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Let the blocked open go on, so that the test ends.
    const int fd = ::open(page.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    write.wait();
    FAIL() << "writing the page waited on the FIFO";
  }
  write.get();
  struct stat info {};
  ASSERT_EQ(::lstat(page.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadFileBytes(page), "abc\r\n");
}

TEST(PageFile, MissingFolderThrowsCreateErrorWithThePath) {
  TTempFolder folder;
  const std::string page = folder.Path() + "page/login_127.0.0.1.html";
  try {
    WritePageFile(page, {"x"});
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), Sjis("ファイル ") + page + Sjis(" を作成できません"));
  }
  EXPECT_TRUE(folder.List().empty());
}

TEST(PageFile, PathNamesKindAndAddress) {
  EXPECT_EQ(PageFilePath("/opt/vm/", "blank", "192.168.0.12"),
            "/opt/vm/page/blank_192.168.0.12.html");
}

// Two requests of one kind from one address write the same page file at once; each answer
// must be a complete page, never a mix or a truncated file.
TEST(PageFile, ConcurrentWritersNeverShowATornPage) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "index_127.0.0.1.html";
  const std::vector<std::string> first(300, std::string(40, 'a'));
  const std::vector<std::string> second(150, std::string(90, 'b'));
  const std::string firstBytes = JoinCrLf(first);
  const std::string secondBytes = JoinCrLf(second);
  WritePageFile(page, first);

  // The writers go on until the reader has looked often enough: on a busy machine it may be
  // scheduled only after they would otherwise have finished.
  constexpr int kWritesPerThread = 200;
  constexpr int kReads = 200;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::atomic<int> writersDone{0};
  std::atomic<int> reads{0};
  auto writer = [&](const std::vector<std::string>& lines) {
    for (int i = 0; (i < kWritesPerThread || reads < kReads) &&
                    std::chrono::steady_clock::now() < deadline;
         ++i) {
      WritePageFile(page, lines);
    }
    ++writersDone;
  };
  std::thread a(writer, std::cref(first));
  std::thread b(writer, std::cref(second));
  int torn = 0;
  // At least one read, also when both writers are done before this thread runs.
  do {
    const std::string bytes = ReadFileBytes(page);
    if (bytes != firstBytes && bytes != secondBytes) ++torn;
    ++reads;
  } while (writersDone < 2 && std::chrono::steady_clock::now() < deadline);
  a.join();
  b.join();
  EXPECT_EQ(torn, 0) << "of " << reads.load() << " reads";
  EXPECT_GT(reads, 0);
  EXPECT_EQ(folder.List("page").size(), 1u) << "a temporary file was left behind";
}

TEST(RequestStamp, FifteenDigitsFromTheLocalClock) {
  // Far below a second, so that a stamp counting whole seconds shows.
  constexpr std::chrono::milliseconds kFewMilliseconds{20};
  const std::string before = RequestStamp();
  const std::string stamp = RequestStamp();
  EXPECT_TRUE(vmtest::IsStamp(stamp)) << stamp;
  EXPECT_LE(before, stamp);
  // It counts milliseconds: a few of them later it is later.
  EXPECT_TRUE(vmtest::WaitUntil([&] { return RequestStamp() > stamp; }, kFewMilliseconds));

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char dayHour[16];
  std::strftime(dayHour, sizeof dayHour, "%y%m%d", &local);
  EXPECT_EQ(stamp.substr(0, 6), dayHour);  // fails only in the second around midnight
}

}  // namespace
}  // namespace vm
