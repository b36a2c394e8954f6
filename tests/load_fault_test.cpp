// Load and faults against the whole server in this process, on loopback: many connections,
// idle and slow clients, resets in the middle of transfers, concurrent uploads, a full disk.
// Every test also checks that no thread and no file descriptor outlives the server.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "http/descriptor_limit.h"
#include "http/tcp_connection.h"
#include "platform/text_helpers.h"
#include "support/loopback_client.h"
#include "support/multipart.h"
#include "support/process_figures.h"
#include "support/random_bytes.h"
#include "support/served_core.h"
#include "support/waiting.h"

namespace vm {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::Exchange;
using testing::LoopbackClient;
using vmtest::kSanitizedBuild;
using vmtest::RandomBytes;
using vmtest::ReadFileBytes;
using vmtest::ResidentKiB;
using vmtest::ThreadCount;
using vmtest::TTempFolder;
using vmtest::WaitUntil;
using vmtest::WriteFileBytes;

constexpr char kShareName[] = "Share";
constexpr char kBoundary[] = "----VelmarindLoadBoundary7MA4YWxkTrZu0gW";
// Frames around the receive block of a head read, beyond the block itself.
constexpr size_t kStackProbeSlack = 4096;
const std::string kIndexRequest = vmtest::Request("GET", "/velmarind/index.html");
// Threads and descriptors of a connection end a moment after its socket: the connection
// drains its peer for up to a second at close and the listener joins ended threads when it
// next wakes. Everything must be back within the wait limit.
constexpr int kWorkerIdleMs = 300;
// A client address of its own for each group of connections: the server takes at most
// kDefaultMaxConnectionsPerAddress from one address.
constexpr int kPerAddress = 50;
std::string ClientAddress(int group) { return "127.0.1." + std::to_string(1 + group); }

// The browser's upload form: "menu", the file, then "dirname".
std::string UploadBody(const std::string& content, const std::string& folderName = kShareName) {
  return vmtest::Multipart({{"name=\"menu\"", "updimg"},
                            {"name=\"ifile\"; filename=\"C:\\up\\photo.bin\"", content},
                            {"name=\"dirname\"", HexEncode(folderName)}},
                           kBoundary);
}

std::string PostHead(size_t bodySize) {
  return std::string("POST /velmarind/index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
         "Content-Type: multipart/form-data; boundary=" + kBoundary +
         "\r\nContent-Length: " + std::to_string(bodySize) + "\r\n\r\n";
}

// A "200 OK" whose body has exactly the announced length.
::testing::AssertionResult IsWholeOk(const std::string& response) {
  const size_t headEnd = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || headEnd == std::string::npos)
    return ::testing::AssertionFailure() << "not a 200 answer: " << response.substr(0, 80);
  const size_t length = response.find("\r\nContent-Length: ");
  if (length == std::string::npos || length > headEnd)
    return ::testing::AssertionFailure() << "no length: " << response.substr(0, headEnd);
  const size_t announced = std::stoul(response.substr(length + 18));
  if (response.size() - headEnd - 4 != announced)
    return ::testing::AssertionFailure()
           << "body of " << response.size() - headEnd - 4 << " bytes, announced " << announced;
  return ::testing::AssertionSuccess();
}

// The saved uploads among names.
std::vector<std::string> UploadsIn(const std::vector<std::string>& names) {
  std::vector<std::string> uploads;
  for (const std::string& name : names) {
    if (name.rfind("__vupd_img_", 0) == 0) uploads.push_back(name);
  }
  return uploads;
}

// Hidden files left by an interrupted replace ("pastdata.txt", new texts) or a page write.
std::vector<std::string> Leftovers(const std::vector<std::string>& names) {
  std::vector<std::string> left;
  for (const std::string& name : names) {
    if (name[0] == '.' || name.find(".html.") != std::string::npos) left.push_back(name);
  }
  return left;
}

// A program folder sharing one folder, and the whole server on 127.0.0.1 in this process.
class LoadFault : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!served_) return;
    served_->Core().FormClose();
    const vmtest::TProgramFolder& program = served_->Folder();
    EXPECT_EQ(Leftovers(program.List()), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(program.List("page")), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(share_.List()), std::vector<std::string>{});
    served_.reset();
    // Everything the server made is gone again: threads, sockets, files.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsBefore_; }))
        << ThreadCount() << " threads, " << threadsBefore_ << " before the server";
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() == descriptorsBefore_; }))
        << OpenDescriptorCount() << " descriptors, " << descriptorsBefore_ << " before the server";
  }

  // Starts the server; extraShares are further "name;;path" lines of the shared-folder list.
  void Start(int idleTimeoutMs = TIdTCPServer::kDefaultIdleTimeoutMs,
             const std::vector<std::string>& extraShares = {}) {
    // A sanitizer runtime starts a helper thread of its own with a process's first thread; one
    // thread run beforehand keeps it out of the count.
    std::thread([] {}).join();
    threadsBefore_ = ThreadCount();
    descriptorsBefore_ = OpenDescriptorCount();
    std::vector<std::string> shares = {std::string(kShareName) + ";;" + share_.Path()};
    shares.insert(shares.end(), extraShares.begin(), extraShares.end());
    served_ = std::make_unique<vmtest::TServedCore>(shares, "", [&](TIdHTTPServer& server) {
      server.IdleTimeout = idleTimeoutMs;
      // Pool threads end soon after their last connection, so that "settled" includes the pool.
      server.WorkerIdleTime = kWorkerIdleMs;
    });
    port_ = served_->Port();
  }

  TIdHTTPServer& Server() { return served_->Server(); }
  std::string ProgramFolder() const { return served_->ProgramFolder(); }
  std::string Get(const std::string& request = kIndexRequest) { return Exchange(port_, request); }
  std::string Upload(const std::string& body) {
    return Exchange(port_, PostHead(body.size()) + body);
  }
  std::string DownloadRequest(const std::string& path) const {
    return vmtest::Request("GET", "/velmarind/download.html?file=" + HexEncode(path));
  }
  // The contents of the uploads saved in the share, sorted.
  std::vector<std::string> SavedUploads() const {
    std::vector<std::string> saved;
    for (const std::string& name : UploadsIn(share_.List()))
      saved.push_back(ReadFileBytes(share_.Path() + name));
    std::sort(saved.begin(), saved.end());
    return saved;
  }
  bool ServerSettled(int threads, size_t descriptors) {
    return WaitUntil([&] {
      return Server().ConnectionCount() == 0 && ThreadCount() == threads &&
             OpenDescriptorCount() == descriptors;
    });
  }

  TTempFolder share_;
  int threadsBefore_ = 0;
  size_t descriptorsBefore_ = 0;
  int port_ = 0;
  std::unique_ptr<vmtest::TServedCore> served_;  // last: stopped before the share goes
};

TEST_F(LoadFault, ThousandConnectionsBesideNormalRequestsAllEndCleanly) {
  // Sanitizers cost megabytes and much time per thread: their builds check the same with fewer.
  constexpr int kConnections = kSanitizedBuild ? 250 : 1000;
  constexpr int kNormalThreads = 4;
  constexpr int kNormalEach = 50;
  // A client and a server descriptor per connection, and room for the rest.
  if (RaiseDescriptorLimit() < static_cast<size_t>(2 * kConnections + 200))
    GTEST_SKIP() << "the hard limit on open files is too low for " << kConnections
                 << " connections in one process";
  Start();
  const int threads = ThreadCount();
  const size_t descriptors = OpenDescriptorCount();
  const long rssBefore = ResidentKiB();

  // A connection whose handshake the kernel dropped (full accept queue) takes a second or more.
  constexpr auto kRetransmitted = milliseconds(900);
  std::vector<std::unique_ptr<LoopbackClient>> idle;
  int retransmitted = 0;
  auto slowest = Clock::duration::zero();
  for (int i = 0; i < kConnections; ++i) {
    const auto start = Clock::now();
    idle.push_back(std::make_unique<LoopbackClient>(port_, ClientAddress(i / kPerAddress)));
    ASSERT_TRUE(idle.back()->Connected()) << "connection " << i;
    slowest = std::max(slowest, Clock::now() - start);
    retransmitted += Clock::now() - start >= kRetransmitted;
  }
  EXPECT_EQ(retransmitted, 0) << "handshakes dropped in the burst";
  ASSERT_TRUE(WaitUntil([&] { return Server().ConnectionCount() == kConnections; }))
      << Server().ConnectionCount() << " connections accepted";
  const long rssIdle = ResidentKiB();
  std::printf(
      "[ figures  ] %d idle connections: RSS %.1f MiB before, %.1f MiB with them "
      "(+%.1f MiB), %d threads; slowest connect %lld ms\n",
      kConnections, rssBefore / 1024.0, rssIdle / 1024.0, (rssIdle - rssBefore) / 1024.0,
      ThreadCount(),
      static_cast<long long>(std::chrono::duration_cast<milliseconds>(slowest).count()));
  // Sanitizers keep shadow memory and bookkeeping per thread: only a plain build is measured.
  if (!kSanitizedBuild) {
    EXPECT_LT(rssIdle - rssBefore, 100 * 1024) << "KiB for " << kConnections << " idle clients";
  }

  // Normal requests go on beside them, each answered in full.
  std::atomic<int> answered{0};
  std::vector<std::thread> normal;
  for (int t = 0; t < kNormalThreads; ++t) {
    normal.emplace_back([&, t] {
      const std::string from = "127.0.0." + std::to_string(2 + t);
      for (int i = 0; i < kNormalEach; ++i)
        answered += IsWholeOk(Exchange(port_, kIndexRequest, from));
    });
  }
  // Meanwhile every other idle client sends its request and is answered too; the rest leave,
  // half of them quietly and half with a reset.
  for (int i = 0; i < kConnections; i += 2) idle[i]->Send(kIndexRequest);
  int idleAnswered = 0;
  for (int i = 0; i < kConnections; ++i) {
    if (i % 2 == 0) {
      idleAnswered += IsWholeOk(idle[i]->ReadAll());
    } else if (i % 4 == 1) {
      idle[i]->Reset();
    }
    idle[i].reset();
  }
  for (std::thread& t : normal) t.join();
  EXPECT_EQ(answered, kNormalThreads * kNormalEach);
  EXPECT_EQ(idleAnswered, kConnections / 2);

  EXPECT_TRUE(ServerSettled(threads, descriptors))
      << Server().ConnectionCount() << " connections, " << ThreadCount() << " threads (" << threads
      << " before), " << OpenDescriptorCount() << " descriptors (" << descriptors << " before)";
  std::printf("[ figures  ] afterwards: %d threads, %zu descriptors, RSS %.1f MiB\n", ThreadCount(),
              OpenDescriptorCount(), ResidentKiB() / 1024.0);
}

TEST_F(LoadFault, IdleAndSlowClientsAreClosedWithoutDelayingOthers) {
  constexpr int kIdleLimitMs = 1500;
  constexpr int kSilent = 20;
  constexpr int kSlow = 50;
  // One byte per second each, below the idle limit, for longer than the limit: the head's
  // deadline, not the idle limit, ends them.
  constexpr int kDribbleRounds = 3;
  Start(kIdleLimitMs);
  const int threads = ThreadCount();
  const size_t descriptors = OpenDescriptorCount();

  const auto firstSilent = Clock::now();  // no silent client may be closed before this + limit
  testing::TClients silent = testing::OpenClients(port_, kSilent, ClientAddress(0));
  const auto firstSlow = Clock::now();
  testing::TClients slow = testing::OpenClients(port_, kSlow, ClientAddress(1));

  std::atomic<bool> dribbling{true};
  std::thread dribbler([&] {
    for (int round = 0; round < kDribbleRounds; ++round) {
      for (auto& client : slow) client->Send(kIndexRequest.substr(round, 1));
      std::this_thread::sleep_for(milliseconds(1000));
    }
    dribbling = false;
  });
  // Normal requests while the slow clients dribble and the silent ones wait.
  int requests = 0, answered = 0;
  auto slowest = Clock::duration::zero();
  while (dribbling) {
    const auto start = Clock::now();
    answered += IsWholeOk(Get());
    ++requests;
    slowest = std::max(slowest, Clock::now() - start);
    std::this_thread::sleep_for(milliseconds(20));  // a browser's pace, not a flood
  }
  dribbler.join();
  EXPECT_EQ(answered, requests);
  EXPECT_LT(slowest, milliseconds(1000)) << "a normal request waited behind slow clients";
  std::printf(
      "[ figures  ] %d normal requests beside %d slow and %d silent clients, slowest "
      "%lld ms\n",
      requests, kSlow, kSilent,
      static_cast<long long>(std::chrono::duration_cast<milliseconds>(slowest).count()));

  // The silent ones are closed once the idle limit has passed, not before.
  for (auto& client : silent) {
    EXPECT_TRUE(client->WaitForClose(kIdleLimitMs));
    EXPECT_GE(Clock::now() - firstSilent, milliseconds(kIdleLimitMs));
  }
  // The slow ones are closed once their head has taken the idle limit in all, although no
  // byte of it came later than the limit after the one before.
  for (auto& client : slow) {
    EXPECT_TRUE(client->WaitForClose(2 * kIdleLimitMs));
    EXPECT_GE(Clock::now() - firstSlow, milliseconds(kIdleLimitMs));
  }
  silent.clear();
  slow.clear();
  EXPECT_TRUE(IsWholeOk(Get()));
  EXPECT_TRUE(ServerSettled(threads, descriptors));
}

TEST_F(LoadFault, StalledOrResetDownloadsEndOnlyTheirConnection) {
  constexpr size_t kFileSize = 32 << 20;  // far more than the socket buffers hold
  constexpr int kResets = 20;
  const std::string path = share_.Path() + "big.bin";
  const std::string content = RandomBytes(kFileSize, 1);
  WriteFileBytes(path, content);
  constexpr int kIdleLimitMs = 1000;
  Start(kIdleLimitMs);
  const int threads = ThreadCount();
  const size_t descriptors = OpenDescriptorCount();

  // A client that asks and then reads nothing is given up once it has taken no byte for that
  // long: a file sent by the kernel, and an archive the server writes itself.
  for (const std::string& request :
       {DownloadRequest(path),
        vmtest::Request("GET", "/velmarind/vm-zip?dir=" + HexEncode(share_.Path()))}) {
    LoopbackClient stalled(port_);
    ASSERT_TRUE(stalled.Send(request));
    const auto asked = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return Server().ConnectionCount() == 1; }));
    // The kernel squeezes a few more bytes into the full queues for a moment after they fill.
    EXPECT_TRUE(
        WaitUntil([&] { return Server().ConnectionCount() == 0; }, milliseconds(5 * kIdleLimitMs)))
        << "the server still sends to a client that stopped reading: " << request;
    EXPECT_GE(Clock::now() - asked, milliseconds(kIdleLimitMs));
  }
  for (int i = 0; i < kResets; ++i) {
    LoopbackClient client(port_);
    ASSERT_TRUE(client.Send(DownloadRequest(path)));
    EXPECT_GE(client.ReadAtLeast(65536).size(), 65536u);
    client.Reset();
  }
  EXPECT_TRUE(ServerSettled(threads, descriptors));
  EXPECT_TRUE(IsWholeOk(Get()));
  const std::string whole = Get(DownloadRequest(path));
  ASSERT_TRUE(IsWholeOk(whole));
  EXPECT_TRUE(whole.compare(whole.size() - kFileSize, kFileSize, content) == 0);
}

TEST_F(LoadFault, ResetUploadsLeaveNoFileAndPastDataIsNeverTorn) {
  constexpr int kRounds = 12;
  // Sizes on both sides of the point where a body moves from memory to a temporary file.
  const size_t sizes[] = {64 << 10, 1 << 20, 5 << 20};
  std::vector<std::string> whole, cut;
  for (int i = 0; i < kRounds; ++i) {
    const size_t size = sizes[i % 3] + static_cast<size_t>(i);  // every body a size of its own
    whole.push_back(RandomBytes(size, 100 + i));
    cut.push_back(RandomBytes(size, 200 + i));
  }
  std::unordered_map<size_t, const std::string*> bodyOfSize;
  std::vector<std::string> wholeBodies;
  for (const std::string& content : whole) wholeBodies.push_back(UploadBody(content));
  for (const std::string& body : wholeBodies) bodyOfSize[body.size()] = &body;
  Start();
  const int threads = ThreadCount();
  const size_t descriptors = OpenDescriptorCount();

  // A reader watches "pastdata.txt" the whole time: absent, or one whole body.
  const std::string pastData = ProgramFolder() + "pastdata.txt";
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!done) {
      const std::string seen = ReadFileBytes(pastData);
      ++reads;
      if (seen.empty()) continue;
      auto it = bodyOfSize.find(seen.size());
      if (it == bodyOfSize.end() || *it->second != seen) ++torn;
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    // Cut off after a part of the body (the headers, the fields and some of the file).
    const std::string body = UploadBody(cut[i]);
    LoopbackClient client(port_);
    EXPECT_TRUE(client.Send(PostHead(body.size()) + body.substr(0, body.size() / 2)));
    EXPECT_TRUE(WaitUntil([&] { return client.AllRead(); }));  // the server is inside the body
    client.Reset();
    EXPECT_TRUE(IsWholeOk(Upload(wholeBodies[i]))) << "upload " << i;
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_TRUE(ServerSettled(threads, descriptors));

  // Exactly the whole uploads, byte for byte; nothing of the cut ones.
  const std::vector<std::string> saved = SavedUploads();
  std::sort(whole.begin(), whole.end());
  EXPECT_EQ(saved.size(), whole.size());
  EXPECT_TRUE(saved == whole) << "saved uploads differ from what was sent";
  EXPECT_EQ(ReadFileBytes(pastData), wholeBodies.back());
}

TEST_F(LoadFault, TwoHundredUploadsAtOnceGiveTwoHundredWholeFiles) {
  constexpr int kUploads = 200;
  std::vector<std::string> contents;
  for (int i = 0; i < kUploads; ++i) contents.push_back(RandomBytes(4096 + 257 * i, 1000 + i));
  Start();

  std::mutex gate;
  std::condition_variable opened;
  bool go = false;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kUploads; ++i) {
    clients.emplace_back([&, i] {
      const std::string body = UploadBody(contents[i]);
      LoopbackClient client(port_, ClientAddress(i / kPerAddress));
      {
        std::unique_lock<std::mutex> lock(gate);
        opened.wait(lock, [&] { return go; });
      }
      client.Send(PostHead(body.size()) + body);
      answered += IsWholeOk(client.ReadAll());
    });
  }
  {
    std::lock_guard<std::mutex> lock(gate);
    go = true;
  }
  opened.notify_all();
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(answered, kUploads);

  const std::vector<std::string> saved = SavedUploads();
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(saved.size(), static_cast<size_t>(kUploads));
  EXPECT_TRUE(saved == contents) << "an upload was lost, merged or changed";
  // 200 writers of "pastdata.txt" at once leave one whole body: the last to finish.
  const std::string pastData = ReadFileBytes(ProgramFolder() + "pastdata.txt");
  EXPECT_TRUE(std::any_of(contents.begin(), contents.end(),
                          [&](const std::string& c) { return pastData == UploadBody(c); }))
      << "pastdata.txt holds " << pastData.size() << " bytes of no single body";
}

// The idle limit counts from the last byte; without a deadline for the whole head, a client
// sending a byte a little more often than that would keep its thread until the head reached its
// 64 KiB limit (18 hours at a byte a second). A body read only to be dropped (here one the
// document never reads) had no deadline at all: a byte every 45 s kept a connection for minutes.
TEST_F(LoadFault, ClientDribblingItsHeadIsClosedByADeadline) {
  constexpr int kIdleLimitMs = 1000;
  constexpr int kBytes = 8;  // a byte every half limit: four limits in all
  Start(kIdleLimitMs);
  const std::string droppedBodyHead =
      vmtest::Request("POST", "/velmarind/vm-view", "Content-Length: 100\r\n");
  for (const std::string& start : {std::string(), droppedBodyHead}) {
    LoopbackClient client(port_);
    client.Send(start);
    bool closed = false;
    for (int i = 0; i < kBytes && !closed; ++i) {
      client.Send(kIndexRequest.substr(static_cast<size_t>(i), 1));
      closed = client.WaitForClose(kIdleLimitMs / 2);
    }
    EXPECT_TRUE(closed) << "still open after " << kBytes * kIdleLimitMs / 2
                        << " ms of dribbling after: " << start;
  }
}

// How deep a connection thread goes into its stack: the free stack below a hook's frame is
// painted before the request is handled, and the lowest changed byte is found afterwards.
class TStackProbe {
 public:
  // Bytes from the top of the stack down to the painting hook's frame.
  [[gnu::noinline]] static size_t Paint() {
    char* frame = static_cast<char*>(__builtin_frame_address(0));
    auto [low, top] = Bounds();
    // memset's own frame and the red zone lie just below ours: they are left unpainted.
    char* end = frame - kPaintGap;
    std::memset(low, kPaint, static_cast<size_t>(end - low));
    return static_cast<size_t>(top - frame);
  }
  // Bytes from the top of the stack down to the lowest byte changed since Paint.
  static size_t DeepestUse() {
    auto [low, top] = Bounds();
    const char* p = low;
    while (p < top && static_cast<unsigned char>(*p) == kPaint) ++p;
    return static_cast<size_t>(top - p);
  }

 private:
  static constexpr unsigned char kPaint = 0xA5;
  static constexpr ptrdiff_t kPaintGap = 4096;
  static std::pair<char*, char*> Bounds() {
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    return {static_cast<char*>(low), static_cast<char*>(low) + size};
  }
};

// The heaviest requests we know (a big listing, a large upload, a new text, long pages, a
// failed download) on connection threads with the default stack, at most half of it used.
TEST_F(LoadFault, DeepestRequestsUseLessThanHalfTheConnectionStack) {
  constexpr int kEntries = 10000;
  constexpr int kShares = 300;
  const std::string big = share_.MakeSubfolder("big");
  for (int i = 0; i < kEntries; ++i) {
    // Names CP932 can hold and names it cannot, each converted on the way.
    const std::string name = (i % 3 == 0   ? "\xe5\x86\x99\xe7\x9c\x9f_"
                              : i % 3 == 1 ? "\xf0\x9f\x98\x80_"
                                           : "file_") +
                             std::to_string(i) + ".jpg";
    WriteFileBytes(big + name, "");
  }
  std::vector<std::string> shares;
  for (int i = 0; i < kShares; ++i) shares.push_back("S" + std::to_string(i) + ";;" + big);
  Start(TIdTCPServer::kDefaultIdleTimeoutMs, shares);

  // The hooks are wrapped while the server is off, so that every connection thread sees them.
  std::atomic<size_t> deepest{0}, hookFrame{0};
  Server().SetActive(false);
  auto create = Server().OnCreatePostStream;
  auto get = Server().OnCommandGet;
  Server().OnCreatePostStream = [&, create](TIdPeerThread* t, std::unique_ptr<TStream>& s) {
    if (!kSanitizedBuild) hookFrame = std::max(hookFrame.load(), TStackProbe::Paint());
    create(t, s);
  };
  Server().OnCommandGet = [&, get](TIdPeerThread* t, TIdHTTPRequestInfo& q,
                                   TIdHTTPResponseInfo& r) {
    get(t, q, r);
    if (!kSanitizedBuild) deepest = std::max(deepest.load(), TStackProbe::DeepestUse());
  };
  Server().SetActive(true);
  port_ = Server().BoundPort();

  using vmtest::Request;
  const std::string listing = Get(Request(
      "GET", "/velmarind/script.html?pid=m1&name=" + HexEncode("S0") + "&path=" + HexEncode(big)));
  EXPECT_TRUE(IsWholeOk(listing));
  EXPECT_GT(listing.size(), static_cast<size_t>(kEntries) * 20);
  EXPECT_TRUE(IsWholeOk(Get()));
  EXPECT_TRUE(
      IsWholeOk(Get(Request("GET", "/velmarind/text.html?dirname=" + HexEncode(kShareName)))));
  const std::string text = "menu=newtext&dirname=" + HexEncode(kShareName) +
                           "&fname=note.txt&tbody=" + std::string(100000, 'x');
  EXPECT_TRUE(IsWholeOk(Get(Request("POST", "/velmarind/blank.html", "", text))));
  EXPECT_TRUE(IsWholeOk(Upload(UploadBody(RandomBytes(5 << 20, 3)))));
  const std::string failed = Get(DownloadRequest(share_.Path() + "missing.bin"));
  EXPECT_EQ(failed.rfind("HTTP/1.1 500 ", 0), 0u) << failed.substr(0, 100);
  EXPECT_EQ(UploadsIn(share_.List()).size(), 1u);

  if (kSanitizedBuild) GTEST_SKIP() << "stack use is not measured in sanitizer builds";
  // Reading the head takes one receive block on the stack, from about the hooks' depth.
  const size_t headRead = hookFrame + TIdTCPConnection::kRecvBufferSize + kStackProbeSlack;
  std::printf(
      "[ figures  ] connection stack %zu KiB: hooks used %zu KiB, head read about "
      "%zu KiB\n",
      Server().ConnectionStackSize / 1024, deepest.load() / 1024, headRead / 1024);
  EXPECT_GT(deepest, hookFrame);
  EXPECT_LT(std::max(deepest.load(), headRead), Server().ConnectionStackSize / 2);
}

// A small memory file system mounted on an empty folder for one test, unmounted in all cases.
class TSmallDisk {
 public:
  explicit TSmallDisk(const std::string& folder) : folder_(folder) {
    if (geteuid() != 0) {
      why_ = "not running as root";
    } else if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=8m") != 0) {
      why_ = std::string("mount failed: ") + std::strerror(errno);
    } else {
      mounted_ = true;
    }
  }
  ~TSmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& WhyNot() const { return why_; }

 private:
  std::string folder_;
  bool mounted_ = false;
  std::string why_;
};

TEST_F(LoadFault, FullDiskDuringAnUploadEndsClearlyAndKeepsOldFiles) {
  const std::string folder = share_.MakeSubfolder("small");
  TSmallDisk disk(folder);
  if (!disk.Mounted()) GTEST_SKIP() << "no small disk for the test: " << disk.WhyNot();
  const std::string keep = RandomBytes(1 << 20, 7);
  WriteFileBytes(folder + "keep.bin", keep);
  Start(TIdTCPServer::kDefaultIdleTimeoutMs, {"Small;;" + folder});

  // More than the disk holds: the request is answered, the server goes on.
  const std::string response = Upload(UploadBody(RandomBytes(12 << 20, 8), "Small"));
  EXPECT_TRUE(IsWholeOk(response)) << response.substr(0, 200);
  EXPECT_EQ(ReadFileBytes(folder + "keep.bin"), keep);
  EXPECT_EQ(UploadsIn(share_.List("small")), std::vector<std::string>{});
  EXPECT_EQ(Leftovers(share_.List("small")), std::vector<std::string>{});
  EXPECT_TRUE(IsWholeOk(Get()));

  // The space is free again: an upload that fits is saved whole.
  const std::string fits = RandomBytes(100 << 10, 9);
  EXPECT_TRUE(IsWholeOk(Upload(UploadBody(fits, "Small"))));
  const std::vector<std::string> saved = UploadsIn(share_.List("small"));
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(ReadFileBytes(folder + saved[0]), fits);
}

}  // namespace
}  // namespace vm
