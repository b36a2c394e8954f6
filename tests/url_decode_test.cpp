#include "http/url_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"

namespace vm {
namespace {

TEST(URLDecode, EscapesAndPlainBytes) {
  struct Row {
    const char* label;
    std::string text;
    std::string decoded;
  };
  const std::vector<Row> rows = {
      {"empty", "", ""},
      {"plain", "abc", "abc"},
      {"plus is copied", "a+b", "a+b"},
      {"space", "a%20b", "a b"},
      {"upper and lower hex", "%4a%4A", "JJ"},
      {"high byte", "%82%a0", "\x82\xa0"},
      {"percent at the end is dropped", "ab%", "ab"},
      {"one final digit", "ab%4", "ab\x04"},
      {"zero appends nothing", "a%00b", "ab"},
      {"invalid hex consumes two", "a%zzb", "ab"},
      {"half-invalid pair consumes two", "a%4zb", "ab"},
      {"escaped percent", "%2541", "%41"},
  };
  for (const Row& row : rows) EXPECT_EQ(URLDecode(row.text), row.decoded) << row.label;
}

TEST(DecodeParams, KeepsEmptyPiecesAndOrder) {
  struct Row {
    const char* label;
    std::string text;
    std::vector<std::string> params;
  };
  const std::vector<Row> rows = {
      {"empty text", "", {}},
      {"two params", "tt=1&pw=41", {"tt=1", "pw=41"}},
      {"empty pieces", "a=1&&b=2&", {"a=1", "", "b=2", ""}},
      {"lone ampersand", "&", {"", ""}},
      {"plus becomes space, escaped plus stays", "q=a+b%2Bc", {"q=a b+c"}},
      {"no equals", "flag&x=%41", {"flag", "x=A"}},
      {"duplicates kept", "a=1&a=1", {"a=1", "a=1"}},
      {"escaped ampersand is not a cut", "a=%26&b", {"a=&", "b"}},
  };
  for (const Row& row : rows) EXPECT_EQ(DecodeParams(row.text), row.params) << row.label;
}

TEST(SplitTarget, SplitsDirectoryFileAndParams) {
  struct Row {
    const char* label;
    std::string target;
    std::string directory, fileName, params, host;
  };
  const std::vector<Row> rows = {
      {"file in root", "/index.html", "/", "index.html", "", ""},
      {"folder only", "/velmarind/", "/velmarind/", "", "", ""},
      {"nested", "/a/b/c.txt", "/a/b/", "c.txt", "", ""},
      {"no slash", "name", "", "name", "", ""},
      {"equals ends the name", "/x.cgi=1%41", "/", "x.cgi", "=1%41", ""},
      {"slash after equals stays in params", "/d/f=a/b", "/d/", "f", "=a/b", ""},
      {"hash cut from params", "/f=1#top", "/", "f", "=1", ""},
      {"hash stays in name without equals", "/f#top", "/", "f#top", "", ""},
      {"backslash becomes slash", "\\a\\b.txt", "/a/", "b.txt", "", ""},
      // 0x95 0x5C is one Shift_JIS character whose second byte looks like a backslash.
      {"double-byte 0x5C kept", "/\x95\x5C/x", "/\x95\x5C/", "x", "", ""},
      {"absolute form", "http://user:pw@host.example:8080/a/b.html#frag", "/a/", "b.html", "", "host.example"},
      {"absolute without path", "http://host", "/", "", "", "host"},
      {"absolute with params", "http://h/p/q=1#x", "/p/", "q", "=1", "h"},
  };
  for (const Row& row : rows) {
    const TTargetParts parts = SplitTarget(row.target);
    EXPECT_EQ(parts.Directory, row.directory) << row.label;
    EXPECT_EQ(parts.FileName, row.fileName) << row.label;
    EXPECT_EQ(parts.Params, row.params) << row.label;
    EXPECT_EQ(parts.Host, row.host) << row.label;
  }
}

TEST(DocumentFromTarget, DecodesPathButNotParams) {
  std::string host = "stale";
  EXPECT_EQ(DocumentFromTarget("/page/index.html", &host), "/page/index.html");
  EXPECT_EQ(host, "");
  EXPECT_EQ(DocumentFromTarget("/a%20b/c+d.txt", nullptr), "/a b/c+d.txt");
  EXPECT_EQ(DocumentFromTarget("/x.cgi=1%41", nullptr), "/x.cgi=1%41");
  EXPECT_EQ(DocumentFromTarget("*", &host), "*");
  EXPECT_EQ(DocumentFromTarget("http://h:81/v/%41.html", &host), "/v/A.html");
  EXPECT_EQ(host, "h");
}

TEST(BasicAuthorization, DecodesUserAndPassword) {
  struct Row {
    const char* label;
    std::string value;
    std::string user, password;
  };
  const std::vector<Row> rows = {
      {"user and password", "Basic dXNlcjpwYXNz", "user", "pass"},
      {"scheme ignoring case", "bASIC dXNlcjpwYXNz", "user", "pass"},
      {"colon in password", "Basic YTpiOmM=", "a", "b:c"},
      {"no colon", "Basic YWJj", "abc", ""},
      {"one padding", "Basic YWI=", "ab", ""},
      {"two paddings", "Basic YQ==", "a", ""},
      {"empty credentials", "Basic", "", ""},
  };
  for (const Row& row : rows) {
    std::string user = "x", password = "y";
    ParseBasicAuthorization(row.value, user, password);
    EXPECT_EQ(user, row.user) << row.label;
    EXPECT_EQ(password, row.password) << row.label;
  }
}

TEST(BasicAuthorization, RejectsOtherSchemesAndUnevenData) {
  std::string user, password;
  try {
    ParseBasicAuthorization("Digest abc", user, password);
    FAIL() << "Digest accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Unsupported authorization scheme.");
  }
  try {
    ParseBasicAuthorization("Basic abcde", user, password);
    FAIL() << "five characters accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Uneven size in DecodeToStream.");
  }
}

TEST(Cookies, SplitAtSemicolons) {
  struct Row {
    const char* label;
    std::string value;
    std::vector<std::string> cookies;
  };
  const std::vector<Row> rows = {
      {"two", "a=1; b=2", {"a=1", "b=2"}},
      {"trailing semicolon", "a=1;", {"a=1"}},
      {"empty piece kept", "a=1;;b", {"a=1", "", "b"}},
      {"single", "sid=xyz", {"sid=xyz"}},
      {"empty", "", {}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> cookies;
    ParseCookieValue(row.value, cookies);
    EXPECT_EQ(cookies, row.cookies) << row.label;
  }
}

}  // namespace
}  // namespace vm
