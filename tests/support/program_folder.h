// A program folder for one test, laid out as an installation leaves it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/page_lines.h"
#include "support/scoped_env.h"

namespace vmtest {

// Under a fresh temporary root: the program folder "app/" with its page folder holding the
// style sheet and the script, and a configuration home "config/" that $XDG_CONFIG_HOME names
// for the object's life, so that a log-on start file never reaches the user's. Everything is
// removed, and the variable put back, at destruction.
class TProgramFolder {
 public:
  TProgramFolder();

  // The program folder, ending in "/".
  const std::string& Path() const { return path_; }
  std::string PageFolder() const { return path_ + "page/"; }
  // The configuration home, ending in "/", and the log-on start file in it.
  const std::string& ConfigHome() const { return configHome_; }
  std::string AutostartFile() const { return configHome_ + "autostart/velmarind.desktop"; }

  // Creates a sub-folder of the program folder; its path ending in "/".
  std::string MakeSubfolder(const std::string& name) const {
    return root_.MakeSubfolder("app/" + name);
  }
  // Creates a folder beside the program folder (a share, a folder of stand-in programs); its
  // path ending in "/".
  std::string MakeFolderBeside(const std::string& name) const { return root_.MakeSubfolder(name); }
  // Names in the program folder or one of its sub-folders, sorted.
  std::vector<std::string> List(const std::string& sub = "") const {
    return root_.List("app/" + sub);
  }

  // A file of the program folder, by its name there ("velmarind.ini", "page/x.html").
  void Write(const std::string& name, std::string_view bytes) const {
    WriteFileBytes(path_ + name, bytes);
  }
  std::string Read(const std::string& name) const { return ReadFileBytes(path_ + name); }
  // velmarind.ini as given; dirlst.ini with CR LF after each line.
  void WriteSettings(std::string_view ini) const { Write("velmarind.ini", ini); }
  void WriteShares(const std::vector<std::string>& lines) const {
    Write("dirlst.ini", JoinCrLf(lines));
  }

 private:
  TTempFolder root_;
  std::string path_;
  std::string configHome_;
  TScopedEnv home_;
};

}  // namespace vmtest
