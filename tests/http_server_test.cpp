// The request loop and file serving against the real engine on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "http/http_server.h"
#include "platform/exception.h"
#include "support/loopback_client.h"
#include "support/page_lines.h"
#include "support/waiting.h"

namespace vm {
namespace {

using vmtest::JoinCrLf;
using testing::Exchange;
using testing::LoopbackClient;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.DefaultPort = 0;
    server_.BindAddress = "127.0.0.1";
  }
  void TearDown() override { server_.SetActive(false); }

  void Serve(TIdCustomHTTPServer::TCommandGetEvent handler) {
    server_.OnCommandGet = std::move(handler);
    server_.SetActive(true);
  }
  std::string Get(const std::string& request, const std::string& from = "") {
    return Exchange(server_.BoundPort(), request, from);
  }
  std::string MakeFile(const std::string& name, const std::string& content) {
    vmtest::WriteFileBytes(folder_.Path() + name, content);
    return folder_.Path() + name;
  }
  // A handler that serves the file at path.
  TIdCustomHTTPServer::TCommandGetEvent ServeFileAt(const std::string& path) {
    return [this, path](TIdPeerThread* thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) {
      server_.ServeFile(thread, r, path);
    };
  }

  vmtest::TTempFolder folder_;  // declared first: removed only after the server has stopped
  TIdHTTPServer server_;
};

const std::string kGet = "GET /velmarind/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

TEST_F(HttpServerTest, PageResponseIsExactlyTheHeaderBlockAndTheFile) {
  const std::string page = "<html>\r\n<body>page</body>\r\n</html>\r\n";
  Serve(ServeFileAt(MakeFile("index_127.0.0.1.html", page)));
  EXPECT_EQ(Get(kGet), JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/html",
                                 "Content-Length: " + std::to_string(page.size()),
                                 "Server: Velmarind/1.0", ""}) +
                           page);
}

// curl asks "Expect: 100-continue" before a large body and waited a second for an answer.
TEST_F(HttpServerTest, ClientThatExpectsContinueIsAskedForTheBodyAtOnce) {
  std::string received;
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& r) {
    received = request.FormText;
    r.ContentText = "ok";
  });
  LoopbackClient client(server_.BoundPort());
  ASSERT_TRUE(client.Send("POST /x HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 4\r\n\r\n"));
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_EQ(client.ReadAtLeast(interim.size()), interim);
  ASSERT_TRUE(client.Send("body"));
  EXPECT_NE(client.ReadAll().find("\r\n\r\nok"), std::string::npos);
  EXPECT_EQ(received, "body");
}

TEST_F(HttpServerTest, HandlerThatSendsNothingGetsHeadersWithoutLengthOrBody) {
  Serve([](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {});
  EXPECT_EQ(Get(kGet), JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/html",
                                 "Server: Velmarind/1.0", ""}));
}

TEST_F(HttpServerTest, StatusCodesAndContentText) {
  std::string largeText(8 << 20, 'l');
  for (size_t i = 0; i < largeText.size(); i += 4096)
    largeText[i] = static_cast<char>('a' + i % 26);
  struct Row {
    const char* label;
    int code;
    std::string text;
    std::string expected;
  };
  const Row rows[] = {
      {"not found, no body", 404, "",
       JoinCrLf({"HTTP/1.1 404 Not Found", "Connection: close", "Content-Type: text/html",
                 "Server: Velmarind/1.0", ""})},
      {"code outside the table", 402, "",
       JoinCrLf({"HTTP/1.1 402 Unknown Response Code", "Connection: close",
                 "Content-Type: text/html", "Server: Velmarind/1.0", ""})},
      {"five bytes of text", 200, "hello",
       JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/html",
                 "Content-Length: 5", "Server: Velmarind/1.0", ""}) +
           "hello"},
      // Sent with its header in one call, which the socket takes in several parts.
      {"text larger than the socket takes at once", 200, largeText,
       JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/html",
                 "Content-Length: " + std::to_string(largeText.size()), "Server: Velmarind/1.0",
                 ""}) +
           largeText},
  };
  std::atomic<int> index{0};
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) {
    const Row& row = rows[index];
    if (row.code != 200) r.SetResponseCode(row.code);
    r.ContentText = row.text;
  });
  for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
    index = i;
    EXPECT_EQ(Get(kGet), rows[i].expected) << rows[i].label;
  }
}

TEST_F(HttpServerTest, HeadGetsTheHeadersOfGetAndNoBody) {
  const std::string page(70000, 'p');
  Serve(ServeFileAt(MakeFile("big.html", page)));
  const std::string headers =
      JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/html",
                "Content-Length: 70000", "Server: Velmarind/1.0", ""});
  EXPECT_EQ(Get("HEAD /velmarind/ HTTP/1.1\r\n\r\n"), headers);
  EXPECT_EQ(Get(kGet), headers + page);
}

TEST_F(HttpServerTest, HandlerFailureBecomes500WithTheMessageBytes) {
  const std::string sjisMessage = "\x83\x74\x83\x40\x83\x43\x83\x8b";  // Shift_JIS, sent as is
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) {
    r.ContentType = "application/octet-stream";
    r.CustomHeaders.Add("Content-Disposition: attachment;filename=a.txt");
    throw Exception(sjisMessage);
  });
  EXPECT_EQ(Get(kGet), JoinCrLf({"HTTP/1.1 500 Internal Server Error", "Connection: close",
                                 "Content-Type: application/octet-stream", "Content-Length: 8",
                                 "Content-Disposition: attachment;filename=a.txt",
                                 "Server: Velmarind/1.0", ""}) +
                           sjisMessage);
}

TEST_F(HttpServerTest, ServeFileThatCannotBeOpenedGives500WithTheOpenError) {
  const std::string missing = folder_.Path() + "missing.html";
  const std::string folder = folder_.Path();
  Serve([&](TIdPeerThread* thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& r) {
    server_.ServeFile(thread, r, request.Document == "/dir" ? folder : missing);
  });
  for (const std::string& path : {missing, folder}) {
    const std::string message = EFOpenError(path).what();
    const std::string answer = Get(path == folder ? "GET /dir HTTP/1.1\r\n\r\n" : kGet);
    EXPECT_EQ(answer, JoinCrLf({"HTTP/1.1 500 Internal Server Error", "Connection: close",
                                "Content-Type: text/html; charset=Shift_JIS",
                                "Content-Length: " + std::to_string(message.size()),
                                "Server: Velmarind/1.0", ""}) +
                          message)
        << path;
  }
}

TEST_F(HttpServerTest, ServeFileTakesTheMimeTypeWhenContentTypeIsCleared) {
  const std::string css = MakeFile("x.css", "a{}");
  const std::string empty = MakeFile("empty.qqq", "");
  Serve([&](TIdPeerThread* thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& r) {
    r.ContentType.clear();
    server_.ServeFile(thread, r, request.Document == "/css" ? css : empty);
  });
  EXPECT_EQ(Get("GET /css HTTP/1.0\r\n\r\n"),
            JoinCrLf({"HTTP/1.1 200 OK", "Connection: close", "Content-Type: text/css",
                      "Content-Length: 3", "Server: Velmarind/1.0", ""}) +
                "a{}");
  EXPECT_EQ(Get("GET /other HTTP/1.0\r\n\r\n"),
            JoinCrLf({"HTTP/1.1 200 OK", "Connection: close",
                      "Content-Type: application/octet-stream", "Content-Length: 0",
                      "Server: Velmarind/1.0", ""}));
}

TEST_F(HttpServerTest, MalformedOrUnwantedRequestsAreClosedWithoutAResponse) {
  std::atomic<int> calls{0};
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) {
    ++calls;
    r.ContentText = "answered";
  });
  std::string manyHeaders = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 80; ++i) manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'f') + "\r\n";
  struct Row {
    const char* label;
    std::string request;
  };
  const Row rows[] = {
      // The head parser's verdicts, each as the connection loop acts on it; the parser's own
      // cases are in request_head_test.
      {"request line without a space", "GARBAGE\r\n\r\n"},
      {"other method", "DELETE / HTTP/1.1\r\n\r\n"},
      {"authorization scheme not Basic", "GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n"},
      {"head over 64 KiB", manyHeaders + "\r\n"},
      {"body shorter than announced", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345"},
  };
  for (const Row& row : rows) {
    LoopbackClient client(server_.BoundPort());
    client.Send(row.request);
    client.ShutdownWrite();
    EXPECT_EQ(client.ReadAll(), "") << row.label;
  }
  EXPECT_EQ(calls, 0);
}

TEST_F(HttpServerTest, ExpiresHoldingAnyIntegerIsAccepted) {
  Serve([](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) { r.ContentText = "ok"; });
  for (const char* value : {"86400", "-5", "99999999999999", "-1", "not a date"}) {
    const std::string answer = Get(std::string("GET / HTTP/1.1\r\nExpires: ") + value + "\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << value;
  }
}

TEST_F(HttpServerTest, RequestRecordIsFilledFromTheRequest) {
  std::mutex lock;
  TIdHTTPRequestInfo seen;
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo&) {
    std::lock_guard<std::mutex> guard(lock);
    seen.Command = request.Command;
    seen.Document = request.Document;
    seen.QueryString = request.QueryString;
    seen.RawParams = request.RawParams;
    seen.Params = request.Params;
    seen.Version = request.Version;
    seen.RemoteIP = request.RemoteIP;
    seen.Host = request.Host;
    seen.RawHeaders.Clear();
    for (const std::string& line : request.RawHeaders.Lines()) seen.RawHeaders.Add(line);
    seen.Expires = request.Expires;
    seen.AuthUsername = request.AuthUsername;
    seen.AuthPassword = request.AuthPassword;
  });
  const std::string answer =
      Get("get /a%20b/index.html?tt=1&pw=41 HTTP/1.1\r\nHost: example\r\n..dotted: x\r\n"
          "Connection: Keep-alive\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n",
          "127.0.0.2");
  EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(seen.Command, "GET");
  EXPECT_EQ(seen.Document, "/a b/index.html");
  EXPECT_EQ(seen.QueryString, "tt=1&pw=41");
  EXPECT_EQ(seen.RawParams, "tt=1&pw=41");
  EXPECT_EQ(seen.Params, (std::vector<std::string>{"tt=1", "pw=41"}));
  EXPECT_EQ(seen.Version, "HTTP/1.1");
  EXPECT_EQ(seen.RemoteIP, "127.0.0.2");
  EXPECT_EQ(seen.Host, "example");
  ASSERT_EQ(seen.RawHeaders.Count(), 4);
  EXPECT_EQ(seen.RawHeaders.Line(1), ".dotted: x");
  EXPECT_EQ(seen.AuthUsername, "user");
  EXPECT_EQ(seen.AuthPassword, "pass");
}

TEST_F(HttpServerTest, BodyGoesIntoTheHookStreamOrBecomesFormText) {
  std::mutex lock;
  std::string body, formText, rawParams;
  std::vector<std::string> params;
  int64_t position = -1;
  std::atomic<bool> useHook{true};
  server_.OnCreatePostStream = [&](TIdPeerThread*, std::unique_ptr<TStream>& stream) {
    if (useHook) stream = std::make_unique<TMemoryStream>();
  };
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo&) {
    std::lock_guard<std::mutex> guard(lock);
    body = request.PostStream ? std::string(request.PostStream->View()) : "<none>";
    position = request.PostStream ? request.PostStream->Position() : -1;
    formText = request.FormText;
    rawParams = request.RawParams;
    params = request.Params;
  });
  const std::string upload(100000, 'u');  // more than one block
  Get("POST /up?x=1 HTTP/1.1\r\nContent-Type: multipart/form-data\r\nContent-Length: 100000\r\n\r\n" +
      upload);
  {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(body, upload);
    EXPECT_EQ(position, 100000);
    EXPECT_EQ(formText, "");
    EXPECT_EQ(rawParams, "x=1");
  }
  useHook = false;
  Get("POST /f?q=2 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 13\r\n\r\na=1+2&b=%41zz");
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(body, "<none>");
  EXPECT_EQ(formText, "a=1+2&b=%41zz");
  EXPECT_EQ(rawParams, "a=1+2&b=%41zz&q=2");
  EXPECT_EQ(params, (std::vector<std::string>{"a=1 2", "b=Azz", "q=2"}));
}

TEST_F(HttpServerTest, TwoSlowClientsAreServedInParallel) {
  std::mutex lock;
  std::condition_variable changed;
  int inside = 0;
  Serve([&](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) {
    std::unique_lock<std::mutex> guard(lock);
    ++inside;
    changed.notify_all();
    // Each handler waits for the other one to be inside too: only parallel threads get there.
    bool both = changed.wait_for(guard, std::chrono::seconds(5), [&] { return inside >= 2; });
    r.ContentText = both ? "together" : "alone";
  });
  std::string first, second;
  std::thread a([&] { first = Get(kGet, "127.0.0.2"); });
  std::thread b([&] { second = Get(kGet, "127.0.0.3"); });
  a.join();
  b.join();
  EXPECT_NE(first.find("\r\n\r\ntogether"), std::string::npos);
  EXPECT_NE(second.find("\r\n\r\ntogether"), std::string::npos);
}

TEST_F(HttpServerTest, ClientResetMidTransferEndsOnlyItsOwnThread) {
  const std::string big = MakeFile("big.bin", std::string(32 << 20, 'b'));
  const std::string small = MakeFile("small.html", "small");
  Serve([&](TIdPeerThread* thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& r) {
    server_.ServeFile(thread, r, request.Document == "/big" ? big : small);
  });
  {
    LoopbackClient client(server_.BoundPort());
    client.Send("GET /big HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.ReadAtLeast(65536).substr(0, 15), "HTTP/1.1 200 OK");
    client.Reset();
  }
  EXPECT_EQ(Get(kGet).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_TRUE(vmtest::WaitUntil([&] { return server_.ConnectionCount() == 0; }));
}

TEST_F(HttpServerTest, SilentClientIsClosedWithoutAResponse) {
  server_.IdleTimeout = 200;
  Serve([](TIdPeerThread*, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& r) { r.ContentText = "x"; });
  LoopbackClient client(server_.BoundPort());
  client.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly part of the body");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.ReadAll(), "");
  // Closed by the server, not given up by the client.
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(LoopbackClient::kReadTimeoutMs));
}


// Sizes past 4 GiB: a served file's length and a request's announced length stay exact. The
// announced length was also taken as the body stream's size before a byte of it had come, so that
// a client announcing megabytes and sending nothing held them.
TEST_F(HttpServerTest, SizesPast4GiBAreCarriedWhole) {
  const std::string sparse = MakeFile("sparse.bin", "");
  std::filesystem::resize_file(sparse, (int64_t{5} << 30) + 1);  // sparse: no disk used
  Serve(ServeFileAt(sparse));
  EXPECT_NE(Get("HEAD / HTTP/1.1\r\n\r\n").find("Content-Length: 5368709121\r\n"),
            std::string::npos);
  server_.SetActive(false);

  // The announced length is carried whole, and the body stream holds only what arrived: the
  // client sends three bytes of it and gives up.
  class SizeRecorder : public TMemoryStream {
   public:
    explicit SizeRecorder(std::atomic<int64_t>& size) : size_(size) {}
    void SetSize(int64_t size) override {
      size_ = std::max<int64_t>(size_, size);
      TMemoryStream::SetSize(size);
    }
    void Write(const void* buffer, size_t count) override {
      TMemoryStream::Write(buffer, count);
      size_ = std::max<int64_t>(size_, Size());
    }

   private:
    std::atomic<int64_t>& size_;
  };
  std::atomic<int64_t> announced{0}, held{0};
  server_.OnAdmitBody = [&](TIdPeerThread*, const TIdHTTPRequestInfo& request) {
    announced = request.ContentLength;
    return TBodyAdmission::Keep;
  };
  server_.OnCreatePostStream = [&](TIdPeerThread*, std::unique_ptr<TStream>& stream) {
    stream = std::make_unique<SizeRecorder>(held);
  };
  server_.SetActive(true);
  {
    LoopbackClient client(server_.BoundPort());
    client.Send("POST / HTTP/1.1\r\nContent-Length: 6442450944\r\n\r\nabc");
    client.ShutdownWrite();
    EXPECT_EQ(client.ReadAll(), "");
  }
  EXPECT_EQ(announced, int64_t{6} << 30);
  EXPECT_EQ(held, 3);
}

}  // namespace
}  // namespace vm
