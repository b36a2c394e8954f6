// The file-system name boundary, on real files in a temporary folder.
#include "platform/fs_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "support/page_lines.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

// UTF-8 names and their Shift_JIS forms used below.
const std::string kHyoUtf8 = "\xe8\xa1\xa8";       // 表
const std::string kHyoSjis = "\x95\x5c";           // 表, trail byte "\"
const std::string kEAcute = "\xc3\xa9";            // é; the same bytes read as CP932 are ﾃｩ
const std::string kTeSmallE = "\xef\xbe\x83\xef\xbd\xa9";  // ﾃｩ in UTF-8
const std::string kEmoji = "\xf0\x9f\x98\x80";     // 😀
const std::string kWaveDash = "\xe3\x80\x9c";      // 〜 U+301C, CP932 maps it one way only
const std::string kLatin1 = "Vid\xe9os";           // an old Latin-1 name, not UTF-8

// The test's temporary folder, where files and folders are made by relative path.
class TempFolder : public vmtest::TTempFolder {
 public:
  void Make(const std::string& relative, bool folder = false) const {
    if (folder) {
      MakeSubfolder(relative);
    } else {
      vmtest::WriteFileBytes(Path() + relative, "x");
    }
  }
};

TEST(FsNames, NativeToSystemPerComponent) {
  struct Row {
    const char* label;
    std::string native;
    std::string system;
  };
  const std::vector<Row> rows = {
      {"ascii path unchanged", "/srv/a b/c.txt", "/srv/a b/c.txt"},
      {"kanji converted", "/srv/" + kHyoUtf8 + ".txt", "/srv/" + kHyoSjis + ".txt"},
      {"half-width katakana", "\xef\xbd\xb1", "\xb1"},
      {"full-width tilde has a two-way form", "\xef\xbd\x9e", "\x81\x60"},
      {"accented name kept native", "/srv/Vid" + kEAcute + "os/x", "/srv/Vid" + kEAcute + "os/x"},
      {"emoji kept native", kEmoji + ".txt", kEmoji + ".txt"},
      {"one-way wave dash kept native", kWaveDash, kWaveDash},
      {"yen sign kept native, not turned into a backslash", "\xc2\xa5", "\xc2\xa5"},
      {"invalid UTF-8 kept", kLatin1, kLatin1},
      {"each component on its own", kHyoUtf8 + "/" + kEmoji + "/" + kHyoUtf8,
       kHyoSjis + "/" + kEmoji + "/" + kHyoSjis},
      {"slashes kept", "//a//b/", "//a//b/"},
      {"empty", "", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(NativeToSystem(row.native), row.system) << row.label;
    EXPECT_EQ(DisplayUtf8ToSystem(row.native), row.system) << row.label;
  }
}

TEST(FsNames, StrictConversions) {
  EXPECT_EQ(Utf8ToShiftJis(kHyoUtf8), kHyoSjis);
  EXPECT_EQ(Utf8ToShiftJis(""), "");
  EXPECT_FALSE(Utf8ToShiftJis(kEAcute));
  EXPECT_FALSE(Utf8ToShiftJis(kWaveDash));
  EXPECT_FALSE(Utf8ToShiftJis(kLatin1));
  EXPECT_FALSE(Utf8ToShiftJis("\xe8\xa1"));  // cut-off sequence
  EXPECT_EQ(ShiftJisToUtf8Strict(kHyoSjis), kHyoUtf8);
  EXPECT_EQ(ShiftJisToUtf8Strict(kEAcute), kTeSmallE);
  EXPECT_FALSE(ShiftJisToUtf8Strict("a\x80"));
  EXPECT_FALSE(ShiftJisToUtf8Strict("a\x81"));  // lead byte at the end
}

TEST(FsNames, SlashIsNeverATrailByte) {
  // Splitting system paths at "/" relies on this: no lead byte pairs with 0x2F.
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    if (!IsSjisLeadByte(static_cast<unsigned char>(lead))) continue;
    const std::string pair = {static_cast<char>(lead), '/'};
    EXPECT_FALSE(ShiftJisToUtf8Strict(pair)) << "lead " << lead;
  }
}

TEST(FsNames, RealNamesRoundTripThroughSystemText) {
  TempFolder temp;
  temp.Make("Vid" + kEAcute + "os", true);
  temp.Make("Vid" + kEAcute + "os/note.txt");
  temp.Make(kHyoUtf8, true);
  temp.Make(kHyoUtf8 + "/" + kHyoUtf8 + ".txt");
  temp.Make(kEmoji + ".txt");
  temp.Make(kWaveDash + ".txt");
  temp.Make("\xef\xbd\xb1.txt");  // ｱ.txt
  temp.Make(kLatin1 + ".txt");
  temp.Make("back\\slash.txt");

  // Every name as a listing would read it: to system text and back, and it still opens.
  std::vector<std::string> natives;
  for (const std::string& name : temp.List()) {
    natives.push_back(temp.Path() + name);
    if (fs::is_directory(natives.back())) {
      for (const std::string& inner : temp.List(name)) {
        natives.push_back(temp.Path() + name + "/" + inner);
      }
    }
  }
  ASSERT_EQ(natives.size(), 9u);
  for (const std::string& native : natives) {
    const std::string system = NativeToSystem(native);
    EXPECT_EQ(SystemToNative(system), native) << HexEncode(native);
    EXPECT_TRUE(std::ifstream(SystemToNative(system)).good() || fs::is_directory(native))
        << HexEncode(native);
    const std::string display = SystemToDisplayUtf8(system);
    if (native.find(kLatin1) == std::string::npos) {
      EXPECT_EQ(display, native) << HexEncode(native);
    } else {
      EXPECT_EQ(display, temp.Path() + "Vid\xef\xbf\xbdos.txt");  // shown with U+FFFD
    }
  }

  // The kanji's backslash trail byte is not a separator: 表/表.txt is two components.
  EXPECT_EQ(NativeToSystem(temp.Path() + kHyoUtf8 + "/" + kHyoUtf8 + ".txt"),
            temp.Path() + kHyoSjis + "/" + kHyoSjis + ".txt");
}

TEST(FsNames, AmbiguousBytesResolvedByWhatExists) {
  // "C3 A9" is é kept native, or ﾃｩ in CP932. The disk decides; else the CP932 reading.
  struct Row {
    const char* label;
    bool makeEAcute;
    bool makeTeSmallE;
    std::string native;   // SystemToNative
    std::string display;  // SystemToDisplayUtf8
  };
  const std::vector<Row> rows = {
      {"only e-acute exists", true, false, kEAcute, kEAcute},
      {"only half-width katakana exists", false, true, kTeSmallE, kTeSmallE},
      {"both exist: CP932 reading", true, true, kTeSmallE, kTeSmallE},
      {"neither exists: CP932 for disk, likely native for display", false, false, kTeSmallE,
       kEAcute},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    if (row.makeEAcute) temp.Make(kEAcute, true);
    if (row.makeTeSmallE) temp.Make(kTeSmallE, true);
    const std::string system = temp.Path() + kEAcute + "/file.txt";
    EXPECT_EQ(SystemToNative(system), temp.Path() + row.native + "/file.txt") << row.label;
    EXPECT_EQ(SystemToDisplayUtf8(system), temp.Path() + row.display + "/file.txt")
        << row.label;
  }
}

TEST(FsNames, NewNamesAreCreatedInUtf8) {
  // A name typed into a page arrives as Shift_JIS; the file it makes must carry a UTF-8 name.
  TempFolder temp;
  const std::string native = SystemToNative(temp.Path() + kHyoSjis + ".txt");
  EXPECT_EQ(native, temp.Path() + kHyoUtf8 + ".txt");
  std::ofstream(native) << "x";
  EXPECT_EQ(temp.List(), std::vector<std::string>{kHyoUtf8 + ".txt"});
}

TEST(FsNames, DisplayOfTextsNotOnDisk) {
  // A component with one character CP932 lacks stays native as a whole, and shows as such.
  EXPECT_EQ(SystemToDisplayUtf8(NativeToSystem(kHyoUtf8 + ";" + kEmoji)), kHyoUtf8 + ";" + kEmoji);
  EXPECT_EQ(SystemToDisplayUtf8(kHyoSjis + "/" + kEmoji), kHyoUtf8 + "/" + kEmoji);
  EXPECT_EQ(SystemToDisplayUtf8("Vid" + kEAcute + "os"), "Vid" + kEAcute + "os");
  EXPECT_EQ(SystemToDisplayUtf8("\xb1"), "\xef\xbd\xb1");
  EXPECT_EQ(SystemToDisplayUtf8(kWaveDash), kWaveDash);
  EXPECT_EQ(SystemToDisplayUtf8("a\x80z"), "a\xef\xbf\xbdz");  // neither CP932 nor UTF-8
}

TEST(FsNames, ToValidUtf8ReplacesEachBadByte) {
  struct Row {
    const char* label;
    std::string bytes;
    std::string shown;
  };
  const std::string kFffd = "\xef\xbf\xbd";
  const std::vector<Row> rows = {
      {"valid text kept", "a" + kHyoUtf8 + kEmoji, "a" + kHyoUtf8 + kEmoji},
      {"Latin-1 byte", kLatin1, "Vid" + kFffd + "os"},
      {"cut-off sequence at the end", "a\xe8\xa1", "a" + kFffd + kFffd},
      {"overlong slash", "\xc0\xaf", kFffd + kFffd},
      {"surrogate", "\xed\xa0\x80", kFffd + kFffd + kFffd},
      {"past U+10FFFF", "\xf4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"stray continuation byte before a valid one", "\x80" + kHyoUtf8, kFffd + kHyoUtf8},
  };
  for (const Row& row : rows) EXPECT_EQ(ToValidUtf8(row.bytes), row.shown) << row.label;
}

}  // namespace
}  // namespace vm
