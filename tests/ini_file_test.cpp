#include "state/ini_file.h"

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "support/page_lines.h"

namespace {

using vm::TIniFile;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

TEST(IniFile, ReadsValuesAsTheProfileFunctionsDo) {
  TTempFolder temp;
  const std::string path = temp.Path() + "velmarind.ini";
  WriteFileBytes(path,
                 "; a comment\r\n"
                 "TOP=outside\r\n"
                 "[Other]\r\n"
                 "HTTP_PORT=1\r\n"
                 "  [ common ]  \r\n"
                 "http_port = 8080 \r\n"
                 "Quoted=\"  spaced  \"\r\n"
                 "Single='x'\r\n"
                 "Unpaired=\"x\r\n"
                 "Empty=\r\n"
                 "NoEquals\r\n"
                 "A=1=2\r\n"
                 "HTTP_PORT=9999\r\n"
                 "[COMMON]\r\n"
                 "Later=ignored: only the first section counts\n"
                 "[Lf]\n"
                 "Key=lf only\n"
                 "Tail=no final line end");
  TIniFile ini(path);
  struct Row {
    const char* label;
    const char* section;
    const char* key;
    const char* expected;
  } rows[] = {
      {"names ignore case and blanks", "COMMON", "HTTP_PORT", "8080"},
      {"first of two equal keys", "common", "Http_Port", "8080"},
      {"other section keeps its own", "OTHER", "HTTP_PORT", "1"},
      {"enclosing quotes removed, inner blanks kept", "COMMON", "Quoted", "  spaced  "},
      {"single quotes too", "COMMON", "Single", "x"},
      {"unpaired quote stays", "COMMON", "Unpaired", "\"x"},
      {"empty value is not the default", "COMMON", "Empty", ""},
      {"line without = is no key", "COMMON", "NoEquals", "dflt"},
      {"value runs to the line end", "COMMON", "A", "1=2"},
      {"key before any section is in none", "COMMON", "TOP", "dflt"},
      {"repeated section is not read", "COMMON", "Later", "dflt"},
      {"LF line ends", "Lf", "Key", "lf only"},
      {"last line without line end", "Lf", "Tail", "no final line end"},
      {"missing section", "NONE", "Key", "dflt"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ini.ReadString(row.section, row.key, "dflt"), row.expected) << row.label;
  }
}

TEST(IniFile, MissingFileReadsAsDefaults) {
  TTempFolder temp;
  TIniFile ini(temp.Path() + "absent.ini");
  EXPECT_EQ(ini.ReadString("COMMON", "HTTP_PORT", "80"), "80");
  EXPECT_EQ(ini.ReadInteger("COMMON", "HTTP_PORT", 80), 80);
}

TEST(IniFile, ReadIntegerFallsBackOnNonNumbers) {
  TTempFolder temp;
  const std::string path = temp.Path() + "a.ini";
  WriteFileBytes(path, "[S]\r\nA= 42 \r\nB=abc\r\nC=-7\r\nD=4x\r\nE=\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("S", "A", 5), 42);
  EXPECT_EQ(ini.ReadInteger("S", "B", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "C", 5), -7);
  EXPECT_EQ(ini.ReadInteger("S", "D", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "E", 5), 5);
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
  TTempFolder temp;
  const std::string path = temp.Path() + "velmarind.ini";
  WriteFileBytes(path, JoinCrLf({"; settings", "[COMMON]", "HTTP_PORT=80", "AUTO_RUN=0", "",
                                 "[Other]", "X=1"}));
  TIniFile ini(path);
  ini.WriteString("common", "http_port", "8080");
  ini.WriteInteger("COMMON", "PASS_FLG", 1);
  ini.WriteString("Other", "Y", "2");
  ini.WriteString("New", "Z", "3");
  EXPECT_EQ(ReadFileBytes(path), JoinCrLf({"; settings", "[COMMON]", "HTTP_PORT=8080",
                                           "AUTO_RUN=0", "PASS_FLG=1", "", "[Other]", "X=1", "Y=2",
                                           "[New]", "Z=3"}));
  EXPECT_EQ(ini.ReadInteger("COMMON", "HTTP_PORT", 80), 8080);
  // No temporary file is left beside it.
  EXPECT_EQ(temp.List(), std::vector<std::string>{"velmarind.ini"});
}

TEST(IniFile, WriteCreatesAMissingFile) {
  TTempFolder temp;
  const std::string path = temp.Path() + "velmarind.ini";
  TIniFile ini(path);
  ini.WriteString("COMMON", "PASSWORD", "");
  EXPECT_EQ(ReadFileBytes(path), JoinCrLf({"[COMMON]", "PASSWORD="}));
  EXPECT_EQ(ini.ReadString("COMMON", "PASSWORD", "dflt"), "");
}

TEST(IniFile, WriteIntoMissingFolderThrows) {
  TTempFolder temp;
  TIniFile ini(temp.Path() + "no-such-folder/velmarind.ini");
  EXPECT_THROW(ini.WriteString("COMMON", "HTTP_PORT", "80"), vm::EFCreateError);
}

}  // namespace
