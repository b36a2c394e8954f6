#include "web/dispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/exception.h"
#include "platform/text_helpers.h"
#include "support/expected_pages.h"
#include "support/page_lines.h"
#include "support/program_folder.h"
#include "support/waiting.h"
#include "web/login_page_files.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::ExpectedBlankPage;
using vmtest::ExpectedIndexPage;
using vmtest::ExpectedLoginDonePage;
using vmtest::ExpectedLoginForm;
using vmtest::ExpectedTextPage;
using vmtest::IndexLink;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::StampAfter;

// What a request was answered with: for a file, what ServeFile or ServeOpenFile was handed (the
// path, the file's bytes at that moment); for a generated page, its bytes (path empty). And the
// content type.
struct TServed {
  std::string path;
  std::string bytes;
  std::string contentType;
  int calls = 0;
  std::vector<std::string> headers;  // the response's custom header lines
  int code = 200;
  std::string location;
  bool HasHeader(const std::string& line) const {
    return std::find(headers.begin(), headers.end(), line) != headers.end();
  }
};

// A server that sends nothing: it records, per calling thread, what the dispatcher asks it to
// serve. One instance serves all tests, as building a server loads the system's MIME table.
class TRecordingServer : public TIdCustomHTTPServer {
 public:
  uint64_t ServeFile(TIdPeerThread*, TIdHTTPResponseInfo& response,
                     const std::string& fileName) override {
    TServed& last = LastOfThisThread();
    last.path = fileName;
    last.bytes = ReadFileBytes(fileName);
    last.contentType = response.ContentType;
    ++last.calls;
    return last.bytes.size();
  }
  uint64_t ServeOpenFile(TIdPeerThread*, TIdHTTPResponseInfo& response, int fd,
                         const std::string& fileName) override {
    TServed& last = LastOfThisThread();
    last.path = fileName;
    last.bytes.clear();
    char block[4096];
    for (ssize_t n; (n = pread(fd, block, sizeof block, last.bytes.size())) > 0;) {
      last.bytes.append(block, static_cast<size_t>(n));
    }
    close(fd);
    last.contentType = response.ContentType;
    ++last.calls;
    return last.bytes.size();
  }
  static TServed& LastOfThisThread() {
    thread_local TServed last;
    return last;
  }
  static TRecordingServer& Instance() {
    static TRecordingServer server;
    return server;
  }
};

constexpr char kBaseUrl[] = "http://192.168.0.12/velmarind/";
constexpr auto kTestDelay = std::chrono::milliseconds(40);

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    TRecordingServer::LastOfThisThread() = TServed{};
    state_.SetProgramFolder(folder_.Path());
    state_.SetLocalAddress("192.168.0.12");
    Configure(false, "", {"Photos;;/home/u/P/", Sjis("表;;/home/u/表/"), "Docs;;/srv/d/"});
  }

  void Configure(bool passFlag, const std::string& password, TSharedFolderList folders) {
    TSettings settings;
    settings.BaseURL = kBaseUrl;
    settings.PassFlag = passFlag;
    settings.Password = password;
    state_.Replace(settings, std::move(folders));
  }

  static TIdHTTPRequestInfo MakeRequest(const std::string& document,
                                        const std::string& rawParams = "",
                                        const std::string& address = "127.0.0.1") {
    TIdHTTPRequestInfo request;
    request.RemoteIP = address;
    request.Document = document;
    request.RawParams = rawParams;
    request.Command = "GET";
    return request;
  }

  // Dispatches one request as the engine would and returns what was served.
  TServed Dispatch(TIdHTTPRequestInfo& request) {
    TIdHTTPResponseInfo response(nullptr);
    response.ContentType = "text/html";
    const int calls = TRecordingServer::LastOfThisThread().calls;
    IdHTTPServer1CommandGet(state_, throttle_, TRecordingServer::Instance(), nullptr, request,
                            response);
    TServed& served = TRecordingServer::LastOfThisThread();
    if (served.calls == calls) {
      served = TServed{"", response.ContentText, response.ContentType, calls, {}, 200, {}};
    }
    served.headers = response.CustomHeaders.Lines();
    served.code = response.ResponseCode();
    served.location = response.Location;
    return served;
  }

  // A GET, or with a body a POST whose body the engine kept in the post stream.
  TServed Get(const std::string& document, const std::string& rawParams = "",
              const std::string& address = "127.0.0.1", const std::string& body = "") {
    TIdHTTPRequestInfo request = MakeRequest(document, rawParams, address);
    if (!body.empty()) {
      request.Command = "POST";
      request.ContentLength = static_cast<int64_t>(body.size());
      request.PostStream = std::make_unique<TMemoryStream>(body);
    }
    return Dispatch(request);
  }

  // The answer is a generated page whose bytes the page file also holds.
  static void ExpectPage(const TServed& served, const std::string& pageFile) {
    EXPECT_EQ(served.path, "") << pageFile;
    EXPECT_EQ(ReadFileBytes(pageFile), served.bytes) << pageFile;
  }

  std::string Page(const std::string& kind, const std::string& address = "127.0.0.1") const {
    return pageFolder_ + kind + "_" + address + ".html";
  }

  std::string IndexBytes() const {
    return JoinCrLf(ExpectedIndexPage({
        IndexLink("50686f746f73", "2f686f6d652f752f502f", "Photos"),
        IndexLink("955c", "2f686f6d652f752f955c2f", Sjis("表")),
        IndexLink("446f6373", "2f7372762f642f", "Docs"),
    }));
  }

  std::string LoginBytes(const TServed& served, bool wrongPassword) const {
    return JoinCrLf(
        ExpectedLoginForm(wrongPassword, StampAfter(served.bytes, "name=\"tt\" value=\"")));
  }

  vmtest::TProgramFolder folder_;
  const std::string pageFolder_ = folder_.PageFolder();
  TMainState state_;
  // Short delays: the tests of the slowed login wait for real.
  TLoginThrottle throttle_{kTestDelay};
};

struct RouteCase {
  const char* label;
  const char* document;
  const char* served;  // relative to the program folder
  const char* contentType;
};

constexpr char kPageType[] = "text/html";
constexpr char kFrameOptions[] = "X-Frame-Options: DENY";
constexpr char kFramePolicy[] = "Content-Security-Policy: frame-ancestors 'none'";
constexpr char kListingType[] = "text/plain; charset=Shift_JIS";
constexpr char kSandboxPolicy[] = "Content-Security-Policy: sandbox";

TEST_F(Dispatcher, DocumentTableRoutesBySubstringInOrder) {
  const RouteCase cases[] = {
      {"base URL", "/velmarind/", "page/index_127.0.0.1.html", kPageType},
      {"unknown document", "/favicon.ico", "page/index_127.0.0.1.html", kPageType},
      {"index", "/velmarind/index.html", "page/index_127.0.0.1.html", kPageType},
      {"any folder prefix", "/x/index.html", "page/index_127.0.0.1.html", kPageType},
      {"index row before listing row", "/script.html/index.html", "page/index_127.0.0.1.html",
       kPageType},
      {"listing", "/velmarind/script.html", "page/script_127.0.0.1.html", kListingType},
      {"text", "/velmarind/text.html", "page/text_127.0.0.1.html", kPageType},
      {"blank", "/velmarind/blank.html", "page/blank_127.0.0.1.html", kPageType},
      {"style sheet", "/velmarind/vcom.css", "page/vcom.css", "text/css"},
      {"script", "/velmarind/vcom.js", "page/vcom.js", "text/javascript"},
      {"keys are case-sensitive", "/velmarind/TEXT.HTML", "page/index_127.0.0.1.html", kPageType},
      {"login without a password", "/velmarind/login.html", "page/index_127.0.0.1.html", kPageType},
  };
  for (const RouteCase& c : cases) {
    SCOPED_TRACE(c.label);
    const TServed served = Get(c.document, "pid=m1&tt=130405090730123");
    // The installed files, and the listing (written into its page file as it is made), are
    // served from their files.
    const bool fromFile =
        std::string(c.served).find("vcom.") != std::string::npos || c.contentType == kListingType;
    if (fromFile) {
      EXPECT_EQ(served.path, folder_.Path() + c.served);
    } else {
      ExpectPage(served, folder_.Path() + c.served);
    }
    EXPECT_EQ(served.contentType, c.contentType);
    EXPECT_FALSE(served.bytes.empty());
    // Generated pages refuse to be framed; the listing is sandboxed data.
    const bool page = c.contentType == kPageType;
    EXPECT_EQ(served.HasHeader(kFrameOptions), page);
    EXPECT_EQ(served.HasHeader(kFramePolicy), page);
    EXPECT_EQ(served.HasHeader(kSandboxPolicy), c.contentType == kListingType);
  }
  EXPECT_EQ(Get("/velmarind/vcom.js").bytes, "function exf() {}\n");
}

// A link could put script into the listing's first field, which was answered as an HTML page.
TEST_F(Dispatcher, ListingTakesOnlyAnElementIdAndSaysWhenTheFolderIsMissing) {
  const std::string share = folder_.MakeFolderBeside("share");
  Configure(false, "", {"S;;" + share});
  const std::string shareParams = "&name=" + vm::HexEncode("S") + "&path=" + vm::HexEncode(share);
  const std::string header = ";;S;;" + vm::HexEncode("S") + ";;" + vm::HexEncode(share) + "\r\n";
  struct Row {
    const char* label;
    std::string params;
    std::string body;
  };
  const Row rows[] = {
      {"element id", "pid=m1" + shareParams, "m1" + header},
      {"all the allowed characters", "pid=aZ09_-" + shareParams, "aZ09_-" + header},
      {"64 characters", "pid=" + std::string(64, 'x') + shareParams, std::string(64, 'x') + header},
      {"65 characters", "pid=" + std::string(65, 'x') + shareParams, ";;;;;;\r\n"},
      {"markup", "pid=%3Cscript%3Ealert(1)%3C/script%3E" + shareParams, ";;;;;;\r\n"},
      {"empty id", "pid=" + shareParams, ";;;;;;\r\n"},
      {"no id", shareParams.substr(1), ";;;;;;\r\n"},
  };
  for (const Row& row : rows) {
    const TServed served = Get("/velmarind/script.html", row.params);
    EXPECT_EQ(served.bytes, row.body) << row.label;
    EXPECT_EQ(served.HasHeader("X-Velmarind-Folder: missing"), row.body == ";;;;;;\r\n")
        << row.label;
  }
  const std::string gone = "pid=m1&name=53&path=" + vm::HexEncode(share + "gone/");
  EXPECT_TRUE(Get("/velmarind/script.html", gone).HasHeader("X-Velmarind-Folder: missing"));
}

TEST_F(Dispatcher, PagesAreByteExactForEachClient) {
  for (const std::string address : {"127.0.0.1", "127.0.0.2"}) {
    SCOPED_TRACE(address);
    TServed served = Get("/velmarind/", "", address);
    ExpectPage(served, Page("index", address));
    EXPECT_EQ(served.bytes, IndexBytes());

    served = Get("/velmarind/text.html", "dirname=%35%30686f746f73&tt=1", address);
    ExpectPage(served, Page("text", address));
    const std::string fname = "__vupd_text_" + StampAfter(served.bytes, "__vupd_text_") + ".txt";
    EXPECT_EQ(served.bytes, JoinCrLf(ExpectedTextPage("50686f746f73", "Photos", fname)));

    served = Get("/velmarind/blank.html", "", address);
    ExpectPage(served, Page("blank", address));
    EXPECT_EQ(served.bytes, JoinCrLf(ExpectedBlankPage()));
  }
  EXPECT_EQ(ReadFileBytes(Page("index", "127.0.0.1")), IndexBytes());
}

TEST_F(Dispatcher, EmptyFolderListGivesTheShortIndexPage) {
  Configure(false, "", {});
  EXPECT_EQ(Get("/").bytes, JoinCrLf(ExpectedIndexPage({})));
}

TEST_F(Dispatcher, DownloadServesTheDecodedFileAsAnAttachment) {
  const std::string share = folder_.MakeFolderBeside("share");
  Configure(false, "", {"Files;;" + share});
  const std::string file = share + "report.txt";
  vmtest::WriteFileBytes(file, "data");
  std::string hex;
  for (unsigned char c : file) {
    static const char* digits = "0123456789abcdef";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  const TServed served = Get("/velmarind/download.html", "file=" + hex);
  EXPECT_EQ(served.path, file);
  EXPECT_EQ(served.bytes, "data");
  EXPECT_EQ(served.contentType, "application/octet-stream");
}

TEST_F(Dispatcher, GateAnswersEveryDocumentWithTheLoginForm) {
  Configure(true, "abc", {});
  for (const char* document : {"/velmarind/", "/velmarind/index.html",
                               "/velmarind/download.html", "/velmarind/LOGIN.HTML"}) {
    const TServed served = Get(document, "pw=616263&file=2f");
    ExpectPage(served, Page("login"));
    EXPECT_EQ(served.bytes, LoginBytes(served, false)) << document;
  }
  // The installed files keep their login-form answer by their own names; the login page loads
  // them by the names served before a login.
  ExpectPage(Get("/velmarind/vcom.css"), Page("login"));
  EXPECT_EQ(Get("/velmarind/vm-style").path, pageFolder_ + "vcom.css");
  EXPECT_EQ(Get("/velmarind/vm-script", "", "127.0.0.1", "menu=newtext").path, pageFolder_ + "vcom.js");
  ExpectPage(Get("/velmarind/x/vm-script.html"), Page("login"));
  EXPECT_FALSE(state_.IsAdmitted("127.0.0.1"));
}

TEST_F(Dispatcher, LoginAdmitsExactlyTheClientAddress) {
  Configure(true, "abc", {"Photos;;/home/u/P/"});
  TServed served = Get("/velmarind/login.html", "pw=414243&passwd=&tt=1");  // "ABC"
  ExpectPage(served, Page("login"));
  EXPECT_EQ(served.bytes, LoginBytes(served, true));

  served = Get("/velmarind/login.html", "pw=616263&passwd=&tt=1");
  ExpectPage(served, Page("index"));
  EXPECT_EQ(served.bytes,
            JoinCrLf(ExpectedLoginDonePage(kBaseUrl, StampAfter(served.bytes, "tt="))));
  EXPECT_TRUE(state_.IsAdmitted("127.0.0.1"));

  // Admitted: the document table applies, "login.html" included.
  served = Get("/velmarind/login.html");
  ExpectPage(served, Page("index"));
  EXPECT_EQ(
      served.bytes,
      JoinCrLf(ExpectedIndexPage({IndexLink("50686f746f73", "2f686f6d652f752f502f", "Photos")})));
  EXPECT_EQ(Get("/velmarind/vcom.css").path, pageFolder_ + "vcom.css");

  served = Get("/velmarind/index.html", "", "127.0.0.2");
  ExpectPage(served, Page("login", "127.0.0.2"));

  // A new password ends the admission.
  Configure(true, "other", {"Photos;;/home/u/P/"});
  served = Get("/velmarind/index.html");
  ExpectPage(served, Page("login"));
}

// 1,000 addresses that never logged in left 1,005 login page files until the program ended.
TEST_F(Dispatcher, LoginPageFilesOfStrangersAreKeptForTheNewestOnly) {
  Configure(true, "abc", {});
  const auto address = [](size_t i) {
    return "10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200);
  };
  const size_t strangers = kMaxLoginPageFiles + 40;
  for (size_t i = 0; i < strangers; ++i) Get("/velmarind/index.html", "", address(i));
  // The oldest one asks again: now the newest, so the next one's file goes instead.
  Get("/velmarind/index.html", "", address(40));
  Get("/velmarind/index.html", "", address(strangers));
  size_t files = 0;
  for (const std::string& name : folder_.List("page")) files += name.starts_with("login_");
  EXPECT_EQ(files, kMaxLoginPageFiles);
  for (size_t i : {size_t{40}, strangers - 1, strangers}) {
    EXPECT_TRUE(std::filesystem::exists(Page("login", address(i)))) << address(i);
  }
  EXPECT_FALSE(std::filesystem::exists(Page("login", address(41))));
}

TEST_F(Dispatcher, BrowserFormOfANonAsciiPasswordLogsIn) {
  Configure(true, Sjis("日本ｱ"), {});
  // What the login page's script sends: the character codes, upper-case hex, no leading zeros.
  TServed served = Get("/velmarind/login.html", "pw=65E5672CFF71&passwd=&tt=1");
  ExpectPage(served, Page("index"));
  EXPECT_TRUE(state_.IsAdmitted("127.0.0.1"));
  served = Get("/velmarind/login.html", "pw=65e5672cff72", "127.0.0.2");
  EXPECT_EQ(served.bytes, LoginBytes(served, true));
  EXPECT_FALSE(state_.IsAdmitted("127.0.0.2"));
}

TEST_F(Dispatcher, EmptyStoredPasswordAdmitsOnLoginOnly) {
  Configure(true, "", {});
  ExpectPage(Get("/velmarind/index.html"), Page("login"));
  ExpectPage(Get("/velmarind/login.html"), Page("index"));
  EXPECT_TRUE(state_.IsAdmitted("127.0.0.1"));
  EXPECT_EQ(Get("/velmarind/index.html").bytes, JoinCrLf(ExpectedIndexPage({})));
}

// A client stopped by the gate could save uploads and texts into the shared folders before it
// had logged in; its body must not reach the parser at all.
TEST_F(Dispatcher, GatedClientsBodyIsNotParsed) {
  Configure(true, "abc", {"Photos;;" + folder_.Path()});
  const std::string body = "menu=newtext&dirname=50686f746f73&fname=evil.txt&tbody=x";
  const TServed served = Get("/velmarind/blank.html", "", "127.0.0.1", body);
  ExpectPage(served, Page("login"));
  EXPECT_FALSE(vmtest::FileExists(folder_.Path() + "pastdata.txt"));
  EXPECT_FALSE(vmtest::FileExists(folder_.Path() + "evil.txt"));
}

TEST_F(Dispatcher, BodyReplacesTheQueryParameters) {
  const std::string body = "dirname=%34%32";  // a plain form body comes back as it is
  const TServed served = Get("/velmarind/text.html", "dirname=41", "127.0.0.1", body);
  EXPECT_NE(served.bytes.find("name=\"dirname\" value=\"42\""), std::string::npos);
}

// Enter on the login form sent the typed password in the URL, which the server did not read;
// the form now posts, its script sending the hex field, or the typed field without the script.
TEST_F(Dispatcher, LoginAcceptsEveryWayTheFormSendsThePassword) {
  Configure(true, Sjis("aひ"), {});  // the browser's hex is 613072, the typed bytes a%82%D0
  enum class TExpect { Done, Wrong, Plain };
  struct Row {
    const char* label;
    std::string query;
    std::string form;  // a posted form body, kept in FormText
    std::string origin;
    TExpect expect;
  };
  const Row rows[] = {
      {"GET with the script's hex", "pw=613072&passwd=&tt=1", "", "", TExpect::Done},
      {"GET with the typed field", "pw=&passwd=a%82%D0&tt=1", "", "", TExpect::Done},
      {"GET wrong", "pw=613073&passwd=&tt=1", "", "", TExpect::Wrong},
      {"POST with the script's hex", "", "pw=613072&passwd=&tt=1", "", TExpect::Done},
      {"POST without the script", "", "pw=&passwd=a%82%D0&tt=1", "", TExpect::Done},
      {"POST wrong", "", "pw=&passwd=a&tt=1", "", TExpect::Wrong},
      {"POST: the query is not seen", "pw=613072", "pw=00", "", TExpect::Wrong},
      {"POST from our own page", "", "pw=613072", "http://127.0.0.1", TExpect::Done},
      {"POST from another site", "", "pw=613072", "http://evil.example", TExpect::Plain},
  };
  int i = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string address = "127.0.1." + std::to_string(++i);
    TIdHTTPRequestInfo request = MakeRequest("/velmarind/login.html", row.query, address);
    request.Host = "127.0.0.1";
    if (!row.form.empty()) {
      request.Command = "POST";
      request.FormText = row.form;
      request.ContentLength = static_cast<int64_t>(row.form.size());
    }
    if (!row.origin.empty()) request.RawHeaders.Add("Origin: " + row.origin);
    const TServed served = Dispatch(request);
    EXPECT_EQ(state_.IsAdmitted(address), row.expect == TExpect::Done);
    if (row.expect == TExpect::Done) {
      ExpectPage(served, Page("index", address));
      EXPECT_EQ(served.bytes,
                JoinCrLf(ExpectedLoginDonePage(kBaseUrl, StampAfter(served.bytes, "tt="))));
    } else {
      ExpectPage(served, Page("login", address));
      EXPECT_EQ(served.bytes, LoginBytes(served, row.expect == TExpect::Wrong));
    }
  }
}

// Guessing went as fast as the connection allowed (374 guesses a second).
TEST_F(Dispatcher, WrongPasswordsSlowFurtherAttemptsFromThatAddress) {
  Configure(true, "abc", {});
  const auto attempt = [&](const std::string& pw) {
    const auto start = std::chrono::steady_clock::now();
    Get("/velmarind/login.html", "pw=" + pw);
    return std::chrono::steady_clock::now() - start;
  };
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) attempt("00");
  // Every login form now tells its script how long the next check waits, in whole seconds.
  EXPECT_NE(Get("/velmarind/").bytes.find(R"(<meta name="velmarind-wait" content="1">)"),
            std::string::npos);
  EXPECT_GE(attempt("00"), kTestDelay);
  EXPECT_GE(attempt("00"), 2 * kTestDelay);
  // The right password is checked after its turn too, and admits.
  EXPECT_GE(attempt("616263"), 4 * kTestDelay);
  EXPECT_TRUE(state_.IsAdmitted("127.0.0.1"));
}

TEST_F(Dispatcher, AWaitingLoginHoldsUpNobodyElse) {
  Configure(true, "abc", {});
  TLoginThrottle slow(std::chrono::seconds(30));
  const auto login = [&](const std::string& pw, const std::string& address) {
    TIdHTTPRequestInfo request = MakeRequest("/velmarind/login.html", "pw=" + pw, address);
    TIdHTTPResponseInfo response(nullptr);
    IdHTTPServer1CommandGet(state_, slow, TRecordingServer::Instance(), nullptr, request, response);
    return response.ContentText;
  };
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) login("00", "127.0.0.2");
  std::atomic<bool> answered{false};
  std::string waitedAnswer;
  std::thread waiting([&] {
    waitedAnswer = login("616263", "127.0.0.2");
    answered = true;
  });
  EXPECT_TRUE(vmtest::WaitUntil(vmtest::OthersAsleep)) << "the login is not waiting";
  // Another address logs in, and the waiting address's other requests are answered.
  EXPECT_NE(login("616263", "127.0.0.3").find("index.html?tt="), std::string::npos);
  EXPECT_TRUE(state_.IsAdmitted("127.0.0.3"));
  ExpectPage(Get("/velmarind/index.html", "", "127.0.0.2"), Page("login", "127.0.0.2"));
  EXPECT_FALSE(answered);
  // Stopping (the program closing) ends the wait without a check.
  slow.Stop();
  waiting.join();
  EXPECT_NE(waitedAnswer.find(Sjis("パスワードが正しくありません")), std::string::npos);
  EXPECT_FALSE(state_.IsAdmitted("127.0.0.2"));
}

// The QR code's sign-in document, by the state of the code sent and by who started the request.
TEST_F(Dispatcher, SignInCodeAdmitsOnceAndOnlyWhenThePersonOpensIt) {
  enum class TCode { Live, UsedElsewhere, Expired, Unknown };
  enum class TExpect { In, Refused, Plain };
  const std::vector<std::string> link = {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate",
                                         "Sec-Fetch-Dest: document"};
  const struct {
    const char* label;
    TCode code;
    std::vector<std::string> headers;
    const char* command;
    bool password, on;
    TExpect expect;
  } rows[] = {
      {"scanned", TCode::Live, {}, "GET", true, true, TExpect::In},
      {"scanned, typed into the browser", TCode::Live, {"Sec-Fetch-Site: none"}, "GET", true, true,
       TExpect::In},
      {"used from another address", TCode::UsedElsewhere, {}, "GET", true, true, TExpect::Refused},
      {"expired", TCode::Expired, {}, "GET", true, true, TExpect::Refused},
      {"unknown", TCode::Unknown, {}, "GET", true, true, TExpect::Refused},
      {"a link on another site", TCode::Live, link, "GET", true, true, TExpect::Plain},
      {"HEAD", TCode::Live, {}, "HEAD", true, true, TExpect::Plain},
      {"turned off", TCode::Live, {}, "GET", true, false, TExpect::Plain},
      {"no password needed", TCode::Live, {}, "GET", false, true, TExpect::In},
  };
  TSignInTokens& tokens = state_.SignInTokens();
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    TSettings settings;
    settings.PassFlag = row.password;
    settings.Password = "abc";
    settings.QrSignIn = row.on;
    state_.Replace(settings, {});
    std::string code = tokens.Current()->Token;
    if (row.code == TCode::UsedElsewhere) Get("/velmarind/vm-signin", "t=" + code, "127.0.2.1");
    if (row.code == TCode::Expired) {
      tokens.SetValidity(std::chrono::seconds(0));
      code = tokens.Renew()->Token;
      tokens.SetValidity(TSignInTokens::kDefaultValidity);
    }
    if (row.code == TCode::Unknown) code = std::string(code.size(), 'a');
    const std::string shown = tokens.Current()->Token;  // what the display shows meanwhile
    const std::string address = "127.0.1." + std::to_string(++n);
    TIdHTTPRequestInfo request = MakeRequest("/velmarind/vm-signin", "t=" + code, address);
    request.Host = "127.0.0.1";
    request.Command = row.command;
    for (const std::string& line : row.headers) request.RawHeaders.Add(line);
    const TServed served = Dispatch(request);
    const bool admits = row.expect == TExpect::In && row.password;
    EXPECT_EQ(state_.AdmissionOf(address), admits ? std::optional(TAdmission::Scan) : std::nullopt);
    if (row.expect == TExpect::In) {
      // On to the index page: the code leaves the address bar, and no cache keeps the answer.
      EXPECT_EQ(served.code, 303);
      EXPECT_EQ(served.location, "./");
      EXPECT_TRUE(served.HasHeader("Cache-Control: no-store"));
    } else {
      ExpectPage(served, Page("login", address));
      EXPECT_EQ(served.bytes.find(texts::CodeRefused()) != std::string::npos,
                row.expect == TExpect::Refused);
      if (row.expect == TExpect::Plain) {
        EXPECT_EQ(served.bytes, LoginBytes(served, false));
      }
    }
    // The code on the display is gone only when this request used it.
    EXPECT_EQ(tokens.Redeem(shown), !(admits && shown == code));
  }
}

TEST_F(Dispatcher, RefusedSignInCodesSlowThePasswordToo) {
  Configure(true, "abc", {});
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) Get("/velmarind/vm-signin", "t=00");
  const auto start = std::chrono::steady_clock::now();
  Get("/velmarind/login.html", "pw=616263");
  EXPECT_GE(std::chrono::steady_clock::now() - start, kTestDelay);
  EXPECT_EQ(state_.AdmissionOf("127.0.0.1"), TAdmission::Password);
}

// A page of another site could make an admitted browser send requests with its own parameters,
// and a GET with a foreign Origin and a body created files.
TEST_F(Dispatcher, RequestsAnotherSiteStartedSeeNoParametersAndNoBody) {
  const std::string share = folder_.MakeFolderBeside("share");
  Configure(false, "", {"S;;" + share});
  const std::vector<std::string> crossFetch = {"Sec-Fetch-Site: cross-site",
                                               "Sec-Fetch-Mode: no-cors", "Sec-Fetch-Dest: empty"};
  const std::vector<std::string> crossNavigation = {
      "Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate", "Sec-Fetch-Dest: document"};
  struct Row {
    const char* label;
    const char* command;
    bool body;  // a new-text body to blank.html, or else text.html with a dirname in the query
    std::vector<std::string> headers;
    bool seen;
  };
  const Row rows[] = {
      {"no origin, no metadata", "GET", false, {}, true},
      {"same-origin fetch",
       "GET",
       false,
       {"Sec-Fetch-Site: same-origin", "Sec-Fetch-Mode: cors", "Sec-Fetch-Dest: empty"},
       true},
      {"cross-site fetch", "GET", false, crossFetch, false},
      {"cross-site navigation with parameters", "GET", false, crossNavigation, false},
      {"same-site frame",
       "GET",
       false,
       {"Sec-Fetch-Site: same-site", "Sec-Fetch-Mode: navigate", "Sec-Fetch-Dest: iframe"},
       false},
      {"foreign origin on a GET", "GET", false, {"Origin: http://evil.example"}, false},
      {"own post", "POST", true, {"Origin: http://127.0.0.1"}, true},
      {"own post under metadata",
       "POST",
       true,
       {"Origin: null", "Sec-Fetch-Site: same-origin", "Sec-Fetch-Mode: navigate",
        "Sec-Fetch-Dest: document"},
       true},
      {"foreign origin on a POST", "POST", true, {"Origin: http://evil.example"}, false},
      {"foreign origin on a GET with a body", "GET", true, {"Origin: http://evil.example"}, false},
      {"null origin without metadata", "POST", true, {"Origin: null"}, false},
      {"cross-site form post", "POST", true, crossNavigation, false},
  };
  int i = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string fname = "r" + std::to_string(++i) + ".txt";
    TIdHTTPRequestInfo request = MakeRequest(
        row.body ? "/velmarind/blank.html" : "/velmarind/text.html", row.body ? "" : "dirname=53");
    request.Command = row.command;
    request.Host = "127.0.0.1";
    for (const std::string& line : row.headers) request.RawHeaders.Add(line);
    if (row.body) {
      const std::string body = "menu=newtext&dirname=53&fname=" + fname + "&tbody=x";
      request.ContentLength = static_cast<int64_t>(body.size());
      request.PostStream = std::make_unique<TMemoryStream>(body);
    }
    const TServed served = Dispatch(request);
    if (row.body) {
      EXPECT_EQ(vmtest::FileExists(share + fname), row.seen);
    } else {
      EXPECT_EQ(served.bytes.find("<b>S</b>") != std::string::npos, row.seen);
    }
  }
}

TEST_F(Dispatcher, NewTextAnswerNamesTheFileSaved) {
  const std::string share = folder_.MakeFolderBeside("share");
  Configure(false, "", {"S;;" + share});
  const auto resultHeaders = [](const TServed& served) {
    std::vector<std::string> found;
    for (const std::string& line : served.headers) {
      if (line.rfind("X-Velmarind-Saved", 0) == 0 || line.rfind("X-Velmarind-Refused", 0) == 0)
        found.push_back(line);
    }
    return found;
  };
  TServed served =
      Get("/velmarind/blank.html", "", "127.0.0.1", "menu=newtext&dirname=53&fname=a.txt&tbody=hi");
  EXPECT_EQ(resultHeaders(served),
            std::vector<std::string>{"X-Velmarind-Saved: " + vm::HexEncode("a.txt")});
  EXPECT_EQ(served.bytes, JoinCrLf(ExpectedBlankPage()));
  // Only the answer of a new-text post says anything.
  EXPECT_TRUE(resultHeaders(Get("/velmarind/blank.html", "", "127.0.0.1", "menu=x")).empty());
  EXPECT_TRUE(resultHeaders(Get("/velmarind/blank.html")).empty());
  served =
      Get("/velmarind/index.html", "", "127.0.0.1", "menu=newtext&dirname=53&fname=b.txt&tbody=hi");
  EXPECT_TRUE(vmtest::FileExists(share + "b.txt"));
  EXPECT_TRUE(resultHeaders(served).empty());
}

// A login body must never reach the disk, also from a client that needs no login.
TEST_F(Dispatcher, LoginDocumentsBodyIsNeverParsed) {
  const std::string share = folder_.MakeFolderBeside("share");
  Configure(false, "", {"S;;" + share});
  const TServed served =
      Get("/velmarind/login.html", "", "127.0.0.1", "menu=newtext&dirname=53&fname=a.txt&tbody=x");
  ExpectPage(served, Page("index"));
  EXPECT_FALSE(vmtest::FileExists(share + "a.txt"));
  EXPECT_FALSE(vmtest::FileExists(folder_.Path() + "pastdata.txt"));
}

TEST_F(Dispatcher, MissingPageFolderFailsWithTheFileName) {
  std::filesystem::remove_all(pageFolder_);
  try {
    Get("/velmarind/index.html", "", "127.0.0.2");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              Sjis("ファイル ") + Page("index", "127.0.0.2") + Sjis(" を作成できません"));
  }
  EXPECT_EQ(TRecordingServer::LastOfThisThread().calls, 0);
}

// Two requests of one kind from one address at the same moment: each is served a whole page.
TEST_F(Dispatcher, SimultaneousRequestsEachGetACompletePage) {
  constexpr int kRequestsPerThread = 100;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const std::string expected = IndexBytes();
  std::mutex mutex;
  int bad = 0;
  auto client = [&] {
    for (int i = 0; i < kRequestsPerThread && std::chrono::steady_clock::now() < deadline; ++i) {
      TIdHTTPRequestInfo request;
      request.RemoteIP = "127.0.0.1";
      request.Document = "/velmarind/index.html";
      TIdHTTPResponseInfo response(nullptr);
      IdHTTPServer1CommandGet(state_, throttle_, TRecordingServer::Instance(), nullptr, request,
                              response);
      if (response.ContentText != expected) {
        std::lock_guard<std::mutex> lock(mutex);
        ++bad;
      }
    }
  };
  std::thread a(client);
  std::thread b(client);
  a.join();
  b.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace vm
