#include <string>
#include <vector>

#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/share_paths.h"
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

// The folder the text goes to, as the index page shows it: the share's name, followed by the
// folders below the share's own folder when folderPath lies below it ("share / a / b").
std::string FolderHeading(const TStateSnapshot& state, const std::string& shareName,
                          const std::string& folderPath) {
  if (folderPath.empty() || !state.SharedFolders) return shareName;
  const std::string root = SharedFolderPathByName(*state.SharedFolders, shareName);
  if (root.empty() || !IsInsideFolder(folderPath, root)) return shareName;
  const auto top = NormalisedSegments(root);
  const auto below = NormalisedSegments(folderPath);
  std::string heading = shareName;
  for (size_t i = top->size(); i < below->size(); ++i) heading += " / " + (*below)[i];
  return heading;
}

}  // namespace

std::string MakeTextPage(const TStateSnapshot& state, const std::string& params,
                         const std::string& pageFile) {
  const std::string dir = GetParam(params, "dirname");
  const std::string dirName = HexDecode(dir);
  const std::string dirPath = GetParam(params, "dirpath");  // the folder being viewed, in hex
  const std::string fname = kNewTextPrefix + RequestStamp() + kNewTextSuffix;
  // Sent as UTF-8, and says so in "_charset_": a text that Shift_JIS cannot hold is saved as
  // typed instead of as the browser's character references.
  const std::vector<std::string> form = {
      "<form name=\"mform\" action=\"blank.html\" method=\"POST\" accept-charset=\"UTF-8\">",
      "<input type=\"hidden\" name=\"menu\" value=\"newtext\">",
      "<input type=\"hidden\" name=\"_charset_\">",
      "<input type=\"hidden\" name=\"dirname\" value=\"" + HtmlEscape(dir) + "\">",
      "<input type=\"hidden\" name=\"dirpath\" value=\"" + HtmlEscape(dirPath) + "\">",
      "<p style=\"font-size:13pt\"><b>" + HtmlEscape(FolderHeading(state, dirName, HexDecode(dirPath))) +
          "</b></p>",
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
      "<span id=\"vmsg\" role=\"alert\" style=\"font-size:13pt;color:red\"></span>",
      "</form>",
  };
  // The post goes by fetch, so that the window learns the outcome from the answer's headers:
  // a saved text reloads the opener and closes (or, opened in this tab, returns to the index
  // page); a refused one keeps the window and its text, with the reason next to the buttons.
  // Without fetch the form is submitted, and the blank page reloads the opener and closes.
  const std::vector<std::string> script = {
      "var busy=false;",
      "function cmd_go(){",
      "   if(busy||!confirm(\"" + texts::ConfirmSave() + "\")) return;",
      "   if(!window.fetch){ mform.submit(); return; }",
      "   var data=new FormData(mform);",
      "   data.set(\"_charset_\",\"UTF-8\");",
      // A form sends line ends as CR LF, as the text is then kept; FormData leaves them bare.
      "   data.set(\"tbody\",mform.tbody.value.replace(/\\r\\n|\\r|\\n/g,\"\\r\\n\"));",
      "   busy=true;",
      "   show_msg(\"\");",
      "   fetch(\"blank.html\",{method:\"POST\",body:new URLSearchParams(data)}).then(function(r){",
      "      if(r.headers.get(\"X-Velmarind-Saved\")===null){",
      "         busy=false;",
      "         show_msg(refusal(r.headers.get(\"X-Velmarind-Refused\")));",
      "      }else if(window.opener&&!window.opener.closed){",
      "         window.opener.location.reload();",
      "         close();",
      "      }else location.replace(\"index.html\");",
      "   },function(){ busy=false; show_msg(refusal(\"\")); });",
      "}",
      "function refusal(why){",
      "   var texts={NoFolder:\"" + texts::RefusedNoFolder() + "\",BadName:\"" +
          texts::RefusedBadName() + "\",CannotWrite:\"" + texts::RefusedCannotWrite() + "\"};",
      "   return texts.hasOwnProperty(why)?texts[why]:\"" + texts::NotSaved() + "\";",
      "}",
      "function show_msg(text){",
      "   document.getElementById(\"vmsg\").textContent=text;",
      "}",
      "function cmd_clear(){",
      "    mform.reset();",
      "}",
      "function cmd_can(){",
      "    close();",
      "}",
  };
  // The style sheet lets the wide text area fit a phone. The page script asks before typed text
  // is thrown away and speaks the browser's language; it runs here also when the page is
  // opened in the same tab (a blocked pop-up).
  return WritePlainPage(pageFile, {kViewportLine, kStyleSheetLine, PageScriptLine("text")}, form,
                        script);
}

std::string MakeBlankPage(const TStateSnapshot&, const std::string&, const std::string& pageFile) {
  // The answer to the text page's post: once the text is saved, show the new file in the
  // index page that opened the window, and close this window.
  return WritePlainPage(pageFile, {}, {},
                        {"if(window.opener) window.opener.location.reload();", "close();"});
}

}  // namespace vm
