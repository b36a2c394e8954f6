#include "support/program_folder.h"

namespace vmtest {

TProgramFolder::TProgramFolder()
    : path_(root_.MakeSubfolder("app")),
      configHome_(root_.MakeSubfolder("config")),
      // Without the final "/": the program joins its own.
      home_("XDG_CONFIG_HOME", configHome_.substr(0, configHome_.size() - 1)) {
  MakeSubfolder("page");
  Write("page/vcom.css", ".sh1 {}\n");
  Write("page/vcom.js", "function exf() {}\n");
}

std::string TProgramFolder::MakeSubfolder(const std::string& name) const {
  return root_.MakeSubfolder("app/" + name);
}

std::string TProgramFolder::MakeFolderBeside(const std::string& name) const {
  return root_.MakeSubfolder(name);
}

std::vector<std::string> TProgramFolder::List(const std::string& sub) const {
  return root_.List("app/" + sub);
}

void TProgramFolder::Write(const std::string& name, std::string_view bytes) const {
  WriteFileBytes(path_ + name, bytes);
}

std::string TProgramFolder::Read(const std::string& name) const {
  return ReadFileBytes(path_ + name);
}

void TProgramFolder::WriteShares(const std::vector<std::string>& lines) const {
  Write("dirlst.ini", JoinCrLf(lines));
}

}  // namespace vmtest
