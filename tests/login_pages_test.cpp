#include <gtest/gtest.h>

#include <regex>

#include "support/expected_pages.h"
#include "support/page_lines.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {
namespace {

using vmtest::ExpectedLoginDonePage;
using vmtest::ExpectedLoginForm;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::SplitCrLf;
using vmtest::TTempFolder;

// The stamp of a line such as `... value="<15 digits>">`, checked to lie between two clock reads.
std::string StampIn(const std::string& line, const std::regex& pattern, const std::string& before,
                    const std::string& after) {
  std::smatch m;
  if (!std::regex_search(line, m, pattern)) return "";
  const std::string stamp = m[1];
  EXPECT_TRUE(vmtest::IsStamp(stamp)) << stamp;
  EXPECT_LE(before, stamp);
  EXPECT_LE(stamp, after);
  return stamp;
}

struct LoginFormCase {
  const char* label;
  const char* variant;
  bool wrongPasswordLine;
  int waitSeconds = 0;  // the throttle's wait ahead, told in a line of its own
};

TEST(LoginPage, FormIsByteExactForEachVariant) {
  const LoginFormCase cases[] = {
      {"plain form", "", false},
      {"wrong password", "r", true},
      {"other text is the plain form", "R", false},
      {"wrong password, the next check waiting", "r", true, 8},
  };
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "login_127.0.0.1.html";
  const std::regex ttPattern(R"~(name="tt" value="(\d+)")~");
  for (const LoginFormCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string before = RequestStamp();
    MakeLoginPage(TStateSnapshot{}, "pw=41", page, c.variant, c.waitSeconds);
    const std::string after = RequestStamp();
    const std::string bytes = ReadFileBytes(page);
    const std::vector<std::string> lines = SplitCrLf(bytes);
    const size_t added = (c.wrongPasswordLine ? 1 : 0) + (c.waitSeconds ? 1 : 0);
    ASSERT_EQ(lines.size(), 35 + added);
    const std::string stamp = StampIn(lines[14 + added], ttPattern, before, after);
    EXPECT_EQ(bytes, JoinCrLf(ExpectedLoginForm(c.wrongPasswordLine, stamp, c.waitSeconds)));
  }
}

// The page sent the browser on to the base URL's LAN address, where a browser that had logged in
// through 127.0.0.1 was another client and met the login form again.
TEST(LoginDonePage, RedirectsRelativelyAndShowsTheBaseUrl) {
  TTempFolder folder;
  const std::string page = folder.MakeSubfolder("page") + "index_127.0.0.1.html";
  TStateSnapshot state;
  state.Settings.BaseURL = "http://192.168.0.12:8080/velmarind/";
  const std::string before = RequestStamp();
  MakeLoginDonePage(state, "", page);
  const std::string after = RequestStamp();
  const std::string bytes = ReadFileBytes(page);
  const std::vector<std::string> lines = SplitCrLf(bytes);
  ASSERT_EQ(lines.size(), 12u);
  const std::string stamp = StampIn(lines[3], std::regex(R"~(tt=(\d+)")~"), before, after);
  EXPECT_EQ(bytes, JoinCrLf(ExpectedLoginDonePage("http://192.168.0.12:8080/velmarind/", stamp)));
}

struct PasswordCase {
  const char* label;
  std::string stored;  // Shift_JIS
  std::string sent;    // as sent, not yet percent-decoded
  bool matches;
};

TEST(PasswordMatches, ComparesTheDecodedPwOrTheBrowserFormOrTheTypedField) {
  const PasswordCase cases[] = {
      {"lower-case hex", "abc", "pw=616263", true},
      {"upper-case hex as the browser sends it", "abc", "pw=616263&passwd=&tt=130405090730123",
       true},
      {"pw after other fields", "abc", "passwd=&pw=616263&tt=1", true},
      {"capitals of the letters", "abc", "pw=414243", false},
      {"wrong password", "abc", "pw=616264", false},
      {"prefix of the password", "abc", "pw=6162", false},
      {"empty pw", "abc", "pw=", false},
      {"percent-encoded hex digits", "abc", "pw=%36%31%36%32%36%33", true},
      // The form as it stands, sent without the page's script (or by Enter on an older page).
      {"typed field alone", "abc", "pw=&passwd=abc&tt=1", true},
      {"typed field without pw", "abc", "passwd=abc", true},
      {"typed field wrong", "abc", "pw=&passwd=abd", false},
      {"typed field, Shift_JIS percent-encoded", Sjis("ひみつ"), "pw=&passwd=%82%D0%82%DD%82%C2",
       true},
      {"typed field with form-encoded space and ampersand", "a b&c", "passwd=a+b%26c", true},
      {"typed field ignored when pw is given", "abc", "pw=616264&passwd=abc", false},
      {"empty stored, typed field given", "", "pw=&passwd=x", false},
      {"empty stored, absent pw", "", "tt=1", true},
      {"empty stored, some pw", "", "pw=61", false},
      // 日本 is 93fa 967b in Shift_JIS and U+65E5 U+672C to the browser.
      {"Japanese password, browser form", Sjis("日本"), "pw=65E5672C", true},
      {"Japanese password, browser form lower case", Sjis("日本"), "pw=65e5672c", true},
      {"Japanese password, its Shift_JIS bytes in hex", Sjis("日本"), "pw=93fa967b", true},
      {"Japanese password, wrong character", Sjis("日本"), "pw=65E5672D", false},
      {"half-width katakana mixed with ASCII", Sjis("aｱ1"), "pw=61FF7131", true},
      {"control character sent without a leading zero", "a\tb",
       "pw=619"
       "62",
       true},
      {"invalid Shift_JIS stored, empty pw", std::string("\x81", 1), "pw=", false},
      // Characters Shift_JIS cannot hold are stored as the window keeps them: their UTF-8 bytes.
      {"password kept as UTF-8, browser form", "pässwörd€", "pw=70E4737377F6726420AC", true},
      {"mixed pieces, Shift_JIS and UTF-8", Sjis("日本") + "/é", "pw=65E5672C2FE9", true},
      {"password kept as UTF-8, another character", "pässwörd€", "pw=70E4737377F6726420AD", false},
  };
  for (const PasswordCase& c : cases) {
    EXPECT_EQ(PasswordMatches(c.sent, c.stored), c.matches) << c.label;
  }
}

}  // namespace
}  // namespace vm
