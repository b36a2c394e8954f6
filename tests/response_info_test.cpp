// The response record on the wire: header order, reason phrases, bodies, HEAD.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "http/engine_errors.h"
#include "http/response_info.h"
#include "http/tcp_connection.h"
#include "support/loopback_client.h"
#include "support/page_lines.h"

namespace vm {
namespace {

using vmtest::JoinCrLf;

// A response written into one end of a socket pair; Sent() returns what the other end got.
class WireResponse {
 public:
  WireResponse() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    connection_ = std::make_unique<TIdTCPConnection>(fds[0], "127.0.0.1");
    peer_ = fds[1];
    response = std::make_unique<TIdHTTPResponseInfo>(connection_.get());
    response->SetCloseConnection(true);
  }
  ~WireResponse() { close(peer_); }
  std::string Sent() {
    response.reset();
    connection_.reset();
    std::string received;
    char block[4096];
    ssize_t n;
    while ((n = recv(peer_, block, sizeof block, 0)) > 0) received.append(block, n);
    return received;
  }
  std::unique_ptr<TIdHTTPResponseInfo> response;

 private:
  std::unique_ptr<TIdTCPConnection> connection_;
  int peer_;
};

TEST(ResponseInfo, ReasonPhrases) {
  struct Row {
    int code;
    const char* text;
  };
  const Row rows[] = {{200, "OK"},
                      {302, "Moved Temporarily"},
                      {402, "Unknown Response Code"},
                      {404, "Not Found"},
                      {405, "Method not allowed"},
                      {413, "Request Entity To Long"},
                      {414, "Request-URI Too Long. 256 Chars max"},
                      {500, "Internal Server Error"},
                      {504, "Gateway timeout"},
                      {999, "Unknown Response Code"}};
  for (const Row& row : rows) EXPECT_STREQ(ReasonPhrase(row.code), row.text) << row.code;
}

TEST(ResponseInfo, NotFoundAlsoClosesTheConnection) {
  TIdHTTPResponseInfo response(nullptr);
  response.SetCloseConnection(false);
  EXPECT_EQ(response.TIdEntityHeaderInfo::Connection, "keep-alive");
  response.SetResponseCode(404);
  EXPECT_TRUE(response.CloseConnection());
  EXPECT_EQ(response.TIdEntityHeaderInfo::Connection, "close");
  EXPECT_EQ(response.ResponseText, "Not Found");
}

TEST(ResponseInfo, DownloadHeaderOrderPutsCustomLinesBeforeServer) {
  WireResponse wire;
  wire.response->ContentType = "application/octet-stream";
  wire.response->CustomHeaders.AddStdValues({"Content-Disposition=attachment;filename=a.txt"});
  wire.response->ContentText = "abc";
  wire.response->WriteContent();
  EXPECT_EQ(wire.Sent(), JoinCrLf({"HTTP/1.1 200 OK", "Connection: close",
                                   "Content-Type: application/octet-stream", "Content-Length: 3",
                                   "Content-Disposition: attachment;filename=a.txt",
                                   "Server: Velmarind/1.0", ""}) +
                             "abc");
}

TEST(ResponseInfo, LinesSetByNameReplaceCustomLinesInPlace) {
  TIdHTTPResponseInfo response(nullptr);
  response.CustomHeaders.Add("server: Other");
  response.CustomHeaders.Add("X-Extra: 1");
  response.Location = "/next";
  response.CacheControl = "no-cache";
  response.WriteHeader();
  EXPECT_EQ(response.RawHeaders.Lines(),
            (std::vector<std::string>{"Content-Type: text/html", "Cache-control: no-cache",
                                      "Server: Velmarind/1.0", "X-Extra: 1", "Location: /next"}));
  EXPECT_TRUE(response.HeaderWritten());
  EXPECT_THROW(response.WriteHeader(), EIdHTTPHeaderAlreadyWritten);
}

TEST(ResponseInfo, BodiesFromTextStreamOrTheDefault) {
  WireResponse text;
  text.response->ContentText = "x";
  text.response->ContentStream = std::make_unique<TMemoryStream>("ignored");
  text.response->WriteContent();
  EXPECT_EQ(text.response->ContentStream, nullptr);
  EXPECT_NE(text.Sent().find("Content-Length: 1\r\n"), std::string::npos);

  WireResponse stream;
  const std::string big(100000, 's');  // several send blocks
  stream.response->ContentStream = std::make_unique<TMemoryStream>(big);
  stream.response->ContentStream->SetPosition(50);  // sent from the start all the same
  stream.response->WriteContent();
  const std::string sent = stream.Sent();
  EXPECT_NE(sent.find("Content-Length: 100000\r\n"), std::string::npos);
  EXPECT_EQ(sent.substr(sent.size() - big.size()), big);

  WireResponse fallback;
  fallback.response->SetResponseCode(403);
  fallback.response->WriteContent();
  EXPECT_EQ(fallback.Sent(), JoinCrLf({"HTTP/1.1 403 Forbidden", "Connection: close",
                                       "Content-Type: text/html", "Server: Velmarind/1.0", "",
                                       "<HTML><BODY><B>403 Forbidden</B></BODY></HTML>"}));
}

TEST(ResponseInfo, HeadOnlyKeepsTheLengthAndSendsNoBody) {
  WireResponse wire;
  wire.response->HeadOnly = true;
  wire.response->ContentText = "hello";
  wire.response->WriteContent();
  EXPECT_EQ(wire.Sent(), JoinCrLf({"HTTP/1.1 200 OK", "Connection: close",
                                   "Content-Type: text/html", "Content-Length: 5",
                                   "Server: Velmarind/1.0", ""}));
}

TEST(ResponseInfo, AuthRealmTurnsTheAnswerIntoABasicChallenge) {
  WireResponse wire;
  wire.response->AuthRealm = "home";
  wire.response->WriteHeader();
  wire.response->WriteContent();
  EXPECT_EQ(wire.Sent(), JoinCrLf({"HTTP/1.1 401 Unauthorized", "Connection: close",
                                   "Content-Type: text/html", "Server: Velmarind/1.0",
                                   "WWW-Authenticate: Basic realm=\"home\"", ""}) +
                             "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>");
}

TEST(ResponseInfo, SizesPast4GiBAreWrittenInFull) {
  TIdHTTPResponseInfo response(nullptr);
  response.ContentLength = int64_t{5} << 30;
  response.WriteHeader();
  EXPECT_EQ(response.RawHeaders.Values("Content-Length"), "5368709120");
}

}  // namespace
}  // namespace vm
