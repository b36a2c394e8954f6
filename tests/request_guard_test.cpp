#include "web/request_guard.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <string>
#include <vector>

#include "platform/host_identity.h"
#include "platform/text_helpers.h"
#include "support/page_lines.h"
#include "support/served_core.h"

namespace {

using vm::THostIdentity;
using vmtest::FileExists;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

THostIdentity Identity() {
  THostIdentity identity;
  identity.HostName = "MyPc";
  for (const char* literal : {"192.168.1.20", "fe80::1", "2001:db8::7"}) {
    identity.Addresses.push_back(*vm::ParseIpLiteral(literal));
  }
  return identity;
}

TEST(RequestGuard, HostNamesThisMachine) {
  struct Row {
    const char* label;
    const char* host;
    bool ours;
  };
  const Row rows[] = {
      {"interface address", "192.168.1.20", true},
      {"interface address with port", "192.168.1.20:8080", true},
      {"loopback", "127.0.0.1:8080", true},
      {"other loopback address", "127.0.0.2", true},
      {"IPv6 loopback", "[::1]:8080", true},
      {"IPv6 interface address", "[2001:db8::7]", true},
      {"IPv6 written another way", "[2001:0db8:0::7]:80", true},
      {"IPv4 as mapped IPv6", "[::ffff:192.168.1.20]", true},
      {"localhost", "localhost:8080", true},
      {"localhost in capitals", "LOCALHOST", true},
      {"host name", "mypc", true},
      {"host name with domain", "mypc.local:8080", true},
      {"host name with longer domain", "MYPC.home.arpa", true},
      {"host name with final dot", "mypc.local.", true},
      {"spaces around", " mypc ", true},
      {"empty port", "mypc:", true},
      {"foreign name", "evil.example:8080", false},
      {"host name under any domain", "mypc.example.org", true},
      {"host name as a later label", "evil.mypc.example", false},
      {"host name as a prefix", "mypc2.local", false},
      {"subdomain of localhost", "a.localhost", false},
      {"foreign address", "192.168.1.21", false},
      {"unspecified address", "0.0.0.0", false},
      {"foreign IPv6", "[2001:db8::8]", false},
      {"bare IPv6", "::1", false},
      {"empty", "", false},
      {"port only", ":8080", false},
      {"port not a number", "mypc:80a", false},
      {"port too large", "mypc:65536", false},
      {"unclosed bracket", "[::1", false},
      {"garbage after bracket", "[::1]x", false},
  };
  const THostIdentity identity = Identity();
  for (const Row& row : rows) {
    EXPECT_EQ(vm::NamesThisMachine(row.host, identity), row.ours) << row.label;
  }
  THostIdentity nameless = identity;
  nameless.HostName.clear();
  EXPECT_FALSE(vm::NamesThisMachine("local", nameless)) << "no host name matches nothing";
}

TEST(RequestGuard, OriginMustBeTheHostsOwnSite) {
  struct Row {
    const char* label;
    const char* origin;
    const char* host;
    bool same;
  };
  const Row rows[] = {
      {"same host and port", "http://192.168.1.20:8080", "192.168.1.20:8080", true},
      {"default port both ways", "http://mypc", "mypc:80", true},
      {"default port on the host", "http://mypc:80", "mypc", true},
      {"case of host and scheme", "HTTP://MyPc.Local:8080", "mypc.local:8080", true},
      {"IPv6", "http://[::1]:8080", "[::1]:8080", true},
      {"other port", "http://192.168.1.20:8081", "192.168.1.20:8080", false},
      {"other host", "http://evil.example:8080", "192.168.1.20:8080", false},
      {"same machine by another name", "http://localhost:8080", "127.0.0.1:8080", false},
      {"https", "https://192.168.1.20:8080", "192.168.1.20:8080", false},
      {"opaque origin", "null", "192.168.1.20:8080", false},
      {"no host to compare", "http://192.168.1.20:8080", "", false},
      {"empty origin", "", "192.168.1.20:8080", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vm::IsSameOrigin(row.origin, row.host), row.same) << row.label;
  }
}

// A running program with one shared folder "S", reached on 127.0.0.1 only.
class GuardedServer : public ::testing::Test {
 protected:
  std::string Request(const std::string& head, const std::string& body = "") {
    return served_.Exchange(head + "Content-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body);
  }

  // Posts a new text "a.txt" into "S" from a form whose site is origin (none when empty).
  std::string PostNewText(const std::string& origin) {
    std::string head = "POST /velmarind/index.html HTTP/1.1\r\nHost: " + host_ + "\r\n";
    if (!origin.empty()) head += "Origin: " + origin + "\r\n";
    head += "Content-Type: application/x-www-form-urlencoded\r\n";
    return Request(head, "menu=newtext&dirname=" + vm::HexEncode("S") + "&fname=a.txt&tbody=hi");
  }

  static std::string StatusLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
  }

  bool PageWritten() const {
    for (const auto& entry : std::filesystem::directory_iterator(program_ + "page")) {
      if (entry.path().extension() == ".html") return true;
    }
    return false;
  }

  TTempFolder shares_;
  const std::string share_ = shares_.Path();
  vmtest::TServedCore served_{{"S;;" + share_}};
  const std::string program_ = served_.ProgramFolder();
  const int port_ = served_.Port();
  const std::string host_ = "127.0.0.1:" + std::to_string(port_);
};

TEST_F(GuardedServer, CrossSitePostChangesNothing) {
  std::vector<vm::TShareChange> told;
  served_.State().SetShareListener([&](const vm::TShareChange& c) { told.push_back(c); });

  const std::string answer = PostNewText("http://evil.example");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("<TITLE>Velmarind</TITLE>"), std::string::npos) << "the index page";
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  EXPECT_FALSE(FileExists(program_ + "pastdata.txt"));

  // A page of the same machine under another port is another site, too.
  PostNewText("http://127.0.0.1:" + std::to_string(port_ + 1));
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  PostNewText("null");
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  EXPECT_TRUE(told.empty());
  served_.State().SetShareListener(nullptr);
}

TEST_F(GuardedServer, OwnOriginAndNoOriginPostsWork) {
  std::vector<vm::TShareChange> told;
  served_.State().SetShareListener([&](const vm::TShareChange& c) { told.push_back(c); });

  PostNewText("http://" + host_);
  EXPECT_EQ(ReadFileBytes(share_ + "a.txt"), "hi");
  EXPECT_TRUE(FileExists(program_ + "pastdata.txt"));
  std::remove((share_ + "a.txt").c_str());
  PostNewText("");
  EXPECT_EQ(ReadFileBytes(share_ + "a.txt"), "hi");

  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0].Kind, vm::TShareChange::TKind::NewText);
  EXPECT_EQ(told[0].FolderName, "S");
  EXPECT_EQ(told[0].FileName, "a.txt");
  EXPECT_EQ(told[0].ClientAddress, "127.0.0.1");
  served_.State().SetShareListener(nullptr);
}

TEST_F(GuardedServer, UploadIsToldWithItsFileCount) {
  std::vector<vm::TShareChange> told;
  served_.State().SetShareListener([&](const vm::TShareChange& c) { told.push_back(c); });
  const std::string b = "----b";
  std::string body;
  for (const std::string& field : {std::string("menu\"\r\n\r\nupdimg"),
                                   "dirname\"\r\n\r\n" + vm::HexEncode("S")}) {
    body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + field + "\r\n";
  }
  for (const char* file : {"one.png", "two.png"}) {
    body += "--" + b + "\r\nContent-Disposition: form-data; name=\"files\"; filename=\"" +
            file + "\"\r\nContent-Type: image/png\r\n\r\ndata\r\n";
  }
  body += "--" + b + "--\r\n";
  Request("POST /velmarind/index.html HTTP/1.1\r\nHost: " + host_ + "\r\nOrigin: http://" +
              host_ + "\r\nContent-Type: multipart/form-data; boundary=" + b + "\r\n",
          body);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].Kind, vm::TShareChange::TKind::Upload);
  EXPECT_EQ(told[0].FolderName, "S");
  EXPECT_EQ(told[0].FileCount, 2);
  served_.State().SetShareListener(nullptr);
}

TEST_F(GuardedServer, ForeignHostIsMisdirected) {
  const std::string answer =
      Request("GET /velmarind/index.html HTTP/1.1\r\nHost: evil.example:" +
              std::to_string(port_) + "\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 421 Misdirected Request");
  const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
  EXPECT_EQ(body, "This server answers only under its own addresses and host name.\r\n");
  EXPECT_FALSE(PageWritten());

  // A foreign host's post is not even kept.
  Request("POST /velmarind/index.html HTTP/1.1\r\nHost: evil.example\r\n",
          "menu=newtext&dirname=" + vm::HexEncode("S") + "&fname=a.txt&tbody=hi");
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  EXPECT_FALSE(FileExists(program_ + "pastdata.txt"));
}

TEST_F(GuardedServer, OwnNamesAreServed) {
  std::vector<std::string> hosts = {host_, "localhost:" + std::to_string(port_), "127.0.0.2",
                                    "[::1]:" + std::to_string(port_)};
  const THostIdentity identity = vm::ReadHostIdentity();
  if (!identity.HostName.empty()) {
    hosts.push_back(identity.HostName);
    hosts.push_back(identity.HostName + ".local:" + std::to_string(port_));
  }
  char text[64] = {};
  for (const vm::TIpAddress& address : identity.Addresses) {
    const bool v4 = address[10] == 0xff && address[11] == 0xff;
    if (v4 && inet_ntop(AF_INET, address.data() + 12, text, sizeof text)) hosts.push_back(text);
    if (!v4 && inet_ntop(AF_INET6, address.data(), text, sizeof text)) {
      hosts.push_back("[" + std::string(text) + "]:" + std::to_string(port_));
    }
  }
  for (const std::string& host : hosts) {
    EXPECT_EQ(StatusLine(Request("GET /velmarind/ HTTP/1.1\r\nHost: " + host + "\r\n")),
              "HTTP/1.1 200 OK")
        << host;
  }
  // An HTTP/1.0 client names no host at all.
  EXPECT_EQ(StatusLine(Request("GET /velmarind/ HTTP/1.0\r\n")), "HTTP/1.1 200 OK");
}

}  // namespace
