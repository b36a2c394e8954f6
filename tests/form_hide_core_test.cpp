#include "server/form_hide_core.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/exception.h"
#include "state/config_store.h"
#include "support/page_lines.h"
#include "support/scoped_env.h"

namespace {

using vmtest::FileExists;
using vmtest::JoinCrLf;
using vmtest::ReadFileBytes;
using vmtest::TScopedEnv;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

// A program folder with a page folder and settings; autostart goes to a folder of its own.
struct Fixture {
  TTempFolder program;
  TTempFolder config;
  TScopedEnv home{"XDG_CONFIG_HOME", config.Path()};
  std::string pages = program.MakeSubfolder("page");

  void Ini(const std::string& text) { WriteFileBytes(program.Path() + "velmarind.ini", text); }
};

std::vector<std::string> GoHomeLines(const std::string& url) {
  return {"<HTML>",
          "<HEAD>",
          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
          "<TITLE>Velmarind</TITLE>",
          "<meta http-equiv=\"Refresh\" content=\"0; url=" + url + "\">",
          "</HEAD>",
          "<BODY>",
          "<a href=\"" + url + "\">" + url + "</a>",
          "</BODY>",
          "</HTML>"};
}

TEST(FormHideCore, CreateLoadsSettingsAndServesUntilClose) {
  Fixture f;
  f.Ini("[COMMON]\r\nHTTP_PORT=0\r\n");
  WriteFileBytes(f.program.Path() + "dirlst.ini", "A;;/a\r\n");
  vm::TFormHideCore core(f.program.Path());
  core.Server().BindAddress = "127.0.0.1";
  core.FormCreate();
  EXPECT_TRUE(core.Server().Active());
  EXPECT_NE(core.Server().BoundPort(), 0);
  EXPECT_EQ(core.State().ProgramFolder(), f.program.Path());
  EXPECT_EQ(*core.State().SharedFolders(), std::vector<std::string>{"A;;/a/"});
  EXPECT_FALSE(core.State().LocalAddress().empty());

  core.FormClose();
  EXPECT_FALSE(core.Server().Active());
  EXPECT_TRUE(core.State().SharedFolders()->empty());
}

TEST(FormHideCore, CloseDeletesOnlyTheHtmlFilesOfThePageFolder) {
  Fixture f;
  for (const char* name : {"index_127.0.0.1.html", "login_127.0.0.2.html", "gohome.html",
                           "mine.html", "vcom.css", "vcom.js", "notes.htm", "page.html.bak"}) {
    WriteFileBytes(f.pages + name, "x");
  }
  // A page write cut short by a crash leaves its mkstemp temporary; only that exact shape goes.
  for (const char* name : {"index_127.0.0.1.html.a1B2c3", "text_127.0.0.1.HTML.ZZZZZZ",
                           "index.html.backup7", "index.html.a1B2c", "index.htm.a1B2c3"}) {
    WriteFileBytes(f.pages + name, "x");
  }
  f.program.MakeSubfolder("page/folder.html");
  f.program.MakeSubfolder("page/folder.html.Xy12ab");
  WriteFileBytes(f.program.Path() + "outside.html", "x");
  WriteFileBytes(f.program.Path() + "outside.html.Xy12ab", "x");
  vm::TFormHideCore core(f.program.Path());
  core.FormClose();  // also safe when the server never started
  EXPECT_EQ(f.program.List("page"),
            (std::vector<std::string>{"folder.html", "folder.html.Xy12ab", "index.htm.a1B2c3",
                                      "index.html.a1B2c", "index.html.backup7", "notes.htm",
                                      "page.html.bak", "vcom.css", "vcom.js"}));
  EXPECT_TRUE(FileExists(f.program.Path() + "outside.html"));
  EXPECT_TRUE(FileExists(f.program.Path() + "outside.html.Xy12ab"));
}

TEST(FormHideCore, GoHomePageRedirectsToTheBaseUrl) {
  Fixture f;
  f.Ini("[COMMON]\r\nHTTP_PORT=0\r\n");
  vm::TFormHideCore core(f.program.Path());
  core.Server().BindAddress = "127.0.0.1";
  core.FormCreate();
  const std::string address = core.State().LocalAddress();

  std::string path = core.WriteGoHomePage();
  EXPECT_EQ(path, f.pages + "gohome.html");
  EXPECT_EQ(ReadFileBytes(path), JoinCrLf(GoHomeLines("http://" + address + ":0/velmarind/")));

  // The base URL follows a reload of the settings at once.
  f.Ini("[COMMON]\r\nHTTP_PORT=80\r\n");
  vm::LoadSettings(core.State());
  core.WriteGoHomePage();
  EXPECT_EQ(ReadFileBytes(path), JoinCrLf(GoHomeLines("http://" + address + "/velmarind/")));
  core.FormClose();
}

TEST(FormHideCore, GoHomePageWithoutPageFolderThrows) {
  TTempFolder program;
  vm::TFormHideCore core(program.Path());
  EXPECT_THROW(core.WriteGoHomePage(), vm::EFCreateError);
}

TEST(FormHideCore, UrlCommandOpensTheStartPageWithXdgOpen) {
  Fixture f;
  TTempFolder bin;
  const std::string record = bin.Path() + "opened.txt";
  WriteFileBytes(bin.Path() + "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + record + "\n");
  chmod((bin.Path() + "xdg-open").c_str(), 0755);
  vm::TFormHideCore core(f.program.Path());
  {
    TScopedEnv path("PATH", bin.Path() + ":/usr/bin:/bin");
    core.URLU1Click();
  }
  // The opener is not waited for: look for its trace for a bounded time.
  for (int i = 0; i < 250 && ReadFileBytes(record).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ReadFileBytes(record), f.pages + "gohome.html");

  // Without xdg-open nothing happens, and nothing is reported.
  TTempFolder emptyBin;
  TScopedEnv path("PATH", emptyBin.Path());
  EXPECT_NO_THROW(core.URLU1Click());
  EXPECT_TRUE(FileExists(f.pages + "gohome.html"));
}

}  // namespace
