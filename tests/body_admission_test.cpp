#include "web/body_admission.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vm {
namespace {

struct AdmissionRow {
  const char* label;
  std::string requestLine;
  std::vector<std::string> headers;  // "Host: 127.0.0.1" is added unless a Host line is given
  int64_t contentLength;
  std::string address;  // 127.0.0.2 is admitted, others are not
  bool passFlag;
  TBodyAdmission expected;
};

// Bodies of strangers were read and parsed before the gate looked at the request: a client
// that must log in, or a page of another site, could make the server hold or write them.
TEST(BodyAdmission, DecidedFromTheHeadBeforeTheBody) {
  constexpr TBodyAdmission kKeep = TBodyAdmission::Keep;
  constexpr TBodyAdmission kSmall = TBodyAdmission::SmallForm;
  constexpr TBodyAdmission kDiscard = TBodyAdmission::Discard;
  const std::string post = "POST /velmarind/index.html HTTP/1.1";
  const std::string login = "POST /velmarind/login.html HTTP/1.1";
  const AdmissionRow rows[] = {
      {"admitted client's upload", post, {}, 10, "127.0.0.2", true, kKeep},
      {"no password required", post, {}, 10, "127.0.0.3", false, kKeep},
      {"client that must log in", post, {}, 10, "127.0.0.3", true, kDiscard},
      {"login form of a client that must log in", login, {}, 10, "127.0.0.3", true, kSmall},
      {"login form of an admitted client", login, {}, 10, "127.0.0.2", true, kSmall},
      {"login form without a password", login, {}, 10, "127.0.0.3", false, kSmall},
      {"sign-in of an admitted client", "POST /velmarind/vm-signin?t=0 HTTP/1.1", {}, 10,
       "127.0.0.2", true, kDiscard},
      {"login document behind a prefix",
       "POST /x/login.html/index.html HTTP/1.1",
       {},
       10,
       "127.0.0.2",
       false,
       kSmall},
      {"login form from another site",
       login,
       {"Origin: http://evil.example"},
       10,
       "127.0.0.3",
       true,
       kDiscard},
      {"foreign host", post, {"Host: evil.example"}, 10, "127.0.0.2", false, kDiscard},
      {"foreign host in an absolute target",
       "POST http://evil.example/velmarind/ HTTP/1.1",
       {"Host:"},
       10,
       "127.0.0.2",
       false,
       kDiscard},
      {"no host at all (HTTP/1.0)",
       "POST /velmarind/index.html HTTP/1.0",
       {"X-None: 1"},
       10,
       "127.0.0.2",
       false,
       kKeep},
      {"foreign origin on a POST",
       post,
       {"Origin: http://evil.example"},
       10,
       "127.0.0.2",
       false,
       kDiscard},
      {"foreign origin on a GET with a body",
       "GET /velmarind/index.html HTTP/1.1",
       {"Origin: http://evil.example"},
       10,
       "127.0.0.2",
       false,
       kDiscard},
      {"own origin", post, {"Origin: http://127.0.0.1"}, 10, "127.0.0.2", false, kKeep},
      {"cross-site form post (a navigation)",
       post,
       {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate", "Sec-Fetch-Dest: document"},
       10,
       "127.0.0.2",
       false,
       kDiscard},
      {"same-origin post", post, {"Sec-Fetch-Site: same-origin"}, 10, "127.0.0.2", false, kKeep},
      {"post without a length",
       post,
       {"Sec-Fetch-Site: cross-site"},
       -1,
       "127.0.0.2",
       false,
       kDiscard},
  };
  for (const AdmissionRow& row : rows) {
    SCOPED_TRACE(row.label);
    TMainState state;
    TSettings settings;
    settings.PassFlag = row.passFlag;
    settings.Password = "pw";
    state.Replace(settings, {});
    state.Admit("127.0.0.2");
    TIdHTTPRequestInfo request;
    request.RequestLine = row.requestLine;
    request.Command = row.requestLine.substr(0, row.requestLine.find(' '));
    request.RemoteIP = row.address;
    request.ContentLength = row.contentLength;
    bool hostLine = false;
    for (const std::string& line : row.headers) {
      request.RawHeaders.Add(line);
      hostLine = hostLine || line.rfind("Host:", 0) == 0 || line.rfind("X-None", 0) == 0;
    }
    if (!hostLine) request.RawHeaders.Add("Host: 127.0.0.1");
    request.Host = request.RawHeaders.Values("Host");
    EXPECT_EQ(AdmitBody(state, request), row.expected);
  }
}

TEST(BodyAdmission, TargetComesFromTheRequestLine) {
  struct Row {
    const char* line;
    const char* document;
    const char* query;
    const char* host;
  };
  const Row rows[] = {
      {"GET /velmarind/index.html?a=1&b HTTP/1.1", "/velmarind/index.html", "a=1&b", ""},
      {"POST /x/%6Cogin.html HTTP/1.1", "/x/login.html", "", ""},
      {"GET http://nas.example:8080/velmarind/?q HTTP/1.1", "/velmarind/", "q", "nas.example"},
      {"GET", "", "", ""},
  };
  for (const Row& row : rows) {
    TIdHTTPRequestInfo request;
    request.RequestLine = row.line;
    const TRequestTarget target = TargetOf(request);
    EXPECT_EQ(target.Document, row.document) << row.line;
    EXPECT_EQ(target.Query, row.query) << row.line;
    EXPECT_EQ(target.Host, row.host) << row.line;
  }
}

}  // namespace
}  // namespace vm
