// The request loop fed an arbitrary byte stream: request lines, header lines and bodies as a
// client could send them, one or several requests in a row.
//
// The bytes go into one end of a socket pair, whose sending side is then shut, so the loop meets
// the end of the stream instead of waiting; a read timeout bounds it besides. Each input runs one
// request loop to its end (keep-alive on, so pipelined requests are all read) with a handler
// that answers with what the loop decoded. What comes back on the wire must be exactly those
// answers, in order, each with a Content-Length that matches its body.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "http/http_server.h"
#include "http/tcp_connection.h"
#include "platform/spill_stream.h"

namespace {

// Larger inputs are cut here: the whole input must fit into the socket pair's buffer before the
// loop starts reading.
constexpr size_t kMaxInput = 64 * 1024;
// No read may wait longer than this, should the end of the stream ever not be seen.
constexpr int kReadTimeoutMs = 2000;
// A small spill limit, so that bodies past it take the temporary-file path of the body stream.
constexpr int64_t kSmallSpillLimit = 256;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

// The kind of body stream the hook hands out, picked from the input's length so that the
// fuzzer reaches all three with the same bytes slightly changed.
enum class TBodyStream { EngineOwn, HookMemory, HookSpilling };

class THarnessServer : public vm::TIdCustomHTTPServer {
 public:
  THarnessServer() {
    KeepAlive = true;
    OnCreatePostStream = [this](vm::TIdPeerThread*, std::unique_ptr<vm::TStream>& stream) {
      if (bodyStream == TBodyStream::HookMemory) stream = std::make_unique<vm::TSpillStream>();
      if (bodyStream == TBodyStream::HookSpilling)
        stream = std::make_unique<vm::TSpillStream>(kSmallSpillLimit);
    };
    OnCommandGet = [this](vm::TIdPeerThread*, vm::TIdHTTPRequestInfo& request,
                          vm::TIdHTTPResponseInfo& response) { Answer(request, response); };
  }
  ~THarnessServer() override { DeactivateForDestruction(); }

  void RunLoop(vm::TIdPeerThread& thread) { DoExecute(thread); }

  TBodyStream bodyStream = TBodyStream::EngineOwn;
  // The answers the handler gave since the last input, in order.
  struct TAnswer {
    bool headOnly;
    std::string body;
  };
  std::vector<TAnswer> answers;

 private:
  void Answer(vm::TIdHTTPRequestInfo& request, vm::TIdHTTPResponseInfo& response) {
    Check(request.Command == "GET" || request.Command == "POST" || request.Command == "HEAD",
          "the handler sees only GET, POST and HEAD");
    if (request.PostStream) {
      Check(bodyStream != TBodyStream::EngineOwn, "the engine's own stream is gone");
      const int64_t size = request.PostStream->Size();
      if (request.ContentLength > 0) Check(size == request.ContentLength, "body size");
      Check(request.PostStream->Position() == size, "body stream left at its end");
      Check(request.PostStream->View().size() == static_cast<size_t>(size), "body view");
    } else {
      Check(bodyStream == TBodyStream::EngineOwn, "hook stream kept");
      if (request.ContentLength > 0)
        Check(request.FormText.size() == static_cast<size_t>(request.ContentLength), "form text");
    }
    // A handler failure must become a 500 answer, not end the loop.
    const bool headOnly = request.Command == "HEAD";
    if (request.Document.find("/fail") != std::string::npos) {
      answers.push_back({headOnly, "failed"});
      throw std::runtime_error("failed");
    }
    std::string text = request.Document + "\n" + request.Host + "\n";
    for (const std::string& param : request.Params) text += param + "\n";
    for (const std::string& cookie : request.Cookies) text += cookie + "\n";
    response.ContentText = text;
    answers.push_back({headOnly, text});
  }
};

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

size_t SkipContinues(const std::string& wire, size_t at) {
  while (wire.compare(at, kContinue.size(), kContinue) == 0) at += kContinue.size();
  return at;
}

// The wire holds each answer as a status line, header lines and exactly its body.
void CheckWire(const std::string& wire, const std::vector<THarnessServer::TAnswer>& answers) {
  size_t at = 0;
  for (const THarnessServer::TAnswer& answer : answers) {
    at = SkipContinues(wire, at);
    const size_t headEnd = wire.find("\r\n\r\n", at);
    Check(headEnd != std::string::npos, "an answer's head is complete");
    const std::string head = wire.substr(at, headEnd + 2 - at);
    Check(head.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 ||
              head.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0) == 0,
          "status line");
    const std::string lengthLine = "\r\nContent-Length: " + std::to_string(answer.body.size()) + "\r\n";
    Check(head.find(lengthLine) != std::string::npos, "Content-Length of the answer");
    at = headEnd + 4;
    if (!answer.headOnly) {
      Check(wire.compare(at, answer.body.size(), answer.body) == 0, "the answer's body");
      at += answer.body.size();
    }
  }
  Check(SkipContinues(wire, at) == wire.size(), "nothing after the last answer");
}

THarnessServer& Server() {
  static THarnessServer* server = new THarnessServer();  // lives as long as the process
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) size = kMaxInput;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
  const int client = pair[0];
  // Room for the whole input (the system may grant less than asked, but not below its default).
  const int room = static_cast<int>(4 * kMaxInput);
  setsockopt(client, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  for (size_t sent = 0; sent < size;) {
    const ssize_t n = send(client, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) std::abort();
    sent += static_cast<size_t>(n);
  }
  shutdown(client, SHUT_WR);
  // The answers are read away as they come, so that the loop never waits on a full buffer.
  std::string wire;
  std::thread drain([client, &wire] {
    char scratch[4096];
    for (ssize_t n; (n = recv(client, scratch, sizeof scratch, 0)) > 0;) wire.append(scratch, n);
  });

  THarnessServer& server = Server();
  server.bodyStream = static_cast<TBodyStream>(size % 3);
  server.answers.clear();
  {
    auto connection = std::make_unique<vm::TIdTCPConnection>(pair[1], "127.0.0.1");
    connection->SetReadTimeout(kReadTimeoutMs);
    vm::TIdPeerThread thread(&server, std::move(connection));
    try {
      server.RunLoop(thread);
    } catch (const std::exception&) {
      // Parse failures and the end of the stream end the loop with an exception, which the
      // connection thread swallows.
    }
    thread.Connection()->Disconnect();
  }  // the connection's socket is closed here, which ends the drain
  drain.join();
  close(client);
  CheckWire(wire, server.answers);
  return 0;
}
