#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {

namespace {

constexpr char kNewTextPrefix[] = "__vupd_text_";
constexpr char kNewTextSuffix[] = ".txt";

// Escapes the five characters that could end an attribute or start markup. Byte by byte is
// safe for Shift_JIS: the second byte of a double-byte character is never below 0x40.
std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string MakeTextPage(const TStateSnapshot&, const std::string& params, const std::string& pageFile) {
  const std::string dir = GetParam(params, "dirname");
  const std::string dirName = HexDecode(dir);
  const std::string fname = kNewTextPrefix + RequestStamp() + kNewTextSuffix;
  // The script only asks and submits: closing the window right after submit() lets a browser
  // cancel the post, so the blank page (the answer) reloads the opener and closes instead.
  const std::vector<std::string> form = {
      "<form name=\"mform\" action=\"blank.html\" method=\"POST\">",
      "<input type=\"hidden\" name=\"menu\" value=\"newtext\">",
      "<input type=\"hidden\" name=\"dirname\" value=\"" + HtmlEscape(dir) + "\">",
      "<p style=\"font-size:13pt\"><b>" + HtmlEscape(dirName) + "</b></p>",
      "<b style=\"font-size:13pt\">" + texts::FileNameLabel() + "</b>",
      "<input type=\"text\" name=\"fname\" value=\"" + fname +
          "\" size=50 style=\"font-size:13pt\"><br>",
      "<textarea name=\"tbody\" cols=\"100\" rows=\"30\" "
      "style=\"font-size:11pt\"></textarea><br>",
      "<input type=\"button\" onclick=\"cmd_go()\" value=\"" + texts::Save() +
          "\" style=\"font-size:13pt\">",
      "&nbsp; &nbsp; &nbsp; ",
      "<input type=\"button\" onclick=\"cmd_clear()\" value=\"" + texts::Clear() +
          "\" style=\"font-size:13pt\">",
      "&nbsp; &nbsp; &nbsp; ",
      "<input type=\"button\" onclick=\"cmd_can()\" value=\"" + texts::Cancel() +
          "\" style=\"font-size:13pt\">",
      "</form>",
  };
  const std::vector<std::string> script = {
      "function cmd_go(){",
      "   if(!confirm(\"" + texts::ConfirmSave() + "\")) return;",
      "   mform.submit();",
      "}",
      "function cmd_clear(){",
      "    mform.reset();",
      "}",
      "function cmd_can(){",
      "    close();",
      "}",
  };
  return WritePlainPage(pageFile, form, script);
}

std::string MakeBlankPage(const TStateSnapshot&, const std::string&, const std::string& pageFile) {
  // The answer to the text page's post: once the text is saved, show the new file in the
  // index page that opened the window, and close this window.
  return WritePlainPage(pageFile, {}, {"if(window.opener) window.opener.location.reload();", "close();"});
}

}  // namespace vm
