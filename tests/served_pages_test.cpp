// The pages, the gate and the guards through the real server on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_helpers.h"
#include "support/loopback_client.h"
#include "support/multipart.h"
#include "support/served_core.h"
#include "support/waiting.h"

namespace {

using vmtest::FileExists;
using vmtest::Request;
using vmtest::SplitAnswer;
using vmtest::THttpAnswer;
using vmtest::TServedCore;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

constexpr char kPassword[] = "pw";
constexpr char kPasswordSettings[] = "PASS_FLG=1\r\nPASSWORD=7077\r\n";  // "pw"

std::string LoginForm(const std::string& password) {
  return "pw=" + vm::HexEncode(password) + "&passwd=&tt=1";
}

// A multipart upload of one file into the share named S.
std::string UploadBody() {
  return vmtest::Multipart({{"name=\"menu\"", "updimg"},
                            {"name=\"dirname\"", vm::HexEncode("S")},
                            {"name=\"ifile\"; filename=\"up.png\"", "data"}},
                           "----b");
}
constexpr char kUploadType[] = "Content-Type: multipart/form-data; boundary=----b\r\n";

TEST(ServedPages, EveryAnswerSaysWhatItIsAndWhoMayFrameIt) {
  TTempFolder shares;
  const std::string share = shares.MakeSubfolder("S");
  TServedCore served({"S;;" + share});
  struct Row {
    const char* label;
    std::string request;
    const char* status;
    const char* contentType;
    bool page;  // a generated HTML page: never framed
  };
  const std::string listing = "/velmarind/script.html?pid=m1&name=53&path=" + vm::HexEncode(share);
  const Row rows[] = {
      {"index page", Request("GET", "/velmarind/"), "200", "text/html", true},
      {"text page", Request("GET", "/velmarind/text.html?dirname=53"), "200", "text/html", true},
      {"listing", Request("GET", listing), "200", "text/plain; charset=Shift_JIS", false},
      {"style sheet", Request("GET", "/velmarind/vcom.css"), "200", "text/css", false},
      {"script", Request("GET", "/velmarind/vcom.js"), "200", "text/javascript", false},
      {"failed download", Request("GET", "/velmarind/download.html?file=2f78"), "500", nullptr,
       false},
      {"foreign host", "GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n", "421", "text/plain", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const THttpAnswer answer = SplitAnswer(served.Exchange(row.request));
    EXPECT_EQ(answer.statusLine.substr(9, 3), row.status);
    if (row.contentType) {
      EXPECT_EQ(answer.Header("Content-Type"), row.contentType);
    }
    EXPECT_EQ(answer.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(answer.Header("Referrer-Policy"), "same-origin");
    EXPECT_EQ(answer.Header("X-Frame-Options"), row.page ? "DENY" : "");
  }
}

// Bodies of clients that may not post were read, kept as pastdata.txt and parsed.
TEST(ServedPages, BodiesOfStrangersLeaveNothingOnDisk) {
  TTempFolder shares;
  const std::string share = shares.MakeSubfolder("S");
  TServedCore served({"S;;" + share}, kPasswordSettings);
  const std::string pastData = served.ProgramFolder() + "pastdata.txt";
  // The login form of 127.0.0.2 is read as a small form and kept nowhere.
  const std::string done = served.Exchange(
      Request("POST", "/velmarind/login.html",
              "Content-Type: application/x-www-form-urlencoded\r\n", LoginForm(kPassword)),
      "127.0.0.2");
  ASSERT_NE(done.find("index.html?tt="), std::string::npos) << done;
  EXPECT_FALSE(FileExists(pastData));

  const std::string crossSite =
      "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: document\r\n";
  struct Row {
    const char* label;
    std::string method;
    std::string target;
    std::string headers;
    std::string address;
  };
  const Row rows[] = {
      {"client that must log in", "POST", "/velmarind/index.html", "", "127.0.0.3"},
      {"foreign origin on a GET", "GET", "/velmarind/index.html", "Origin: http://evil.example\r\n",
       "127.0.0.2"},
      {"cross-site form post", "POST", "/velmarind/index.html", crossSite, "127.0.0.2"},
      {"login document", "POST", "/velmarind/login.html", "", "127.0.0.2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string answer = served.Exchange(
        Request(row.method, row.target, kUploadType + row.headers, UploadBody()), row.address);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_FALSE(FileExists(pastData));
    EXPECT_TRUE(shares.List("S").empty());
  }
  // The admitted client's own upload is kept and saved.
  served.Exchange(Request("POST", "/velmarind/index.html", kUploadType, UploadBody()), "127.0.0.2");
  EXPECT_TRUE(FileExists(pastData));
  EXPECT_EQ(shares.List("S").size(), 1u);
}

// Login attempts waiting for their turn held the program's close for up to a minute.
TEST(ServedPages, ClosingAnswersLoginsWaitingForTheirTurn) {
  auto served = std::make_unique<TServedCore>(std::vector<std::string>{}, kPasswordSettings);
  const std::string wrong = Request("POST", "/velmarind/login.html", "", LoginForm("nope"));
  for (int i = 0; i < 5; ++i) served->Exchange(wrong, "127.0.0.2");
  // Sent together, these get turns 1, 3, 7, 15, 31 and 63 seconds ahead.
  constexpr int kWaiting = 6;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  const int port = served->Port();
  for (int i = 0; i < kWaiting; ++i) {
    clients.emplace_back([&] {
      vm::testing::Exchange(port, wrong, "127.0.0.2");
      ++answered;
    });
  }
  // All are inside their wait for a turn.
  EXPECT_TRUE(vmtest::WaitUntil(
      [&] { return served->Server().ConnectionCount() == kWaiting && vmtest::OthersAsleep(); }));
  const auto start = std::chrono::steady_clock::now();
  served.reset();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered, kWaiting);
  std::cout << "[ figures  ] close with " << kWaiting << " logins waiting: " << seconds << " s\n";
  EXPECT_LT(seconds, 10.0) << "the close waited for the turns";
}

// Requests from one address overwrote each other's page file between write and serve, and a
// listing showed another folder's files.
class ConcurrentPages : public ::testing::Test {
 protected:
  ConcurrentPages()
      : x_(shares_.MakeSubfolder("X")),
        y_(shares_.MakeSubfolder("Y")),
        served_({"X;;" + x_, "Y;;" + y_}) {
    WriteFileBytes(x_ + "only-in-x.txt", "x");
    WriteFileBytes(y_ + "only-in-y.txt", "y");
  }

  // The body of an answer with every request stamp (fifteen digits) made alike.
  // The body with its stamps masked, and without the throttle's wait line: a crowd of wrong
  // passwords (these rounds send more than 20 a second) makes it come and go.
  static std::string Normalised(const std::string& raw) {
    static const std::regex stamp("\\d{15}");
    static const std::regex wait("<meta name=\"velmarind-wait\" content=\"\\d+\">\r\n");
    return std::regex_replace(std::regex_replace(SplitAnswer(raw).body, wait, ""), stamp, "#");
  }

  // Sends every request at once from one address, rounds times (bounded in time), and counts
  // the answers that are none of the answers their own request may have.
  struct TKind {
    std::string request;
    std::set<std::string> answers;  // normalised
  };
  int Run(const std::vector<TKind>& kinds, int rounds, const std::function<void()>& between) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> wrong{0};
    int done = 0;
    for (; done < rounds && std::chrono::steady_clock::now() < deadline; ++done) {
      std::vector<std::thread> clients;
      for (const TKind& kind : kinds) {
        clients.emplace_back([this, &wrong, k = &kind] {
          if (!k->answers.count(Normalised(served_.Exchange(k->request, kAddress)))) ++wrong;
        });
      }
      for (std::thread& client : clients) client.join();
      if (between) between();
    }
    std::cout << "[ figures  ] " << done << " rounds of " << kinds.size()
              << " concurrent requests from one address, " << wrong << " answers wrong\n";
    EXPECT_GT(done, 0);
    return wrong;
  }

  std::string Answer(const std::string& request) {
    return Normalised(served_.Exchange(request, kAddress));
  }

  static constexpr char kAddress[] = "127.0.0.3";
  static constexpr int kRounds = 40;
  TTempFolder shares_;
  const std::string x_;
  const std::string y_;
  TServedCore served_;
};

TEST_F(ConcurrentPages, EachAnswerIsThePageOfItsOwnRequest) {
  const auto listing = [](const std::string& name, const std::string& path) {
    return Request("GET", "/velmarind/script.html?pid=m1&name=" + vm::HexEncode(name) +
                              "&path=" + vm::HexEncode(path));
  };
  std::vector<TKind> kinds = {
      {Request("GET", "/velmarind/index.html"), {}},
      {listing("X", x_), {}},
      {listing("Y", y_), {}},
      {Request("GET", "/velmarind/text.html?dirname=58"), {}},
      {Request("GET", "/velmarind/text.html?dirname=59"), {}},
      {Request("GET", "/velmarind/blank.html"), {}},
  };
  for (TKind& kind : kinds) kind.answers = {Answer(kind.request)};
  ASSERT_NE(kinds[1].answers.begin()->find("only-in-x.txt"), std::string::npos);
  EXPECT_EQ(Run(kinds, kRounds, nullptr), 0);
}

TEST_F(ConcurrentPages, EachLoginAnswerIsThePageOfItsOwnRequest) {
  vm::TSettings settings = served_.State().Settings();
  settings.PassFlag = true;
  int round = 0;
  // A new password each round ends the admission, so that every round logs in afresh.
  const auto newPassword = [&] {
    settings.Password = "pw" + std::to_string(++round % 2);
    served_.State().Replace(settings, *served_.State().SharedFolders());
  };
  newPassword();
  const auto login = [&](const std::string& password) {
    return Request("POST", "/velmarind/login.html", "", LoginForm(password));
  };
  const std::string loginForm = Answer(Request("GET", "/velmarind/index.html"));
  const std::string wrongForm = Answer(login("nope"));
  const std::string done = Answer(login(settings.Password));
  const std::string index = Answer(Request("GET", "/velmarind/index.html"));
  ASSERT_NE(done, index);
  // Before the login of the round the gate answers, after it the index page.
  std::vector<TKind> kinds = {
      {Request("GET", "/velmarind/index.html"), {loginForm, index}},
      {login("nope"), {wrongForm, index}},
      {"", {done}},
  };
  const auto nextRound = [&] {
    newPassword();
    kinds[2].request = login(settings.Password);
  };
  nextRound();
  EXPECT_EQ(Run(kinds, kRounds, nextRound), 0);
}

}  // namespace
