// The listener, the connection threads and the buffered connection, on loopback.
#include "http/tcp_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "http/engine_errors.h"
#include "http/tcp_connection.h"
#include "support/loopback_client.h"
#include "support/ports.h"
#include "support/waiting.h"

namespace vm {
namespace {

using testing::LoopbackClient;
using vmtest::WaitUntil;
using Clock = std::chrono::steady_clock;

class FunctionServer : public TIdTCPServer {
 public:
  explicit FunctionServer(std::function<void(TIdTCPConnection&)> run) : run_(std::move(run)) {
    DefaultPort = 0;
    BindAddress = "127.0.0.1";
  }
  ~FunctionServer() override { DeactivateForDestruction(); }

 protected:
  void DoExecute(TIdPeerThread& thread) override { run_(*thread.Connection()); }

 private:
  std::function<void(TIdTCPConnection&)> run_;
};

void EchoOneLine(TIdTCPConnection& c) { c.WriteLn("echo:" + c.ReadLn()); }

TEST(TcpServer, ServesOnTheBoundPortAndEndsEachThread) {
  FunctionServer server(EchoOneLine);
  server.SetActive(true);
  ASSERT_TRUE(server.Active());
  ASSERT_GT(server.BoundPort(), 0);
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "hello\r\n"), "echo:hello\r\n");
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "bare\n", "127.0.0.2"), "echo:bare\r\n");
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
}

TEST(TcpServer, SecondServerOnTheSamePortFailsAndStaysInactive) {
  FunctionServer first(EchoOneLine);
  first.SetActive(true);
  FunctionServer second(EchoOneLine);
  second.DefaultPort = first.BoundPort();
  try {
    second.SetActive(true);
    FAIL() << "the second bind succeeded";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.BoundPort(), 0);
  EXPECT_EQ(testing::Exchange(first.BoundPort(), "still\r\n"), "echo:still\r\n");
}

// A port past 16 bits used to wrap silently to another port (70000 listened on 4464).
TEST(TcpServer, PortOutsideTheRangeIsRefused) {
  for (int port : {-1, 65536, 70000}) {
    FunctionServer server(EchoOneLine);
    server.DefaultPort = port;
    EXPECT_THROW(server.SetActive(true), Exception) << port;
    EXPECT_FALSE(server.Active()) << port;
  }
}

TEST(TcpServer, PortIsBoundAgainAfterDeactivation) {
  FunctionServer server(EchoOneLine);
  server.SetActive(true);
  const int port = server.BoundPort();
  EXPECT_EQ(testing::Exchange(port, "one\r\n"), "echo:one\r\n");
  server.SetActive(false);
  EXPECT_FALSE(server.Active());

  FunctionServer again(EchoOneLine);
  again.DefaultPort = port;
  again.SetActive(true);
  EXPECT_EQ(again.BoundPort(), port);
  EXPECT_EQ(testing::Exchange(port, "two\r\n"), "echo:two\r\n");
}

TEST(TcpServer, RebindMovesTheListenerAndKeepsTheOldPortWhenTheNewOneIsTaken) {
  FunctionServer server(EchoOneLine);
  FunctionServer other(EchoOneLine);
  server.SetActive(true);
  other.SetActive(true);
  const int first = server.BoundPort();
  // A port another server holds: refused, and the old port keeps answering.
  EXPECT_THROW(server.Rebind(other.BoundPort()), Exception);
  EXPECT_EQ(server.BoundPort(), first);
  EXPECT_EQ(testing::Exchange(first, "a\n"), "echo:a\r\n");
  // A free port: the new one answers, the old one is closed.
  other.SetActive(false);
  server.Rebind(0);
  ASSERT_NE(server.BoundPort(), first);
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "b\n"), "echo:b\r\n");
  EXPECT_TRUE(vmtest::Refused(first));
}

TEST(TcpServer, DeactivationClosesAnIdleClientAndEndsItsThread) {
  FunctionServer server(EchoOneLine);
  server.SetActive(true);
  LoopbackClient idle(server.BoundPort());
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
  const auto start = Clock::now();
  server.SetActive(false);
  // Closed at once, not waited for until the limit.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(server.TerminateWaitTime));
  EXPECT_EQ(server.ConnectionCount(), 0);
  EXPECT_TRUE(idle.WaitForClose(2000));
}

TEST(TcpServer, DeactivationGivesUpOnAThreadThatDoesNotEnd) {
  std::atomic<bool> release{false};
  std::atomic<bool> entered{false};
  FunctionServer server([&](TIdTCPConnection&) {
    entered = true;
    WaitUntil([&] { return release.load(); });  // bounded: a failed test still ends
  });
  server.TerminateWaitTime = 300;
  server.SetActive(true);
  LoopbackClient client(server.BoundPort());
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }));
  try {
    server.SetActive(false);
    FAIL() << "deactivation did not time out";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
  }
  EXPECT_FALSE(server.Active());
  release = true;  // the destructor now waits for the thread
}

TEST(TcpServer, SilentClientIsClosedAfterTheIdleTime) {
  std::atomic<bool> timedOut{false};
  FunctionServer server([&](TIdTCPConnection& c) {
    try {
      c.ReadLn();
    } catch (const EIdReadTimeout&) {
      timedOut = true;
    }
  });
  server.IdleTimeout = 200;
  server.SetActive(true);
  LoopbackClient client(server.BoundPort());
  client.Send("GET / HT");  // a byte or two, then silence
  EXPECT_TRUE(client.WaitForClose(LoopbackClient::kReadTimeoutMs));
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
}

TEST(TcpServer, PoolThreadsServeOneConnectionAfterAnotherAndEndWhenIdle) {
  constexpr int kConnections = 20;
  FunctionServer server(EchoOneLine);
  server.WorkerIdleTime = 200;
  server.SetActive(true);
  for (int i = 0; i < kConnections; ++i)
    ASSERT_EQ(testing::Exchange(server.BoundPort(), "x\n"), "echo:x\r\n") << i;
  // Each connection starts a thread at most, beside the first; how many came back in time to
  // serve the next is the scheduler's affair.
  EXPECT_LE(server.Counters().workersStarted, static_cast<uint64_t>(kConnections + 1));
  // The one that waits for the next client stays.
  EXPECT_TRUE(WaitUntil([&] { return server.WorkerCount() == 1; }))
      << server.WorkerCount() << " pool threads still there";
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "again\n"), "echo:again\r\n");
}

TEST(TcpServer, ConnectionsBeyondTheCapOfTheirAddressAreClosedAtOnce) {
  constexpr int kCap = TIdTCPServer::kDefaultMaxConnectionsPerAddress;
  const std::string crowded = "127.0.0.7";
  FunctionServer server(EchoOneLine);
  server.SetActive(true);
  testing::TClients held = testing::OpenClients(server.BoundPort(), kCap, crowded);
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == kCap; }));

  LoopbackClient beyond(server.BoundPort(), crowded);
  EXPECT_TRUE(beyond.WaitForClose(2000));
  EXPECT_EQ(server.Counters().refusedForAddress, 1u);
  // The address's open connections and other addresses are served as before.
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "other\n", "127.0.0.8"), "echo:other\r\n");
  ASSERT_TRUE(held.back()->Send("held\n"));
  EXPECT_EQ(held.back()->ReadAll(), "echo:held\r\n");
  // Once one has ended, the address may open another.
  held.front()->Reset();
  held.erase(held.begin());
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() < kCap; }));
  EXPECT_EQ(testing::Exchange(server.BoundPort(), "next\n", crowded), "echo:next\r\n");
  testing::ResetClients(held);
}

// Both ends of a connected socket pair: the connection under test and the peer.
struct ConnectionPair {
  ConnectionPair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    connection = std::make_unique<TIdTCPConnection>(fds[0], "127.0.0.1");
    peer = fds[1];
  }
  ~ConnectionPair() {
    connection.reset();
    close(peer);
  }
  void PeerSends(const std::string& bytes) {
    ASSERT_EQ(send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  std::unique_ptr<TIdTCPConnection> connection;
  int peer;
};

TEST(TcpConnection, ReadLnSplitsLinesAndKeepsTheRestBuffered) {
  ConnectionPair pair;
  pair.PeerSends("first\r\nsecond\nthi");
  EXPECT_EQ(pair.connection->ReadLn(), "first");
  EXPECT_EQ(pair.connection->ReadLn(), "second");
  std::thread late([&] {
    WaitUntil(vmtest::OthersAsleep);  // the reader waits for the rest of its line
    pair.PeerSends("rd\r\nbody");
  });
  EXPECT_EQ(pair.connection->ReadLn(), "third");
  late.join();
  EXPECT_EQ(pair.connection->InputBufferSize(), 4u);
}

TEST(TcpConnection, LineOverTheLimitFailsButALineAtTheLimitPasses) {
  ConnectionPair pair;
  pair.connection->MaxLineLength = 100;
  pair.PeerSends(std::string(100, 'a') + "\r\n" + std::string(101, 'b') + "\r\n");
  EXPECT_EQ(pair.connection->ReadLn(), std::string(100, 'a'));
  EXPECT_THROW(pair.connection->ReadLn(), EIdMaxLineLengthExceeded);

  ConnectionPair endless;
  endless.connection->MaxLineLength = 100;
  endless.PeerSends(std::string(5000, 'c'));  // no line end at all
  EXPECT_THROW(endless.connection->ReadLn(), EIdMaxLineLengthExceeded);
}

TEST(TcpConnection, PeerClosingMidLineOrMidBlockFailsGracefully) {
  ConnectionPair pair;
  pair.PeerSends("GET / HT");
  shutdown(pair.peer, SHUT_WR);
  EXPECT_THROW(pair.connection->ReadLn(), EIdConnClosedGracefully);

  ConnectionPair body;
  body.PeerSends("12345");
  shutdown(body.peer, SHUT_WR);
  TMemoryStream stream;
  EXPECT_THROW(body.connection->ReadStream(stream, 10), EIdConnClosedGracefully);
}

TEST(TcpConnection, ReadStreamTakesBufferedBytesFirstAndReadsExactly) {
  ConnectionPair pair;
  const std::string big(100000, 'x');
  pair.PeerSends("line\r\nabc");
  EXPECT_EQ(pair.connection->ReadLn(), "line");
  std::thread writer([&] { pair.PeerSends(big + "tail"); });
  TMemoryStream stream;
  pair.connection->ReadStream(stream, 3 + static_cast<int64_t>(big.size()));
  writer.join();
  EXPECT_EQ(stream.Data(), "abc" + big);
  EXPECT_EQ(stream.Position(), stream.Size());

  TMemoryStream rest;
  shutdown(pair.peer, SHUT_WR);
  pair.connection->ReadStreamUntilClose(rest);
  EXPECT_EQ(rest.Data(), "tail");
  EXPECT_FALSE(pair.connection->Connected());
}

TEST(TcpConnection, WriteBufferCollectsUntilClosed) {
  ConnectionPair pair;
  pair.connection->OpenWriteBuffer();
  pair.connection->WriteLn("HTTP/1.1 200 OK");
  pair.connection->Write("X");
  char probe[16];
  EXPECT_EQ(recv(pair.peer, probe, sizeof probe, MSG_DONTWAIT), -1);  // nothing sent yet
  pair.connection->CloseWriteBuffer();
  pair.connection->Write("Y");
  pair.connection.reset();
  std::string received;
  ssize_t n;
  while ((n = recv(pair.peer, probe, sizeof probe, 0)) > 0) received.append(probe, n);
  EXPECT_EQ(received, "HTTP/1.1 200 OK\r\nXY");
}

TEST(TcpConnection, SendToAClosedPeerFailsWithASocketError) {
  ConnectionPair pair;
  close(pair.peer);
  pair.peer = socket(AF_UNIX, SOCK_STREAM, 0);  // something for the destructor to close
  EXPECT_THROW(pair.connection->Write(std::string(1 << 20, 'z')), EIdSocketError);
}

}  // namespace
}  // namespace vm
