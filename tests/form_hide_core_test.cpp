#include "server/form_hide_core.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "http/engine_errors.h"
#include "platform/exception.h"
#include "platform/sjis.h"
#include "platform/text_helpers.h"
#include "server/listen_failure.h"
#include "state/config_store.h"
#include "support/expected_pages.h"
#include "support/loopback_client.h"
#include "support/ports.h"
#include "support/program_folder.h"
#include "support/waiting.h"

namespace {

using vmtest::ExpectedGoHomePage;
using vmtest::FileExists;
using vmtest::FreePort;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::TPortHolder;
using vmtest::TScopedEnv;
using vmtest::TTempFolder;
using vmtest::WaitUntil;
using vmtest::WriteFileBytes;

using Fixture = vmtest::TProgramFolder;

TEST(FormHideCore, CreateLoadsSettingsAndServesUntilClose) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=0\r\n");
  f.WriteShares({"A;;/a"});
  vm::TFormHideCore core(f.Path());
  core.Server().BindAddress = "127.0.0.1";
  core.FormCreate();
  EXPECT_TRUE(core.Server().Active());
  EXPECT_NE(core.Server().BoundPort(), 0);
  EXPECT_EQ(core.State().ProgramFolder(), f.Path());
  EXPECT_EQ(*core.State().SharedFolders(), std::vector<std::string>{"A;;/a/"});
  EXPECT_FALSE(core.State().LocalAddress().empty());

  core.FormClose();
  EXPECT_FALSE(core.Server().Active());
  EXPECT_TRUE(core.State().SharedFolders()->empty());
}

TEST(FormHideCore, CloseDeletesOnlyTheHtmlFilesOfThePageFolder) {
  Fixture f;
  for (const char* name : {"index_127.0.0.1.html", "login_127.0.0.2.html", "gohome.html",
                           "mine.html", "notes.htm", "page.html.bak"}) {
    WriteFileBytes(f.PageFolder() + name, "x");
  }
  // A page write cut short by a crash leaves its mkstemp temporary; only that exact shape goes.
  for (const char* name : {"index_127.0.0.1.html.a1B2c3", "text_127.0.0.1.HTML.ZZZZZZ",
                           "index.html.backup7", "index.html.a1B2c", "index.htm.a1B2c3"}) {
    WriteFileBytes(f.PageFolder() + name, "x");
  }
  f.MakeSubfolder("page/folder.html");
  f.MakeSubfolder("page/folder.html.Xy12ab");
  WriteFileBytes(f.Path() + "outside.html", "x");
  WriteFileBytes(f.Path() + "outside.html.Xy12ab", "x");
  vm::TFormHideCore core(f.Path());
  core.FormClose();  // also safe when the server never started
  EXPECT_EQ(f.List("page"),
            (std::vector<std::string>{"folder.html", "folder.html.Xy12ab", "index.htm.a1B2c3",
                                      "index.html.a1B2c", "index.html.backup7", "notes.htm",
                                      "page.html.bak", "vcom.css", "vcom.js"}));
  EXPECT_TRUE(FileExists(f.Path() + "outside.html"));
  EXPECT_TRUE(FileExists(f.Path() + "outside.html.Xy12ab"));
}

TEST(FormHideCore, GoHomePageRedirectsToTheBaseUrl) {
  Fixture f;
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=0\r\n");
  vm::TFormHideCore core(f.Path());
  core.Server().BindAddress = "127.0.0.1";
  core.FormCreate();
  const std::string address = core.State().LocalAddress();

  std::string path = core.WriteGoHomePage();
  EXPECT_EQ(path, f.PageFolder() + "gohome.html");
  EXPECT_EQ(ReadFileBytes(path),
            JoinCrLf(ExpectedGoHomePage("http://" + address + ":0/velmarind/")));

  // The base URL follows a reload of the settings at once.
  f.WriteSettings("[COMMON]\r\nHTTP_PORT=80\r\n");
  vm::LoadSettings(core.State());
  core.WriteGoHomePage();
  EXPECT_EQ(ReadFileBytes(path), JoinCrLf(ExpectedGoHomePage("http://" + address + "/velmarind/")));
  core.FormClose();
}

TEST(FormHideCore, GoHomePageWithoutPageFolderThrows) {
  TTempFolder program;
  vm::TFormHideCore core(program.Path());
  EXPECT_THROW(core.WriteGoHomePage(), vm::EFCreateError);
}

bool Answers(int port) {
  return vm::testing::Exchange(port, "GET /velmarind/ HTTP/1.1\r\n\r\n")
             .rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
}

// A core serving on a loopback port of its own.
struct TServing : Fixture {
  vm::TFormHideCore core{Path()};
  int port = 0;
  TServing() {
    WriteSettings("[COMMON]\r\nHTTP_PORT=0\r\n");
    WriteShares({"A;;/a/"});
    core.Server().BindAddress = "127.0.0.1";
    core.FormCreate();
    port = core.Server().BoundPort();
  }
};

TEST(FormHideCore, PortChangeMovesTheListenerAtOnce) {
  TServing f;
  const int newPort = FreePort();
  ASSERT_NE(newPort, 0);
  vm::TStoredSettings edited = vm::ReadStoredSettings(f.Path());
  edited.Port = newPort;
  f.core.StoreSettings(edited);
  EXPECT_TRUE(vmtest::Refused(f.port));
  EXPECT_TRUE(Answers(newPort));
  EXPECT_EQ(f.core.NotServingReason(), "");
  EXPECT_EQ(vm::ReadStoredSettings(f.Path()).Port, newPort);
  const std::string suffix = ":" + std::to_string(newPort) + "/velmarind/";
  EXPECT_TRUE(f.core.State().Settings().BaseURL.ends_with(suffix))
      << f.core.State().Settings().BaseURL;
}

TEST(FormHideCore, PortThatCannotBeHadKeepsTheOldOneAndSavesNothing) {
  TServing f;
  TPortHolder taken;
  ASSERT_NE(taken.Port(), 0);
  const std::string ini = ReadFileBytes(f.Path() + "velmarind.ini");
  const std::string baseURL = f.core.State().Settings().BaseURL;
  vm::TStoredSettings edited = vm::ReadStoredSettings(f.Path());
  edited.Port = taken.Port();
  edited.SharedFolders.push_back("B;;/b/");
  try {
    f.core.StoreSettings(edited);
    ADD_FAILURE() << "no error";
  } catch (const vm::EListenError& e) {
    const std::string message = e.what();
    for (const std::string& part :
         {vm::Sjis("ポート ") + std::to_string(taken.Port()) +
              vm::Sjis(" は他のプログラムが使っています"),
          vm::Sjis("ポート ") + std::to_string(f.port) + vm::Sjis(" で公開を続けています"),
          vm::Sjis("保存していません")}) {
      EXPECT_NE(message.find(part), std::string::npos) << vm::ShiftJisToUtf8(message);
    }
  }
  EXPECT_TRUE(Answers(f.port));
  EXPECT_EQ(ReadFileBytes(f.Path() + "velmarind.ini"), ini);
  EXPECT_EQ(ReadFileBytes(f.Path() + "dirlst.ini"), "A;;/a/\r\n");
  EXPECT_EQ(f.core.State().Settings().BaseURL, baseURL);
  EXPECT_EQ(*f.core.State().SharedFolders(), std::vector<std::string>{"A;;/a/"});
}

// A first start had no settings file, so the port was 80, which an ordinary user may not use;
// the bind error then reached the user raw.
TEST(FormHideCore, FirstStartWritesPort8080AndAFailureToListenSaysWhy) {
  Fixture f;
  TPortHolder taken(vm::kFirstStartPort);
  if (taken.Port() == 0) GTEST_SKIP() << "port 8080 is in use on this machine by someone else";
  vm::TFormHideCore core(f.Path());
  core.Server().BindAddress = "127.0.0.1";
  try {
    core.FormCreate();
    ADD_FAILURE() << "no error";
  } catch (const vm::EListenError& e) {
    const std::string message = e.what();
    for (const char* part : {"ポート 8080 は他のプログラムが使っています", "何も公開していません",
                             "「システム」タブ"}) {
      EXPECT_NE(message.find(vm::Sjis(part)), std::string::npos) << vm::ShiftJisToUtf8(message);
    }
  }
  EXPECT_EQ(vm::ReadStoredSettings(f.Path()).Port, 8080);
  EXPECT_EQ(core.NotServingReason(), vm::Sjis("ポート 8080 は他のプログラムが使っています。"));
}

TEST(FormHideCore, ListenFailuresAreSortedByCause) {
  struct Row {
    const char* label;
    std::shared_ptr<const std::exception> cause;
    vm::TListenProblem problem;
    const char* reason;
  } rows[] = {
      {"in use, as the engine words it",
       std::make_shared<vm::Exception>(
           "Could not bind socket. Address and port are already in use."),
       vm::TListenProblem::InUse, "ポート 81 は他のプログラムが使っています。"},
      {"in use, by number", std::make_shared<vm::EIdSocketError>(EADDRINUSE, "x"),
       vm::TListenProblem::InUse, "ポート 81 は他のプログラムが使っています。"},
      {"no privilege",
       std::make_shared<vm::EIdSocketError>(vm::EIdSocketError::OfCall(EACCES, "bind")),
       vm::TListenProblem::NeedsPrivilege,
       "ポート 81 を使うには管理者の権限が要ります（1024 より小さい番号）。"},
      {"other", std::make_shared<vm::EIdSocketError>(EADDRNOTAVAIL, "Socket Error # 99"),
       vm::TListenProblem::Other, "ポート 81 で待ち受けできません（Socket Error # 99）。"},
  };
  for (const Row& row : rows) {
    const vm::TListenFailure failure = vm::ListenFailureOf(81, *row.cause);
    EXPECT_EQ(failure.Problem, row.problem) << row.label;
    EXPECT_EQ(vm::ShiftJisToUtf8(failure.Reason()), row.reason) << row.label;
  }
}

// A program folder that cannot be written (a copy in a system folder) served nothing: without
// "velmarind.ini" the port was 80, and OK could change nothing. The first start's port holds,
// and what OK is given applies for the run, with a word that it was not saved.
TEST(FormHideCore, UnwritableFolderRunsOnTheFirstStartPortAndAppliesWhatCannotBeSaved) {
  Fixture f;
  vm::TFormHideCore writable(f.Path());
  EXPECT_EQ(writable.FolderProblem(), "");

  const std::string missing = f.Path() + "missing/";
  vm::TFormHideCore core(missing);
  core.Server().BindAddress = "127.0.0.1";
  try {
    core.FormCreate();
  } catch (const vm::EListenError&) {  // the first start's port may be taken on this machine
  }
  EXPECT_EQ(core.State().Settings().Port, vm::kFirstStartPort);
  EXPECT_NE(core.FolderProblem().find(missing), std::string::npos);
  EXPECT_NE(core.NotServingReason().find(missing + "page/"), std::string::npos);
  vm::TStoredSettings edited = core.SettingsInForce();
  edited.Port = FreePort();
  edited.SharedFolders = {"A;;/a/"};
  EXPECT_THROW(core.StoreSettings(edited), vm::ESettingsNotSaved);
  EXPECT_EQ(*core.State().SharedFolders(), edited.SharedFolders);
  EXPECT_EQ(core.Server().BoundPort(), edited.Port);
  EXPECT_EQ(core.SettingsInForce(), edited);
}

TEST(FormHideCore, UrlCommandOpensTheStartPageWithXdgOpen) {
  Fixture f;
  TTempFolder bin;
  const std::string record = bin.Path() + "opened.txt";
  WriteFileBytes(bin.Path() + "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + record + "\n");
  chmod((bin.Path() + "xdg-open").c_str(), 0755);
  vm::TFormHideCore core(f.Path());
  {
    TScopedEnv path("PATH", bin.Path() + ":/usr/bin:/bin");
    core.URLU1Click();
  }
  // The opener is not waited for: its trace is.
  EXPECT_TRUE(WaitUntil([&] { return !ReadFileBytes(record).empty(); }));
  EXPECT_EQ(ReadFileBytes(record), f.PageFolder() + "gohome.html");

  // Without xdg-open the page is still written, and the caller is told.
  TTempFolder emptyBin;
  TScopedEnv path("PATH", emptyBin.Path());
  EXPECT_FALSE(core.URLU1Click());
  EXPECT_TRUE(FileExists(f.PageFolder() + "gohome.html"));
}

TEST(FormHideCore, OpenersThatFailAreReportedAndAllAreReaped) {
  Fixture f;
  TTempFolder bin;
  WriteFileBytes(bin.Path() + "xdg-open", "#!/bin/sh\ncase \"$1\" in */bad/) exit 3;; esac\n");
  chmod((bin.Path() + "xdg-open").c_str(), 0755);
  vm::TFormHideCore core(f.Path());
  TScopedEnv path("PATH", bin.Path() + ":/usr/bin:/bin");
  ASSERT_TRUE(core.OpenWithDesktop("/srv/good/", "good"));
  ASSERT_TRUE(core.OpenWithDesktop("/srv/bad/", "bad"));
  std::vector<std::string> failed;
  EXPECT_TRUE(WaitUntil([&] {
    for (std::string& label : core.ReapOpeners()) failed.push_back(label);
    return !core.OpenersRunning();
  }));
  EXPECT_EQ(failed, std::vector<std::string>{"bad"});
}

}  // namespace
