#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/share_paths.h"
#include "web/sjis_texts.h"

namespace vm {

namespace {

// "&nbsp;&nbsp;<a ... exf('m1','<hex name>','<hex path>')">name</a>": the page script addresses
// a shared folder by these two hex texts; the name is shown as it stands.
std::string FolderLinkLine(const std::string& entry) {
  const std::string name = GetField(entry, 0);
  const std::string path = SharedFolderPath(entry);
  return "&nbsp;&nbsp;<a class=\"sh1\" href=\"javascript:exf('m1','" + HexEncode(name) + "','" +
         HexEncode(path) + "')\">" + name + "</a>";
}

}  // namespace

std::string MakeIndexPage(const TStateSnapshot& state, const std::string&, const std::string& pageFile) {
  std::vector<std::string> lines = {
      "<HTML>",
      "<HEAD>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
      "<TITLE>Velmarind</TITLE>",
      kStyleSheetLine,
      "<script type=\"text/javascript\" src=\"vcom.js\"></script>",
      "</HEAD>",
      "<BODY>",
      "<center><h1>Velmarind</h1></center><hr>",
  };
  for (const std::string& entry : *state.SharedFolders) lines.push_back(FolderLinkLine(entry));
  // A browser that finds nothing is told why, rather than left with an empty page.
  if (state.SharedFolders->empty()) lines.push_back("<p>" + texts::NothingShared() + "</p>");
  const std::vector<std::string> rest = {
      "<hr>",
      "<form name=\"mform\" action=\"index.html\" method=\"POST\" enctype=\"multipart/form-data\" "
      "style=\"display:none;\">",
      "<input type=\"hidden\" name=\"menu\" value=\"updimg\">",
      "<b style=\"font-size:13pt\">Upload:</b><input type=\"file\" name=\"ifile\" size=50>",
      "<input type=\"hidden\" name=\"dirname\" value=\"\" style=\"font-size:13pt\">",
      "<input type=\"submit\" value=\"" + texts::Send() + "\" style=\"font-size:13pt\">",
      "&nbsp; &nbsp; <input type=\"button\" onclick=\"cmd_text()\" value=\"" + texts::CreateText() +
          "\" style=\"font-size:13pt\">",
      "<hr></form>",
      "<div id=\"m1\"><div>",
      "</BODY>",
      "</HTML>",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return WritePageFile(pageFile, lines);
}

}  // namespace vm
