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

}  // namespace vmtest
