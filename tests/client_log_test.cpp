// The record of clients seen lately: order, forgetting, the cap, and the transfers that show
// while their bytes move, fed by a served core.
#include "state/client_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/text_helpers.h"
#include "support/loopback_client.h"
#include "support/served_core.h"
#include "support/waiting.h"

namespace {

using namespace std::chrono_literals;
using vm::TClientLog;
using vm::TClientView;
using vm::TTransferKind;
using vmtest::WaitUntil;

const TClientLog::TClock::time_point kStart{std::chrono::hours(1000)};

std::vector<std::string> Addresses(const std::vector<TClientView>& clients) {
  std::vector<std::string> addresses;
  for (const TClientView& client : clients) addresses.push_back(client.Address);
  return addresses;
}

TEST(ClientLog, MostRecentFirstAndForgottenAfterAnHour) {
  TClientLog log;
  log.NoteRequest("10.0.0.1", "GET /velmarind/", kStart);
  log.NoteRequest("10.0.0.2", "GET /velmarind/", kStart + 1min);
  log.NoteRequest("10.0.0.3", "GET /velmarind/vcom.css", kStart + 2min);
  log.NoteRequest("10.0.0.1", "GET /velmarind/index.html", kStart + 3min);
  const std::vector<TClientView> clients = log.Clients(kStart + 3min);
  EXPECT_EQ(Addresses(clients), (std::vector<std::string>{"10.0.0.1", "10.0.0.3", "10.0.0.2"}));
  EXPECT_EQ(clients[0].LastRequest, "GET /velmarind/index.html");
  // An hour after its last request a client is gone; a minute before, it is still there.
  EXPECT_EQ(Addresses(log.Clients(kStart + 1min + 1h + 1s)),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(Addresses(log.Clients(kStart + 3min + 1h + 1s)), std::vector<std::string>{});
}

TEST(ClientLog, KeepsAtMostTheCapReplacingTheClientSeenLongestAgo) {
  TClientLog log;
  for (size_t i = 0; i <= TClientLog::kMaxClients; ++i) {
    log.NoteRequest("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), "GET /",
                    kStart + std::chrono::seconds(i));
  }
  const std::vector<std::string> kept = Addresses(log.Clients(kStart + 1h));
  EXPECT_EQ(kept.size(), TClientLog::kMaxClients);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), "10.1.0.0"), 0);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), "10.1.0.1"), 1);
}

TEST(ClientLog, TransferShowsWhileItsProgressIsHeld) {
  TClientLog log;
  auto download = log.BeginTransfer("10.0.0.1", TTransferKind::Download, "a.jpg", 1000, kStart);
  download->Add(400);
  std::vector<TClientView> clients = log.Clients(kStart);
  ASSERT_EQ(clients.size(), 1u);
  ASSERT_EQ(clients[0].Transfers.size(), 1u);
  EXPECT_EQ(clients[0].Transfers[0].Name, "a.jpg");
  EXPECT_EQ(clients[0].Transfers[0].Done, 400);
  EXPECT_EQ(clients[0].Transfers[0].Total, 1000);
  // A long transfer keeps its client past the hour.
  EXPECT_EQ(log.Clients(kStart + 2h).size(), 1u);
  download.reset();
  EXPECT_TRUE(log.Clients(kStart).at(0).Transfers.empty());
  EXPECT_TRUE(log.Clients(kStart + 2h).empty());
}

// The one transfer of the only client, once it has moved some bytes.
std::optional<vm::TTransferView> RunningTransfer(vmtest::TServedCore& served) {
  const std::vector<TClientView> clients = served.State().Clients().Clients();
  if (clients.size() != 1 || clients[0].Transfers.size() != 1) return std::nullopt;
  if (clients[0].Transfers[0].Done <= 0) return std::nullopt;
  return clients[0].Transfers[0];
}

bool NoTransfers(vmtest::TServedCore& served) {
  const std::vector<TClientView> clients = served.State().Clients().Clients();
  return clients.size() == 1 && clients[0].Transfers.empty();
}

// Larger than the socket buffers of both ends can hold, and sparse: nothing is written.
constexpr off_t kSize = off_t{64} << 20;
std::string BigFileIn(const vmtest::TTempFolder& share) {
  const std::string file = share.Path() + "big.bin";
  const int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  EXPECT_EQ(ftruncate(fd, kSize), 0);
  close(fd);
  return file;
}

TEST(ClientLog, ServedDownloadShowsItsProgressUntilItEnds) {
  vmtest::TTempFolder share;
  const std::string file = BigFileIn(share);
  vmtest::TServedCore served({"S;;" + share.Path()});

  vm::testing::LoopbackClient client(served.Port());
  client.Send("GET /velmarind/download.html?file=" + vm::HexEncode(file) +
              " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  std::optional<vm::TTransferView> running;
  ASSERT_TRUE(WaitUntil([&] { return (running = RunningTransfer(served)).has_value(); }));
  EXPECT_EQ(running->Kind, TTransferKind::Download);
  EXPECT_EQ(running->Name, "big.bin");
  EXPECT_EQ(running->Total, kSize);
  EXPECT_LT(running->Done, kSize);  // the client has not read yet
  EXPECT_EQ(served.State().Clients().Clients()[0].LastRequest,
            "GET /velmarind/download.html (big.bin)");

  EXPECT_GT(client.ReadAll().size(), static_cast<size_t>(kSize));
  EXPECT_TRUE(WaitUntil([&] { return NoTransfers(served); }));
}

// Revoking every login, or a new password, let downloads already running go on to the end.
TEST(ClientLog, EndedAdmissionsEndTheirRunningDownloads) {
  vmtest::TTempFolder share;
  const std::string file = BigFileIn(share);
  for (const bool newPassword : {false, true}) {
    vmtest::TServedCore served({"S;;" + share.Path()}, "PASS_FLG=1\r\nPASSWORD=61\r\n");
    served.State().Admit("127.0.0.1");
    vm::testing::LoopbackClient client(served.Port());
    client.Send("GET /velmarind/download.html?file=" + vm::HexEncode(file) +
                " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(WaitUntil([&] { return RunningTransfer(served).has_value(); }));
    std::string received = client.ReadAtLeast(1 << 20);
    if (newPassword) {
      vm::TSettings settings = served.State().Settings();
      settings.Password = "b";
      served.State().Replace(settings, *served.State().SharedFolders());
    } else {
      served.State().RevokeAdmissions();
    }
    received += client.ReadAll();
    EXPECT_LT(received.size(), static_cast<size_t>(kSize / 2)) << newPassword;
    EXPECT_TRUE(WaitUntil([&] { return NoTransfers(served); })) << newPassword;
  }
}

TEST(ClientLog, ServedUploadShowsTheBytesReceivedUntilTheClientGoes) {
  vmtest::TTempFolder share;
  vmtest::TServedCore served({"S;;" + share.Path()});
  constexpr size_t kLength = 1 << 20;
  const std::string part(100 * 1024, 'x');

  vm::testing::LoopbackClient client(served.Port());
  client.Send(
      "POST /velmarind/index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
      std::to_string(kLength) + "\r\n\r\n" + part);
  std::optional<vm::TTransferView> running;
  ASSERT_TRUE(WaitUntil([&] {
    running = RunningTransfer(served);
    return running && running->Done == static_cast<int64_t>(part.size());
  }));
  EXPECT_EQ(running->Kind, TTransferKind::Upload);
  EXPECT_EQ(running->Total, static_cast<int64_t>(kLength));

  client.Reset();
  EXPECT_TRUE(WaitUntil([&] { return NoTransfers(served); }));
}

}  // namespace
