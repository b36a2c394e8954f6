// The names uploads get: the browser's made safe, or stamped; each fits the file system.
#include "web/upload_names.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fs_names.h"

namespace vm {
namespace {

TEST(UploadNames, BrowserNamesAreMadeSafe) {
  struct Row {
    const char* label;
    std::string name;
    std::string safe;
  };
  const Row rows[] = {
      {"kept as it is", "写真 2024.JPG", "写真 2024.JPG"},
      {"only what follows the last slash", "a/b/c.txt", "c.txt"},
      {"no leading dot", "...bashrc", "bashrc"},
      {"dots alone leave nothing", "..", ""},
      {"control characters, C0, DEL and C1",
       "a\tb\x7F"
       "c\xC2\x85"
       "d",
       "a_b_c_d"},
      {"line separator and bidi controls", "a\u2028b\u202Ec\u2066d", "a_b_c_d"},
      {"bytes that are not UTF-8",
       "a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
  };
  for (const Row& row : rows) EXPECT_EQ(SafeUploadName(row.name), row.safe) << row.label;
}

TEST(UploadNames, NamersGiveFreeNamesThatFit) {
  const auto moment = std::chrono::system_clock::now();
  const TUploadNamer kept(true, "memo.txt", ".txt", moment);
  EXPECT_EQ(kept.NativeName(1), "memo.txt");
  EXPECT_EQ(kept.NativeName(2), WithCopyNumber("memo.txt", 2));
  EXPECT_EQ(kept.NativeName(2), "memo (2).txt");
  EXPECT_EQ(kept.MaxAttempts(), kMaxCopyNumber);

  // Cut on a character boundary, the extension and the number kept.
  std::string longName(90, 'y');
  for (int k = 0; k < 60; ++k) longName += "表";
  const TUploadNamer cut(true, longName + ".jpeg", ".jpeg", moment);
  for (const int attempt : {1, 12}) {
    const std::string name = cut.NativeName(attempt);
    const std::string end = (attempt == 1 ? "" : " (12)") + std::string(".jpeg");
    EXPECT_LE(name.size(), kMaxNameBytes);
    EXPECT_EQ(name.substr(name.size() - end.size()), end);
    EXPECT_EQ(ToValidUtf8(name), name);
  }

  const TUploadNamer stamped(false, "movie.MP4", ".mp4", moment);
  const std::string first = stamped.NativeName(1);
  ASSERT_EQ(first.size(), kUploadPrefix.size() + 15 + 4);
  EXPECT_EQ(first.substr(0, kUploadPrefix.size()), kUploadPrefix);
  EXPECT_EQ(first.substr(first.size() - 4), ".mp4");
  EXPECT_NE(stamped.NativeName(2), first);
  // Names kept but nothing left of it: stamped.
  EXPECT_EQ(TUploadNamer(true, "..", "", moment).NativeName(1).substr(0, kUploadPrefix.size()),
            kUploadPrefix);
}

}  // namespace
}  // namespace vm
