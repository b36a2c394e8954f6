#include "web/dispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/exception.h"
#include "support/expected_pages.h"
#include "support/page_lines.h"
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
using vmtest::TTempFolder;

// What a request was answered with: for a file, what ServeFile or ServeOpenFile was handed (the
// path, the file's bytes at that moment); for a generated page, its bytes (path empty). And the
// content type.
struct TServed {
  std::string path;
  std::string bytes;
  std::string contentType;
  int calls = 0;
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

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    TRecordingServer::LastOfThisThread() = TServed{};
    pageFolder_ = folder_.MakeSubfolder("page");
    vmtest::WriteFileBytes(pageFolder_ + "vcom.css", ".sh1 {}\n");
    vmtest::WriteFileBytes(pageFolder_ + "vcom.js", "function exf() {}\n");
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

  // Dispatches one request as the engine would and returns what was served.
  TServed Get(const std::string& document, const std::string& rawParams = "",
              const std::string& address = "127.0.0.1", const std::string& body = "") {
    TIdHTTPRequestInfo request;
    request.RemoteIP = address;
    request.Document = document;
    request.RawParams = rawParams;
    request.Command = body.empty() ? "GET" : "POST";
    request.PostStream = std::make_unique<TMemoryStream>(body);
    TIdHTTPResponseInfo response(nullptr);
    response.ContentType = "text/html";
    const int calls = TRecordingServer::LastOfThisThread().calls;
    IdHTTPServer1CommandGet(state_, TRecordingServer::Instance(), nullptr, request, response);
    TServed& served = TRecordingServer::LastOfThisThread();
    if (served.calls == calls) served = TServed{"", response.ContentText, response.ContentType, calls};
    return served;
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

  TTempFolder folder_;
  std::string pageFolder_;
  TMainState state_;
};

struct RouteCase {
  const char* label;
  const char* document;
  const char* served;  // relative to the program folder
};

TEST_F(Dispatcher, DocumentTableRoutesBySubstringInOrder) {
  const RouteCase cases[] = {
      {"base URL", "/velmarind/", "page/index_127.0.0.1.html"},
      {"unknown document", "/favicon.ico", "page/index_127.0.0.1.html"},
      {"index", "/velmarind/index.html", "page/index_127.0.0.1.html"},
      {"any folder prefix", "/x/index.html", "page/index_127.0.0.1.html"},
      {"index row before listing row", "/script.html/index.html", "page/index_127.0.0.1.html"},
      {"listing", "/velmarind/script.html", "page/script_127.0.0.1.html"},
      {"text", "/velmarind/text.html", "page/text_127.0.0.1.html"},
      {"blank", "/velmarind/blank.html", "page/blank_127.0.0.1.html"},
      {"style sheet", "/velmarind/vcom.css", "page/vcom.css"},
      {"script", "/velmarind/vcom.js", "page/vcom.js"},
      {"keys are case-sensitive", "/velmarind/TEXT.HTML", "page/index_127.0.0.1.html"},
      {"login without a password", "/velmarind/login.html", "page/index_127.0.0.1.html"},
  };
  for (const RouteCase& c : cases) {
    const TServed served = Get(c.document, "tt=130405090730123");
    if (std::string(c.served).find("vcom.") != std::string::npos) {
      EXPECT_EQ(served.path, folder_.Path() + c.served) << c.label;
    } else {
      ExpectPage(served, folder_.Path() + c.served);
    }
    EXPECT_EQ(served.contentType, "text/html") << c.label;
    EXPECT_FALSE(served.bytes.empty()) << c.label;
  }
  EXPECT_EQ(Get("/velmarind/vcom.js").bytes, "function exf() {}\n");
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
  const std::string share = folder_.MakeSubfolder("share");
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
  for (const char* document : {"/velmarind/", "/velmarind/index.html", "/velmarind/vcom.css",
                               "/velmarind/download.html", "/velmarind/LOGIN.HTML"}) {
    const TServed served = Get(document, "pw=616263&file=2f");
    ExpectPage(served, Page("login"));
    EXPECT_EQ(served.bytes, LoginBytes(served, false)) << document;
  }
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
      IdHTTPServer1CommandGet(state_, TRecordingServer::Instance(), nullptr, request, response);
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
