// The frame of the plain pages (login, text and blank pages).
#include <string>
#include <vector>

#include "web/page_file.h"
#include "web/pages.h"

namespace vm {

const char kViewportLine[] =
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
const char kStyleSheetLine[] = "<link rel=\"stylesheet\" type=\"text/css\" href=\"vcom.css\">";

const char kLoginStyleSheetLine[] =
    "<link rel=\"stylesheet\" type=\"text/css\" href=\"vm-style\">";

std::string PageScriptLine(const std::string& kind, const std::string& source) {
  return "<script type=\"text/javascript\" src=\"" + source + "\" data-page=\"" + kind +
         "\"></script>";
}

std::string WritePlainPage(const std::string& pageFile, const std::vector<std::string>& headExtra,
                           const std::vector<std::string>& body,
                           const std::vector<std::string>& script) {
  std::vector<std::string> lines = {
      "<HTML>",
      "<HEAD>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
  };
  lines.insert(lines.end(), headExtra.begin(), headExtra.end());
  lines.insert(lines.end(), {
                                "<TITLE>Velmarind</TITLE>",
                                "</HEAD>",
                                "<BODY>",
                                "<center><h1>Velmarind</h1></center><hr>",
                            });
  lines.insert(lines.end(), body.begin(), body.end());
  lines.insert(lines.end(), {"</BODY>", "<script language=\"JavaScript\">", "<!--"});
  lines.insert(lines.end(), script.begin(), script.end());
  lines.insert(lines.end(), {"//-->", "</script>", "</HTML>"});
  return WritePageFile(pageFile, lines);
}

}  // namespace vm
