#include "web/request_guard.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <string>
#include <vector>

#include "platform/host_identity.h"
#include "platform/text_helpers.h"
#include "support/expected_pages.h"
#include "support/multipart.h"
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
  identity.Domains = {"home.arpa", "Corp.Example."};
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
      {"host name with its own domain", "MYPC.home.arpa", true},
      {"host name with a domain written with a final dot", "mypc.corp.example:8080", true},
      {"host name with final dot", "mypc.local.", true},
      {"extra host", "NAS.example", true},
      {"extra host with final dot", "nas.example.:8080", true},
      {"extra host given with a final dot", "box.lan", true},
      {"extra host that is an address", "203.0.113.9:8080", true},
      {"spaces around", " mypc ", true},
      {"empty port", "mypc:", true},
      {"foreign name", "evil.example:8080", false},
      // A rebinding domain: anybody can point "<our host name>.<their domain>" at our address.
      {"host name under a foreign domain", "mypc.evil.example", false},
      {"host name under a domain of ours, one deeper", "mypc.x.home.arpa", false},
      {"host name under a suffix of our domain", "mypc.arpa", false},
      {"host name as a later label", "evil.mypc.example", false},
      {"extra host as a suffix", "x.nas.example", false},
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
  const std::vector<std::string> extraHosts = {"nas.example", "box.lan.", "203.0.113.9"};
  for (const Row& row : rows) {
    EXPECT_EQ(vm::NamesThisMachine(row.host, identity, extraHosts), row.ours) << row.label;
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

TEST(RequestGuard, OtherSitesMayOnlyOpenTheStartPage) {
  const std::vector<std::string> navigation = {"Sec-Fetch-Mode: navigate",
                                               "Sec-Fetch-Dest: document"};
  struct Row {
    const char* label;
    std::vector<std::string> headers;
    bool plainIndex;  // a GET of the index page without parameters or body
    bool foreign;
  };
  const auto with = [](std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  };
  const Row rows[] = {
      {"nothing said", {}, false, false},
      {"own origin", {"Origin: http://h:8080"}, false, false},
      {"foreign origin", {"Origin: http://evil.example"}, false, true},
      {"foreign origin on the start page", {"Origin: http://evil.example"}, true, true},
      {"null origin", {"Origin: null"}, false, true},
      {"null origin, own by metadata",
       {"Origin: null", "Sec-Fetch-Site: same-origin"},
       false,
       false},
      {"null origin, typed by the person", {"Origin: null", "Sec-Fetch-Site: none"}, false, false},
      {"null origin, cross-site", {"Origin: null", "Sec-Fetch-Site: cross-site"}, false, true},
      {"same-origin", {"Sec-Fetch-Site: same-origin"}, false, false},
      {"typed address or bookmark", with({"Sec-Fetch-Site: none"}, navigation), false, false},
      {"cross-site link to the start page", with({"Sec-Fetch-Site: cross-site"}, navigation), true,
       false},
      {"same-site link to the start page", with({"Sec-Fetch-Site: same-site"}, navigation), true,
       false},
      {"metadata in another case",
       {"sec-fetch-site: Cross-Site", "SEC-FETCH-MODE: Navigate", "Sec-Fetch-Dest: DOCUMENT"},
       true,
       false},
      {"cross-site link elsewhere", with({"Sec-Fetch-Site: cross-site"}, navigation), false, true},
      {"cross-site frame of the start page",
       {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate", "Sec-Fetch-Dest: iframe"},
       true,
       true},
      {"cross-site fetch of the start page",
       {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: no-cors", "Sec-Fetch-Dest: empty"},
       true,
       true},
      {"same-site fetch", {"Sec-Fetch-Site: same-site", "Sec-Fetch-Mode: cors"}, false, true},
      {"unknown site value", {"Sec-Fetch-Site: elsewhere"}, false, true},
      {"own origin but cross-site metadata",
       {"Origin: http://h:8080", "Sec-Fetch-Site: cross-site"},
       false,
       true},
  };
  for (const Row& row : rows) {
    vm::TIdHeaderList headers;
    for (const std::string& line : row.headers) headers.Add(line);
    EXPECT_EQ(vm::IsStartedByOtherSite(headers, "h:8080", row.plainIndex), row.foreign)
        << row.label;
  }
}

// A running program with one shared folder "S", reached on 127.0.0.1 only.
class GuardedServer : public ::testing::Test {
 protected:
  GuardedServer() {
    served_.State().SetShareListener([this](const vm::TShareChange& c) { told_.push_back(c); });
  }
  ~GuardedServer() override { served_.State().SetShareListener(nullptr); }

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
  std::vector<vm::TShareChange> told_;  // the changes the program was told of, in order
};

TEST_F(GuardedServer, CrossSitePostChangesNothing) {
  const std::string answer = PostNewText("http://evil.example");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(vmtest::SplitAnswer(answer).body,
            vmtest::JoinCrLf(vmtest::ExpectedIndexPage(
                {vmtest::IndexLink(vm::HexEncode("S"), vm::HexEncode(share_), "S")})));
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  EXPECT_FALSE(FileExists(program_ + "pastdata.txt"));

  // A page of the same machine under another port is another site, too.
  PostNewText("http://127.0.0.1:" + std::to_string(port_ + 1));
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  PostNewText("null");
  EXPECT_FALSE(FileExists(share_ + "a.txt"));
  EXPECT_TRUE(told_.empty());
}

TEST_F(GuardedServer, OwnOriginAndNoOriginPostsWork) {
  PostNewText("http://" + host_);
  EXPECT_EQ(ReadFileBytes(share_ + "a.txt"), "hi");
  EXPECT_TRUE(FileExists(program_ + "pastdata.txt"));
  std::remove((share_ + "a.txt").c_str());
  PostNewText("");
  EXPECT_EQ(ReadFileBytes(share_ + "a.txt"), "hi");

  ASSERT_EQ(told_.size(), 2u);
  EXPECT_EQ(told_[0].Kind, vm::TShareChange::TKind::NewText);
  EXPECT_EQ(told_[0].FolderName, "S");
  EXPECT_EQ(told_[0].FileName, "a.txt");
  EXPECT_EQ(told_[0].ClientAddress, "127.0.0.1");
}

TEST_F(GuardedServer, UploadIsToldWithItsFileCount) {
  const std::string body = vmtest::Multipart({{"name=\"menu\"", "updimg"},
                                              {"name=\"dirname\"", vm::HexEncode("S")},
                                              {"name=\"files\"; filename=\"one.png\"", "data"},
                                              {"name=\"files\"; filename=\"two.png\"", "data"}},
                                             "----b");
  Request("POST /velmarind/index.html HTTP/1.1\r\nHost: " + host_ + "\r\nOrigin: http://" + host_ +
              "\r\nContent-Type: multipart/form-data; boundary=----b\r\n",
          body);
  ASSERT_EQ(told_.size(), 1u);
  EXPECT_EQ(told_[0].Kind, vm::TShareChange::TKind::Upload);
  EXPECT_EQ(told_[0].FolderName, "S");
  EXPECT_EQ(told_[0].FileCount, 2);
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
