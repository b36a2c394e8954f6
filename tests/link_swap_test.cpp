// A local process swaps links inside a share between a place inside and a place outside while
// browsers download, list and write through them: nothing from outside may ever be answered,
// and nothing may be written there.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_helpers.h"
#include "support/served_core.h"

namespace {

using vm::HexEncode;
using vmtest::Request;
using vmtest::TServedCore;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

constexpr char kInside[] = "inside";
constexpr char kSecret[] = "OUTSIDE-SECRET-9d1e";
constexpr char kSecretEntry[] = "outside-entry.txt";
// Requests of each kind, and the time they may take at most on a loaded machine.
constexpr int kRequests = 2000;
constexpr auto kDeadline = std::chrono::seconds(60);
constexpr int kClients = 4;

// Points link at target, in one step (a new link renamed over the old one).
void PointLink(const std::string& link, const std::string& target) {
  const std::string fresh = link + ".new";
  unlink(fresh.c_str());
  if (symlink(target.c_str(), fresh.c_str()) == 0) rename(fresh.c_str(), link.c_str());
}

TEST(LinkSwap, NothingFromOutsideIsEverAnswered) {
  TTempFolder files;  // declared before the server: removed only after it has stopped
  const std::string share = files.MakeSubfolder("P");
  const std::string outside = files.MakeSubfolder("outside");
  const std::string inner = files.MakeSubfolder("P/inner");
  WriteFileBytes(share + "in.txt", kInside);
  WriteFileBytes(inner + "inner-entry.txt", kInside);
  WriteFileBytes(outside + "secret.txt", kSecret);
  WriteFileBytes(outside + kSecretEntry, kSecret);
  PointLink(share + "file", share + "in.txt");
  PointLink(share + "folder", inner);
  TServedCore served({"P;;" + share});

  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    for (bool in = false; !stop; in = !in, ++swaps) {
      PointLink(share + "file", in ? share + "in.txt" : outside + "secret.txt");
      PointLink(share + "folder", in ? inner : outside);
    }
  });

  const std::string download =
      Request("GET", "/velmarind/download.html?file=" + HexEncode(share + "file"));
  const std::string listing =
      Request("GET", "/velmarind/script.html?pid=m1&name=50&path=" + HexEncode(share + "folder/"));
  // A new text into the folder behind the link, under a name of its own.
  auto post = [&share](int client, int n) {
    const std::string text = "menu=newtext&dirname=50&dirpath=" + HexEncode(share + "folder/") +
                             "&fname=t" + std::to_string(client) + "-" + std::to_string(n) +
                             ".txt&tbody=x";
    return Request("POST", "/velmarind/blank.html",
                   "Content-Type: application/x-www-form-urlencoded\r\n", text);
  };
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  std::atomic<int> downloads{0}, served_inside{0}, listings{0}, listed_inside{0}, leaks{0};
  std::atomic<int> posts{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int n = 0; n < kRequests / kClients && std::chrono::steady_clock::now() < deadline;
           ++n) {
        const std::string file = served.Exchange(download);
        ++downloads;
        if (file.find(kSecret) != std::string::npos) ++leaks;
        if (file.ends_with(std::string("\r\n\r\n") + kInside)) ++served_inside;
        const std::string list = served.Exchange(listing);
        ++listings;
        if (list.find(kSecretEntry) != std::string::npos) ++leaks;
        if (list.find("inner-entry.txt") != std::string::npos) ++listed_inside;
        if (n % 4 == 0) {  // writes are slower; a quarter of the rounds make one
          served.Exchange(post(c, n));
          ++posts;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  stop = true;
  swapper.join();
  size_t written = 0, writtenOutside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(inner)) {
    written += entry.path().filename().string().starts_with("t") ? 1 : 0;
  }
  for (const auto& entry : std::filesystem::directory_iterator(outside)) {
    const std::string name = entry.path().filename().string();
    writtenOutside += name != "secret.txt" && name != kSecretEntry ? 1 : 0;
  }
  std::printf(
      "%ld swaps; %d downloads (%d of the inside file), %d listings (%d of the inside "
      "folder), %d answers from outside; %d new texts (%zu inside), %zu written outside\n",
      swaps.load(), downloads.load(), served_inside.load(), listings.load(), listed_inside.load(),
      leaks.load(), posts.load(), written, writtenOutside);
  EXPECT_EQ(leaks, 0);
  EXPECT_EQ(writtenOutside, 0u);
  EXPECT_GT(written, 0u);
  // The race was run: both sides of the link were met.
  EXPECT_GT(served_inside, 0);
  EXPECT_LT(served_inside, downloads);
  EXPECT_GT(listed_inside, 0);
}

}  // namespace
