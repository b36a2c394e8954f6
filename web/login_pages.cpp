#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs_names.h"
#include "platform/iconv_converter.h"
#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/sjis_texts.h"

namespace vm {

namespace {

constexpr char kWrongPasswordVariant[] = "r";

// What the login page's str2hex sends for UTF-8 text: each UTF-16 unit in lowercase hex without
// leading zeros (the browser sends upper case; callers compare after lower-casing). Nothing for
// bytes that are not UTF-8.
std::optional<std::string> BrowserHex(std::string_view utf8) {
  thread_local IconvConverter toUnits("UTF-16LE", "UTF-8");
  const std::optional<std::string> units = toUnits.Convert(utf8);
  if (!units) return std::nullopt;
  std::string hex;
  for (size_t i = 0; i + 1 < units->size(); i += 2) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%x",
                  static_cast<unsigned char>((*units)[i]) |
                      (static_cast<unsigned>(static_cast<unsigned char>((*units)[i + 1])) << 8));
    hex += digits;
  }
  return hex;
}

// The texts a person may have typed for a stored password, as the browser's hex. The settings
// window stores each "/"-separated piece as Shift_JIS when Shift_JIS holds it, else as its UTF-8
// bytes; some bytes read both ways (C3 A9 is "é" and "ﾃｩ"), so every reading of each piece counts.
// A piece that is neither valid Shift_JIS nor UTF-8 has no reading: it cannot be typed.
bool BrowserFormMatches(std::string_view pw, std::string_view stored) {
  const size_t slash = std::min(stored.find('/'), stored.size());
  const std::string_view piece = stored.substr(0, slash);
  std::vector<std::string> readings;
  if (std::optional<std::string> sjis = ShiftJisToUtf8Strict(piece)) readings.push_back(*sjis);
  if (!Utf8ToShiftJis(piece)) readings.emplace_back(piece);
  for (const std::string& reading : readings) {
    std::optional<std::string> hex = BrowserHex(reading);
    if (!hex || pw.substr(0, hex->size()) != *hex) continue;
    const std::string_view rest = pw.substr(hex->size());
    if (slash == stored.size()) {
      if (rest.empty()) return true;
    } else if (rest.substr(0, 2) == "2f" &&
               BrowserFormMatches(rest.substr(2), stored.substr(slash + 1))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool PasswordMatches(const std::string& sent, const std::string& storedPassword) {
  const std::string pw = LowerAscii(PercentDecoded(GetParam(sent, "pw")));
  // Without the page's script (or from a page of an older version, whose Enter key sent the
  // form as it stood) only the typed field comes, as the Shift_JIS page encodes it.
  if (pw.empty()) return PercentDecoded(GetParam(sent, "passwd")) == storedPassword;
  if (HexDecode(pw) == storedPassword) return true;
  // The browser sends the code of each character, not its Shift_JIS bytes, so a password with
  // characters outside 0x10-0x7F can only match in that form.
  return !storedPassword.empty() && BrowserFormMatches(pw, storedPassword);
}

std::string MakeLoginPage(const TStateSnapshot&, const std::string&, const std::string& pageFile,
                   const std::string& variant, long long waitSeconds) {
  std::vector<std::string> body;
  if (variant == kWrongPasswordVariant) {
    body.push_back("<font color=\"red\" size=\"+1\"><b>" + texts::WrongPassword() +
                   "</b></font><br>");
  } else if (variant == kCodeRefusedVariant) {
    body.push_back("<font color=\"red\" size=\"+1\"><b>" + texts::CodeRefused() +
                   "</b></font><br>");
  }
  // Posted, so that the password lands in no address and no history; the submit handler (the
  // button and the Enter key alike) turns it into the hex field first.
  const std::vector<std::string> form = {
      "<form name=\"mform\" action=\"login.html\" method=\"POST\" "
      "onsubmit=\"return cmd_go()\">",
      "<input type=\"hidden\" name=\"pw\" value=\"\">",
      "<b style=\"font-size:15pt\">Password:</b><input type=\"password\" name=\"passwd\" "
      "value=\"\" size=30  style=\"font-size:15pt\">",
      "<input type=\"submit\" value=\"LOGIN\" style=\"font-size:15pt\">",
      "<input type=\"hidden\" name=\"tt\" value=\"" + RequestStamp() + "\">",
      "</form>",
  };
  body.insert(body.end(), form.begin(), form.end());
  const std::vector<std::string> script = {
      "function cmd_go()",
      "{",
      "   mform.pw.value=str2hex(mform.passwd.value);",
      "   mform.passwd.value=\"\";",
      "   return true;",
      "}",
      "function str2hex(sval){",
      "\tvar hexStr= \"\";",
      "\tfor ( var i=0; i<sval.length; i++ ) {",
      "      hexStr += sval.charCodeAt(i).toString(16).toUpperCase();",
      "\t}",
      "\treturn hexStr;",
      "}",
  };
  // The style sheet and the page script, which puts the focus into the field, speaks the
  // browser's language and says how long a check will wait.
  std::vector<std::string> head = {kViewportLine, kLoginStyleSheetLine,
                                   PageScriptLine("login", "vm-script")};
  if (waitSeconds > 0) {
    head.push_back("<meta name=\"velmarind-wait\" content=\"" + std::to_string(waitSeconds) + "\">");
  }
  return WritePlainPage(pageFile, head, body, script);
}

std::string MakeLoginDonePage(const TStateSnapshot& state, const std::string&,
                       const std::string& pageFile) {
  const std::string& baseUrl = state.Settings.BaseURL;
  // Relative: the base URL names the LAN address, where a browser that came by another address
  // (127.0.0.1, a host name) would be another client and meet the login form again.
  const std::string target = "index.html?tt=" + RequestStamp();
  return WritePageFile(
      pageFile,
      {
          "<HTML>",
          "<HEAD>",
          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
          "<meta http-equiv=\"Refresh\" content=\"0; url=" + target + "\">",
          "<TITLE>Velmarind</TITLE>",
          "</HEAD>",
          "<BODY>",
          "<center><h1>Velmarind</h1></center><hr>",
          "<font color=\"green\" size=\"+1\"><b>" + texts::LoginDone() + "</b></font><br>",
          "<p><a href=\"" + target + "\">" + baseUrl + "</a></p>",
          "</BODY>",
          "</HTML>",
      });
}

}  // namespace vm
