#include "state/config_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/exception.h"
#include "platform/system_info.h"
#include "state/ini_file.h"
#include "support/program_folder.h"

namespace {

using vmtest::FileExists;
using vmtest::PermissionsOf;
using vmtest::ReadFileBytes;
using vmtest::TScopedEnv;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

// A program folder and a state bound to it.
struct Fixture : vmtest::TProgramFolder {
  vm::TMainState state;

  Fixture() {
    state.SetProgramFolder(Path());
    state.SetLocalAddress("192.168.0.12");
  }
  void Dirlst(const std::string& text) { Write("dirlst.ini", text); }
};

TEST(ConfigStore, MissingFilesGiveTheDefaults) {
  Fixture f;
  ASSERT_TRUE(vm::LoadSettings(f.state));
  vm::TSettings s = f.state.Settings();
  EXPECT_EQ(s.Port, 80);
  EXPECT_EQ(s.AutoRun, 0);
  EXPECT_FALSE(s.PassFlag);
  EXPECT_EQ(s.Password, "");
  EXPECT_EQ(s.BaseURL, "http://192.168.0.12/velmarind/");
  EXPECT_TRUE(f.state.SharedFolders()->empty());
  EXPECT_FALSE(FileExists(f.AutostartFile()));
}

TEST(ConfigStore, SettingsFileValues) {
  struct Row {
    const char* label;
    const char* ini;
    int port;
    bool passFlag;
    const char* password;
    const char* baseUrl;
  } rows[] = {
      {"port 8080", "[COMMON]\r\nHTTP_PORT=8080\r\n", 8080, false, "",
       "http://192.168.0.12:8080/velmarind/"},
      {"port 80 has no port in the URL", "[COMMON]\r\nHTTP_PORT=80\r\n", 80, false, "",
       "http://192.168.0.12/velmarind/"},
      {"port abc counts as 80", "[COMMON]\r\nHTTP_PORT=abc\r\n", 80, false, "",
       "http://192.168.0.12/velmarind/"},
      {"names ignore case", "[common]\r\nhttp_port=8081\r\npass_flg=1\r\n", 8081, true, "",
       "http://192.168.0.12:8081/velmarind/"},
      {"PASS_FLG=2 stays off", "[COMMON]\r\nPASS_FLG=2\r\n", 80, false, "",
       "http://192.168.0.12/velmarind/"},
      {"PASS_FLG=yes stays off", "[COMMON]\r\nPASS_FLG=yes\r\n", 80, false, "",
       "http://192.168.0.12/velmarind/"},
      {"hex password", "[COMMON]\r\nPASS_FLG=1\r\nPASSWORD=616263\r\n", 80, true, "abc",
       "http://192.168.0.12/velmarind/"},
      {"empty password", "[COMMON]\r\nPASS_FLG=1\r\nPASSWORD=\r\n", 80, true, "",
       "http://192.168.0.12/velmarind/"},
      {"wrong section is not read", "[OTHER]\r\nHTTP_PORT=8080\r\n", 80, false, "",
       "http://192.168.0.12/velmarind/"},
  };
  for (const Row& row : rows) {
    Fixture f;
    f.WriteSettings(row.ini);
    vm::LoadSettings(f.state);
    vm::TSettings s = f.state.Settings();
    EXPECT_EQ(s.Port, row.port) << row.label;
    EXPECT_EQ(s.PassFlag, row.passFlag) << row.label;
    EXPECT_EQ(s.Password, row.password) << row.label;
    EXPECT_EQ(s.BaseURL, row.baseUrl) << row.label;
  }
}

TEST(ConfigStore, StrToIntDefTakesOnlyWholeDecimalIntegers) {
  struct Row {
    const char* text;
    int expected;
  } rows[] = {
      {"0", 0},           {"8080", 8080},     {"+12", 12},         {"-12", -12},
      {"007", 7},         {"", -1},           {"-", -1},           {"+", -1},
      {"abc", -1},        {"12a", -1},        {" 12", -1},         {"12 ", -1},
      {"1.5", -1},        {"0x10", -1},       {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},       {"2147483648", -1},  {"99999999999999999999", -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vm::StrToIntDef(row.text, -1), row.expected) << "\"" << row.text << "\"";
  }
}

TEST(ConfigStore, SharedFolderFileLineEnds) {
  struct Row {
    const char* label;
    std::string bytes;
    std::vector<std::string> entries;
  } rows[] = {
      {"CR LF", "A;;/a/\r\nB;;/b/\r\n", {"A;;/a/", "B;;/b/"}},
      {"lone LF", "A;;/a/\nB;;/b/\n", {"A;;/a/", "B;;/b/"}},
      {"lone CR", "A;;/a/\rB;;/b/\r", {"A;;/a/", "B;;/b/"}},
      {"LF CR is two line ends", "A;;/a/\n\rB;;/b/", {"A;;/a/", "", "B;;/b/"}},
      {"no final line end", "A;;/a/\r\nB;;/b/", {"A;;/a/", "B;;/b/"}},
      {"empty line in the middle", "A;;/a/\r\n\r\nB;;/b/\r\n", {"A;;/a/", "", "B;;/b/"}},
      {"zero byte ends the text", std::string("A;;/a/\r\nB;;/b/\0C;;/c/\r\n", 23), {"A;;/a/", "B;;/b/"}},
      {"lines kept untrimmed", "  A;;/a/ \t\r\n", {"  A;;/a/ \t"}},
      {"empty file", "", {}},
  };
  for (const Row& row : rows) {
    TTempFolder temp;
    WriteFileBytes(temp.Path() + "dirlst.ini", row.bytes);
    EXPECT_EQ(vm::ReadSharedFolderFile(temp.Path() + "dirlst.ini"), row.entries) << row.label;
  }
  TTempFolder temp;
  EXPECT_TRUE(vm::ReadSharedFolderFile(temp.Path() + "dirlst.ini").empty()) << "missing file";
}

TEST(ConfigStore, SharedFolderFileIsWrittenWithCrLf) {
  TTempFolder temp;
  const std::string path = temp.Path() + "dirlst.ini";
  WriteFileBytes(path, "old;;/old/\n");
  vm::WriteSharedFolderFile(path, {"Photos;;/home/u/Photos/", "", "Music;;/m/"});
  EXPECT_EQ(ReadFileBytes(path), "Photos;;/home/u/Photos/\r\n\r\nMusic;;/m/\r\n");
  EXPECT_EQ(vm::ReadSharedFolderFile(path),
            (std::vector<std::string>{"Photos;;/home/u/Photos/", "", "Music;;/m/"}));
  vm::WriteSharedFolderFile(path, {});
  EXPECT_EQ(ReadFileBytes(path), "");
}

// A shared-folder path typed without its final "/" once produced file paths such as
// "/dataphoto.jpg"; loading now adds the "/" to field 1 and leaves the rest of the line alone.
TEST(ConfigStore, LoadSettingsGivesEverySharedFolderPathAFinalSlash) {
  Fixture f;
  f.WriteShares({"Photos;;/home/u/Photos/", "", "Data;;/srv/data", " Pad ;;/p \t",
                 "Extra;;/x;;more", "NoPath;;", "NameOnly"});
  vm::LoadSettings(f.state);
  EXPECT_EQ(*f.state.SharedFolders(),
            (std::vector<std::string>{"Photos;;/home/u/Photos/", "", "Data;;/srv/data/",
                                      " Pad ;;/p/ \t", "Extra;;/x/;;more", "NoPath;;",
                                      "NameOnly"}));
}

TEST(ConfigStore, LoadSettingsReplacesTheListEachTime) {
  Fixture f;
  f.Dirlst("Photos;;/p/\r\nMusic;;/m/\r\n");
  vm::LoadSettings(f.state);
  auto before = f.state.SharedFolders();
  f.Dirlst("Music;;/m/\r\n");
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=8080\r\n");
  vm::LoadSettings(f.state);
  // A reader holding the old list still sees it whole.
  EXPECT_EQ(*before, (std::vector<std::string>{"Photos;;/p/", "Music;;/m/"}));
  EXPECT_EQ(*f.state.SharedFolders(), std::vector<std::string>{"Music;;/m/"});
  EXPECT_EQ(f.state.Settings().BaseURL, "http://192.168.0.12:8080/velmarind/");
}

// Two copies of the program (a build and an installed one) each rewrote or removed the log-in
// entry at every start, so the user's choice flipped with whichever started last.
TEST(ConfigStore, AutostartFileFollowsOnlyAChangeOfAutoRunAndOnlyForThisProgram) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nAUTO_RUN=1\r\n");
  vm::LoadSettings(f.state);  // loading touches no entry
  EXPECT_EQ(f.state.Settings().AutoRun, 1);
  ASSERT_EQ(vm::AutostartFilePath(), f.AutostartFile());
  EXPECT_FALSE(FileExists(f.AutostartFile()));
  const std::string self = vm::ExecutablePath();
  vm::FollowAutoRun(0, 1, self);
  EXPECT_EQ(ReadFileBytes(f.AutostartFile()),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Velmarind\n"
            "Exec=" + self + " -j\n"
            "X-GNOME-Autostart-enabled=true\n");
  EXPECT_TRUE(vm::AutostartEntryStarts(self));
  // Another copy's entry stays when this one turns its own off; this one's goes, twice is quiet.
  vm::WriteAutostartEntry("/opt/other/velmarind");
  vm::FollowAutoRun(1, 0, self);
  EXPECT_TRUE(FileExists(f.AutostartFile()));
  vm::FollowAutoRun(1, 1, self);  // no change: not rewritten for this copy
  EXPECT_FALSE(vm::AutostartEntryStarts(self));
  vm::WriteAutostartEntry(self);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NO_THROW(vm::FollowAutoRun(1, 0, self));
    EXPECT_FALSE(FileExists(f.AutostartFile()));
  }
  // At start, an AUTO_RUN written by hand gets its entry when there is none, and only then.
  vm::EnsureAutostartEntry(0, self);
  EXPECT_FALSE(FileExists(f.AutostartFile()));
  vm::WriteAutostartEntry("/opt/other/velmarind");
  vm::EnsureAutostartEntry(1, self);
  EXPECT_FALSE(vm::AutostartEntryStarts(self));
  vm::DeleteAutostartEntry();
  vm::EnsureAutostartEntry(1, self);
  EXPECT_TRUE(vm::AutostartEntryStarts(self));
}

TEST(ConfigStore, AutostartExecQuotesPathsWithReservedCharacters) {
  Fixture f;
  vm::WriteAutostartEntry("/opt/my apps/50%/velmarind");
  std::string text = ReadFileBytes(f.AutostartFile());
  EXPECT_NE(text.find("\nExec=\"/opt/my apps/50%%/velmarind\" -j\n"), std::string::npos) << text;
  vm::WriteAutostartEntry("/opt/a\\b/velmarind");
  text = ReadFileBytes(f.AutostartFile());
  EXPECT_NE(text.find("\nExec=\"/opt/a\\\\\\\\b/velmarind\" -j\n"), std::string::npos) << text;
}

TEST(ConfigStore, AutostartFailureThrows) {
  Fixture f;
  // A file where the autostart folder should be makes it impossible to create.
  WriteFileBytes(f.ConfigHome() + "autostart", "not a folder");
  EXPECT_THROW(vm::FollowAutoRun(0, 1, "/opt/velmarind"), vm::EFCreateError);
  // Deleting an entry that cannot exist is quiet.
  EXPECT_NO_THROW(vm::FollowAutoRun(1, 0, "/opt/velmarind"));
}

TEST(ConfigStore, AutostartFolderDefaultsToHomeConfig) {
  TTempFolder temp;
  TScopedEnv configHome("XDG_CONFIG_HOME", "relative/ignored");
  const std::string homeFolder = temp.Path().substr(0, temp.Path().size() - 1);
  TScopedEnv home("HOME", homeFolder);
  EXPECT_EQ(vm::AutostartFilePath(), homeFolder + "/.config/autostart/velmarind.desktop");
}

}  // namespace

TEST(ConfigStore, ExtraHostsAndDotFilesSettings) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nHOSTS= nas.example , ,box.lan,\r\nPUBLISH_DOT_FILES=1\r\n");
  vm::LoadSettings(f.state);
  EXPECT_EQ(f.state.Settings().ExtraHosts, (std::vector<std::string>{"nas.example", "box.lan"}));
  EXPECT_TRUE(f.state.Settings().PublishDotFiles);
  EXPECT_TRUE(f.state.Settings().WebDav);
  f.WriteSettings("[COMMON]\r\nPUBLISH_DOT_FILES=yes\r\nWEBDAV=0\r\n");
  vm::LoadSettings(f.state);
  EXPECT_TRUE(f.state.Settings().ExtraHosts.empty());
  EXPECT_FALSE(f.state.Settings().PublishDotFiles);
  EXPECT_FALSE(f.state.Settings().WebDav);
}

TEST(ConfigStore, LanguageSetting) {
  const struct {
    const char* text;
    vm::TLanguageChoice language;
  } rows[] = {{"ja", vm::TLanguageChoice::Japanese},
              {" en ", vm::TLanguageChoice::English},
              {"auto", vm::TLanguageChoice::Auto},
              {"fr", vm::TLanguageChoice::Auto}};
  for (const auto& row : rows) {
    Fixture f;
    f.WriteSettings(std::string("[COMMON]\r\nLANGUAGE=") + row.text + "\r\n");
    vm::LoadSettings(f.state);
    EXPECT_EQ(f.state.Settings().Language, row.language) << row.text;
  }
}

TEST(ConfigStore, SignInSettings) {
  const struct {
    const char* ini;
    bool on;
    int seconds;
  } rows[] = {{"", true, 600}, {"QR_SIGNIN=0\r\nQR_SIGNIN_SECONDS=30\r\n", false, 30},
              {"QR_SIGNIN_SECONDS=3600\r\n", true, 600}};
  for (const auto& row : rows) {
    Fixture f;
    f.WriteSettings(std::string("[COMMON]\r\n") + row.ini);
    vm::LoadSettings(f.state);
    EXPECT_EQ(f.state.Settings().QrSignIn, row.on) << row.ini;
    EXPECT_EQ(f.state.Settings().SignInValidity.count(), row.seconds) << row.ini;
  }
}

// A client that logged in used to stay admitted through every password change.
TEST(ConfigStore, ChangingThePasswordSettingsEndsEveryAdmission) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nPASS_FLG=1\r\nPASSWORD=616263\r\n");
  vm::LoadSettings(f.state);
  f.state.Admit("127.0.0.2");
  vm::LoadSettings(f.state);  // nothing changed
  EXPECT_TRUE(f.state.IsAdmitted("127.0.0.2"));
  const std::string code = f.state.SignInTokens().Current()->Token;
  f.WriteSettings("[COMMON]\r\nPASS_FLG=1\r\nPASSWORD=616264\r\n");
  vm::LoadSettings(f.state);
  EXPECT_FALSE(f.state.IsAdmitted("127.0.0.2"));
  EXPECT_FALSE(f.state.SignInTokens().Redeem(code));  // shown under the old password
  f.state.Admit("127.0.0.2");
  f.WriteSettings("[COMMON]\r\nPASS_FLG=0\r\nPASSWORD=616264\r\n");
  vm::LoadSettings(f.state);
  EXPECT_FALSE(f.state.IsAdmitted("127.0.0.2"));
}

namespace {

vm::TStoredSettings EverySetting() {
  vm::TStoredSettings s;
  s.Port = 8081;
  s.AutoRun = 1;
  s.PassFlag = true;
  s.Password = "pass\x95\x5c";  // "pass" and a kanji whose second byte is "\\"
  s.ExtraHosts = {"nas.local", "box.lan"};
  s.PublishDotFiles = true;
  s.KeepUploadNames = true;
  s.SharedFolders = {"Photos;;/srv/photos/", "\x8e\xca\x90\x5e;;/srv/\x95\x5c/"};
  return s;
}

}  // namespace

TEST(StoredSettings, WhatIsWrittenReadsBackTheSame) {
  Fixture f;
  const vm::TStoredSettings written = EverySetting();
  vm::WriteStoredSettings(f.Path(), written);
  EXPECT_EQ(vm::ReadStoredSettings(f.Path()), written);
  EXPECT_EQ(ReadFileBytes(f.Path() + "velmarind.ini"),
            "[COMMON]\r\nHTTP_PORT=8081\r\nAUTO_RUN=1\r\nPASS_FLG=1\r\nPASSWORD=70617373955c\r\n"
            "HOSTS=nas.local,box.lan\r\nPUBLISH_DOT_FILES=1\r\nUPLOAD_KEEP_NAMES=1\r\n");
  // LoadSettings reads the same.
  vm::LoadSettings(f.state);
  EXPECT_EQ(f.state.Settings().Port, 8081);
  EXPECT_EQ(f.state.Settings().ExtraHosts, written.ExtraHosts);
  EXPECT_TRUE(f.state.Settings().KeepUploadNames);
  EXPECT_EQ(*f.state.SharedFolders(), written.SharedFolders);
}

TEST(StoredSettings, OnlyChangedKeysAreWritten) {
  struct Row {
    const char* label;
    std::string before;
    void (*edit)(vm::TStoredSettings&);
    std::string after;
  } rows[] = {
      // Lone LF line ends and a port that is no number: any rewrite would show.
      {"nothing changed", "[common]\nhttp_port=abc\nPASSWORD=\n", [](vm::TStoredSettings&) {},
       "[common]\nhttp_port=abc\nPASSWORD=\n"},
      {"port goes with the start flag", "[COMMON]\r\nHTTP_PORT=8080\r\n",
       [](vm::TStoredSettings& s) { s.Port = 8081; },
       "[COMMON]\r\nHTTP_PORT=8081\r\nAUTO_RUN=0\r\n"},
      {"start flag goes with the port", "", [](vm::TStoredSettings& s) { s.AutoRun = 1; },
       "[COMMON]\r\nHTTP_PORT=80\r\nAUTO_RUN=1\r\n"},
      {"password goes with its flag", "[COMMON]\r\nHTTP_PORT=8080\r\n",
       [](vm::TStoredSettings& s) { s.Password = "abc"; },
       "[COMMON]\r\nHTTP_PORT=8080\r\nPASS_FLG=0\r\nPASSWORD=616263\r\n"},
      {"hosts alone", "[COMMON]\r\nHOSTS=old\r\n",
       [](vm::TStoredSettings& s) {
         s.ExtraHosts = {"a.lan", "b.lan"};
       },
       "[COMMON]\r\nHOSTS=a.lan,b.lan\r\n"},
      {"dot files alone", "", [](vm::TStoredSettings& s) { s.PublishDotFiles = true; },
       "[COMMON]\r\nPUBLISH_DOT_FILES=1\r\n"},
      {"upload names alone", "", [](vm::TStoredSettings& s) { s.KeepUploadNames = true; },
       "[COMMON]\r\nUPLOAD_KEEP_NAMES=1\r\n"},
      // The file-manager door is open by default: only closing it writes a key.
      {"file-manager door closed alone", "", [](vm::TStoredSettings& s) { s.WebDav = false; },
       "[COMMON]\r\nWEBDAV=0\r\n"},
      {"language alone", "[COMMON]\r\nLANGUAGE=ja\r\n",
       [](vm::TStoredSettings& s) { s.Language = vm::TLanguageChoice::English; },
       "[COMMON]\r\nLANGUAGE=en\r\n"},
      {"language back to the locale's", "[COMMON]\r\nLANGUAGE=en\r\n",
       [](vm::TStoredSettings& s) { s.Language = vm::TLanguageChoice::Auto; },
       "[COMMON]\r\nLANGUAGE=auto\r\n"},
      // The window edits neither; its OK must not put them back to their defaults.
      {"sign-in keys are kept", "[COMMON]\r\nQR_SIGNIN=0\r\nQR_SIGNIN_SECONDS=30\r\n",
       [](vm::TStoredSettings& s) { s.QrSignIn = true; },
       "[COMMON]\r\nQR_SIGNIN=0\r\nQR_SIGNIN_SECONDS=30\r\n"},
  };
  for (const Row& row : rows) {
    Fixture f;
    if (!row.before.empty()) f.WriteSettings(row.before);
    f.Dirlst("A;;/a/\nB;;/b\n");
    vm::TStoredSettings edited = vm::ReadStoredSettings(f.Path());
    row.edit(edited);
    vm::WriteStoredSettings(f.Path(), edited);
    EXPECT_EQ(ReadFileBytes(f.Path() + "velmarind.ini"), row.after) << row.label;
    // The folder file is always rewritten, each path with its final "/".
    EXPECT_EQ(ReadFileBytes(f.Path() + "dirlst.ini"), "A;;/a/\r\nB;;/b/\r\n") << row.label;
  }
}

// The settings file holds the password, and was written readable by everyone.
TEST(StoredSettings, SettingsFileIsTheOwnersAlone) {
  Fixture f;
  const std::string ini = f.Path() + "velmarind.ini";
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=8080\r\n");
  chmod(ini.c_str(), 0644);
  vm::TStoredSettings edited = vm::ReadStoredSettings(f.Path());
  edited.Password = "secret";
  vm::WriteStoredSettings(f.Path(), edited);
  EXPECT_EQ(PermissionsOf(ini), 0600u);
  EXPECT_EQ(PermissionsOf(f.Path() + "dirlst.ini"), 0644u);
}

TEST(StoredSettings, FirstStartWritesPort8080OnlyWhenThereIsNoSettingsFile) {
  Fixture f;
  const std::string ini = f.Path() + "velmarind.ini";
  EXPECT_TRUE(vm::WriteFirstStartSettings(f.Path()));
  EXPECT_EQ(ReadFileBytes(ini),
            "[COMMON]\r\nHTTP_PORT=8080\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n");
  EXPECT_EQ(PermissionsOf(ini), 0600u);
  f.WriteSettings("");  // the user's file, even empty, stays as it is
  EXPECT_FALSE(vm::WriteFirstStartSettings(f.Path()));
  EXPECT_EQ(ReadFileBytes(ini), "");
}

TEST(StoredSettings, AWriteNotCommittedLeavesNoTrace) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=8080\r\n");
  f.Dirlst("A;;/a/\r\n");
  {
    vm::TStoredSettings edited = EverySetting();
    vm::TSettingsWrite write(f.Path(), edited);
  }
  EXPECT_EQ(f.List(), (std::vector<std::string>{"dirlst.ini", "page", "velmarind.ini"}));
  EXPECT_EQ(ReadFileBytes(f.Path() + "velmarind.ini"), "[COMMON]\r\nHTTP_PORT=8080\r\n");
  EXPECT_EQ(ReadFileBytes(f.Path() + "dirlst.ini"), "A;;/a/\r\n");
  // A folder that cannot be written fails before anything is replaced.
  EXPECT_THROW(vm::TSettingsWrite(f.Path() + "missing/", EverySetting()), vm::EFCreateError);
}
