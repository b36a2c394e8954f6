#include "http/mime_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"
#include "support/page_lines.h"

namespace vm {
namespace {

TEST(MimeTable, BuiltInListLoadsFirstOfEachExtension) {
  ASSERT_EQ(BuiltInMimeLines().size(), 136u);
  EXPECT_EQ(BuiltInMimeLines().front(), ".aiff=audio/x-aiff");
  EXPECT_EQ(BuiltInMimeLines().back(), ".sgml=text/sgml");
  const TIdMimeTable table("");
  EXPECT_EQ(table.Count(), 134);  // the second ".xbm" and ".xml" lines are skipped
  EXPECT_EQ(table.GetFileMIMEType("a.xbm"), "image/xbm");
  EXPECT_EQ(table.GetFileMIMEType("a.xml"), "text/xml");
}

TEST(MimeTable, LooksUpByLastExtensionIgnoringCase) {
  struct Row {
    const char* label;
    std::string fileName;
    std::string type;
  };
  const std::vector<Row> rows = {
      {"upper case name", "INDEX.HTM", "text/html"},
      {"no dot", "README", "application/octet-stream"},
      {"last extension only", "archive.tar.gz", "application/x-gzip"},
      {"dot in folder only", "/srv/v1.2/readme", "application/octet-stream"},
      {"drive-like prefix", "c:file.txt", "text/plain"},
      {"path with folders", "/home/u/photo.JPG", "image/jpeg"},
      {"trailing dot", "name.", "application/octet-stream"},
      {"types are stored lower-cased", "x.mjf", "audio/x-vnd.audioexplosion.mjuicemediafile"},
      {"no built-in js", "vcom.js", "application/octet-stream"},
  };
  const TIdMimeTable table("");
  for (const Row& row : rows) EXPECT_EQ(table.GetFileMIMEType(row.fileName), row.type) << row.label;
}

TEST(MimeTable, SystemRegistrationsReplaceInPlaceOrAppend) {
  const vmtest::TTempFolder folder;
  const std::string path = folder.Path() + "mime.types";
  vmtest::WriteFileBytes(path,
                         "# comment line\n"
                         "\n"
                         "text/javascript\t\tjs mjs\n"
                         "application/gzip gz  # trailing comment\n"
                         "image/x-xbitmap XBM\n"
                         "type/without-extensions\n");
  const TIdMimeTable table(path);

  EXPECT_EQ(table.GetFileMIMEType("vcom.js"), "text/javascript");
  EXPECT_EQ(table.GetFileMIMEType("m.mjs"), "text/javascript");
  EXPECT_EQ(table.GetFileMIMEType("a.tar.gz"), "application/gzip");
  // The registration replaced the first ".xbm" line, which still wins over the second.
  EXPECT_EQ(table.GetFileMIMEType("a.xbm"), "image/x-xbitmap");
  EXPECT_EQ(table.Count(), 136);
}

TEST(MimeTable, MissingRegistrationFileMeansBuiltInsOnly) {
  const TIdMimeTable table("/nonexistent/velmarind/mime.types");
  EXPECT_EQ(table.Count(), 134);
}

TEST(MimeTable, AddMimeTypeChecksItsInput) {
  TIdMimeTable table("");
  const auto messageOf = [&](const std::string& ext, const std::string& type) -> std::string {
    try {
      table.AddMimeType(ext, type);
    } catch (const Exception& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(messageOf("", "a/b"), "Extension is empty");
  EXPECT_EQ(messageOf("abc", ""), "Mimetype is empty");
  EXPECT_EQ(messageOf("HTM", "x/y"), "Extension already exits");
  EXPECT_EQ(messageOf("Velm", "Application/X-Velm"), "");
  EXPECT_EQ(table.GetFileMIMEType("file.velm"), "application/x-velm");
}

TEST(MimeTable, LoadFromStringsSkipsEmptyAndRepeatedExtensions) {
  TIdMimeTable table("");
  table.LoadFromStrings({".A=x/first", ".a=x/second", "=x/none", "b=x/no-dot", ".c=", "junk"});
  EXPECT_EQ(table.Count(), 2);
  EXPECT_EQ(table.GetFileMIMEType("f.a"), "x/first");
  EXPECT_EQ(table.GetFileMIMEType("f.b"), "x/no-dot");
}

TEST(MimeTable, EmptiedTableAnswersFromAFreshBuild) {
  TIdMimeTable table("");
  table.LoadFromStrings({});
  EXPECT_EQ(table.GetFileMIMEType("page.html"), "text/html");
  EXPECT_EQ(table.Count(), 0);
}

}  // namespace
}  // namespace vm
